#include "ranker/diff.h"

#include "platform/allocation.h"

#include <algorithm>

const char* const SECTION_NAMES[SECTIONS] = {"new", "gone", "grew", "shrank"};

std::int64_t mean_us(std::int64_t total_us, std::int64_t timed) {
    return timed > 0 ? (total_us + timed / 2) / timed : -1;
}

namespace {

// The measure of a side; a mean without durations counts as 0, so that a
// group gains or loses its durations like any other change.
std::int64_t measure(RankKey key, std::int32_t number, bool before) {
    std::int64_t v = key_value(key, number, before);
    return v < 0 ? 0 : v;
}

// How far up the group goes in its section.
std::int64_t weight(SectionKind section, RankKey key, std::int32_t number) {
    switch (section) {
    case SECTION_NEW:
        return measure(key, number, false);
    case SECTION_GONE:
        return measure(key, number, true);
    case SECTION_GREW:
        return measure(key, number, false) - measure(key, number, true);
    default:
        return measure(key, number, true) - measure(key, number, false);
    }
}

} // namespace

Diff diff_groups(RankKey key, std::int32_t count, std::int32_t last_input_group) {
    Diff diff = {};
    diff.key = key;
    diff.last_input_group = last_input_group;
    std::int32_t last = group_count() + 1;
    std::int32_t room = last > 1 ? last - 1 : 1;
    for (DiffSection& s : diff.sections) {
        s.numbers = static_cast<std::int32_t*>(checked_realloc(
            nullptr, static_cast<std::size_t>(room) * sizeof(std::int32_t), NOT_ENOUGH_MEMORY));
    }
    for (std::int32_t n = 2; n <= last; ++n) {
        const GroupExtra& extra = group_extra[n];
        if (extra.excluded) continue;
        std::int32_t after = extra.size;
        std::int32_t before = group_before[n].size;
        SectionKind section;
        if (after > 0 && before == 0) {
            section = SECTION_NEW;
        } else if (after == 0 && before > 0) {
            section = SECTION_GONE;
        } else if (after == 0) {
            continue;
        } else {
            std::int64_t a = measure(key, n, false);
            std::int64_t b = measure(key, n, true);
            if (a == b) {
                ++diff.unchanged;
                continue;
            }
            section = a > b ? SECTION_GREW : SECTION_SHRANK;
        }
        DiffSection& s = diff.sections[section];
        s.numbers[s.total++] = n;
    }
    for (int k = 0; k < SECTIONS; ++k) {
        DiffSection& s = diff.sections[k];
        auto section = static_cast<SectionKind>(k);
        s.count = count <= 0 || count > s.total ? s.total : count;
        std::partial_sort(s.numbers, s.numbers + s.count, s.numbers + s.total,
                          [section, key](std::int32_t a, std::int32_t b) {
                              std::int64_t x = weight(section, key, a);
                              std::int64_t y = weight(section, key, b);
                              if (x != y) return x > y;
                              std::int32_t sa = group_extra[a].size;
                              std::int32_t sb = group_extra[b].size;
                              if (sa != sb) return sa > sb;
                              return a < b;
                          });
        for (std::int32_t i = 0; i < s.count; ++i) group_extra[s.numbers[i]].shown = i;
    }
    return diff;
}

void release_diff(Diff* diff) {
    for (DiffSection& s : diff->sections) {
        for (std::int32_t i = 0; i < s.count; ++i) group_extra[s.numbers[i]].shown = -1;
        release(s.numbers);
        s = {nullptr, 0, 0};
    }
}
