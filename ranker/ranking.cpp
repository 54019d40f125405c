#include "ranker/ranking.h"

#include "normaliser/lexer.h"
#include "normaliser/parser.h"
#include "platform/allocation.h"
#include "ranker/text_output.h"

#include <algorithm>
#include <cstring>

GroupExtra* group_extra = nullptr;
RankTotals rank_totals = {0, 0, 0};
void (*rank_progress)() = nullptr;

namespace {

std::int32_t extra_capacity = 0;

// Text arena: chunks chained through their first bytes, so that
// reset_ranking can free them; in litrank they live until the process ends.
constexpr std::size_t ARENA_CHUNK = 1 << 20;
struct ArenaChunk {
    ArenaChunk* previous;
    std::size_t used;
    std::size_t size;
};
ArenaChunk* arena = nullptr;

char* arena_copy(const char* text, std::size_t length) {
    if (arena == nullptr || arena->size - arena->used < length) {
        std::size_t size = length > ARENA_CHUNK ? length : ARENA_CHUNK;
        auto* chunk = static_cast<ArenaChunk*>(
            checked_realloc(nullptr, sizeof(ArenaChunk) + size, NOT_ENOUGH_MEMORY));
        chunk->previous = arena;
        chunk->used = 0;
        chunk->size = size;
        arena = chunk;
    }
    char* copy = reinterpret_cast<char*>(arena + 1) + arena->used;
    if (length > 0) std::memcpy(copy, text, length);
    arena->used += length;
    return copy;
}

void reserve_extras(std::int32_t number) {
    if (number < extra_capacity) return;
    std::int64_t capacity = extra_capacity < 64 ? 64 : extra_capacity;
    while (capacity <= number) capacity += capacity / 2;
    if (capacity > INT32_MAX) capacity = INT32_MAX;
    group_extra = static_cast<GroupExtra*>(checked_realloc(
        group_extra, static_cast<std::size_t>(capacity) * sizeof(GroupExtra), NOT_ENOUGH_MEMORY));
    extra_capacity = static_cast<std::int32_t>(capacity);
}

} // namespace

/*
 * 1. File the record as litsieve does.
 * 2. A group that is new now (group_table grew by it) gets its extras: no
 *    bytes yet and a copy of the start of this, its first, statement.
 * 3. Count the record's bytes into its group and the totals.
 */
void rank_record(const StatementRecord& record) {
    std::int32_t groups_before = group_table.last;
    process_statement(record.id, record.text); // 1.
    std::int32_t number = record_list.base[record_list.last].group;

    if (group_table.last != groups_before) { // 2.
        reserve_extras(number);
        GroupExtra* extra = &group_extra[number];
        std::size_t length = static_cast<std::size_t>(record.length);
        std::size_t kept = utf8_cut(record.text, length, EXAMPLE_TEXT_MAX);
        extra->bytes = 0;
        extra->example = arena_copy(record.text, kept);
        extra->example_length = static_cast<std::int32_t>(kept);
        extra->example_full = record.length;
        extra->normalized = nullptr;
        extra->normalized_length = 0;
        extra->normalized_full = 0;
        extra->shown = -1;
    }
    group_extra[number].bytes += record.length; // 3.
    rank_totals.bytes += record.length;
    rank_totals.file_bytes += 8 + std::int64_t{record.length};
    if (++rank_totals.records % PROGRESS_EVERY == 0 && rank_progress != nullptr) rank_progress();
}

Ranking rank_groups(RankKey key, std::int32_t count) {
    std::int32_t groups = group_count();
    if (count <= 0 || count > groups) count = groups;
    Ranking ranking = {nullptr, count, key};
    if (groups == 0) return ranking;
    auto* all = static_cast<std::int32_t*>(checked_realloc(
        nullptr, static_cast<std::size_t>(groups) * sizeof(std::int32_t), NOT_ENOUGH_MEMORY));
    for (std::int32_t i = 0; i < groups; ++i) all[i] = i + 2;
    auto better = [key](std::int32_t a, std::int32_t b) {
        if (key == RANK_BY_BYTES && group_extra[a].bytes != group_extra[b].bytes) {
            return group_extra[a].bytes > group_extra[b].bytes;
        }
        if (group_table.base[a].size != group_table.base[b].size) {
            return group_table.base[a].size > group_table.base[b].size;
        }
        return a < b;
    };
    std::partial_sort(all, all + count, all + groups, better);
    for (std::int32_t i = 0; i < count; ++i) group_extra[all[i]].shown = i;
    ranking.numbers = all;
    return ranking;
}

void release_ranking(Ranking* ranking) {
    for (std::int32_t i = 0; i < ranking->count; ++i) group_extra[ranking->numbers[i]].shown = -1;
    release(ranking->numbers);
    ranking->numbers = nullptr;
    ranking->count = 0;
}

namespace {

void keep_normalized(GroupExtra* extra, const char* text, std::size_t length) {
    std::size_t kept = utf8_cut(text, length, NORMALIZED_TEXT_MAX);
    extra->normalized = arena_copy(text, kept);
    extra->normalized_length = static_cast<std::int32_t>(kept);
    extra->normalized_full = static_cast<std::int32_t>(length);
}

// What the visit of the dictionary looks for: the ranked groups whose text
// is still missing.
struct Search {
    std::int32_t wanted;
};

bool text_found(void* context, const unsigned char* text, std::size_t length, std::int32_t id) {
    auto* search = static_cast<Search*>(context);
    if (id < 2 || id >= extra_capacity || id > group_table.last) return true;
    GroupExtra* extra = &group_extra[id];
    if (extra->shown < 0 || extra->normalized != nullptr) return true;
    keep_normalized(extra, reinterpret_cast<const char*>(text), length);
    return --search->wanted > 0;
}

// The first statement, whole, parsed again as process_statement parsed it:
// NUL-terminated, so that a NUL inside ends it there too.
void normalize_again(GroupExtra* extra, char** buffer, std::size_t* capacity) {
    std::size_t length = static_cast<std::size_t>(extra->example_length);
    if (*capacity < length + 1) {
        *capacity = length + 1;
        *buffer = static_cast<char*>(checked_realloc(*buffer, *capacity, NOT_ENOUGH_MEMORY));
    }
    std::memcpy(*buffer, extra->example, length);
    (*buffer)[length] = '\0';
    input_cursor = *buffer;
    parse_statement(); // it parsed once, so it parses again: no fatal_error here
    keep_normalized(extra, normalized_text, normalized_length);
    release_normalized_text();
}

} // namespace

// Groups whose first statement is kept whole are normalised again; the
// others are looked for in one visit of the dictionary, which stops as soon
// as every ranked group has its text.
std::int32_t recover_normalized_texts(const Ranking& ranking) {
    Search search = {0};
    char* buffer = nullptr;
    std::size_t capacity = 0;
    for (std::int32_t i = 0; i < ranking.count; ++i) {
        GroupExtra* extra = &group_extra[ranking.numbers[i]];
        if (extra->normalized != nullptr) continue;
        if (extra->example_length == extra->example_full) {
            normalize_again(extra, &buffer, &capacity);
        } else {
            ++search.wanted;
        }
    }
    release(buffer);
    std::int32_t wanted = search.wanted;
    if (wanted == 0 || dictionary == nullptr) return 0;
    visit_texts(dictionary, text_found, &search);
    return wanted - search.wanted;
}

std::int64_t share_basis_points(std::int64_t part, std::int64_t whole) {
    if (whole <= 0) return 0;
    // part <= whole < 2^63 / 10000 for any real input; round half up.
    return (part * 10000 + whole / 2) / whole;
}

void reset_ranking() {
    while (arena != nullptr) {
        ArenaChunk* previous = arena->previous;
        release(arena);
        arena = previous;
    }
    release(group_extra);
    group_extra = nullptr;
    extra_capacity = 0;
    rank_totals = {0, 0, 0};
    rank_progress = nullptr;
    reset_statement_groups();
}
