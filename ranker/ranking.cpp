#include "ranker/ranking.h"

#include "normaliser/lexer.h"
#include "normaliser/parser.h"
#include "platform/allocation.h"
#include "ranker/folding.h"
#include "ranker/text_output.h"

#include <algorithm>
#include <cstring>

GroupExtra* group_extra = nullptr;
GroupCost* group_cost = nullptr;
GroupBefore* group_before = nullptr;
RankTotals rank_totals = {};
void (*rank_progress)() = nullptr;
unsigned rank_folding = 0;
bool rank_costs = false;
bool rank_diff = false;
bool (*rank_select)(const RecordMeta& meta) = nullptr;

namespace {

// Slots allocated in the per-group arrays, and the highest slot set up.
std::int32_t extra_capacity = 0;
std::int32_t groups_ready = 1;

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

template <typename T> void grow_array(T** array, std::int64_t capacity) {
    if (*array == nullptr && capacity > 0) {
        *array = static_cast<T*>(checked_realloc(
            nullptr, static_cast<std::size_t>(capacity) * sizeof(T), NOT_ENOUGH_MEMORY));
        return;
    }
    *array = static_cast<T*>(
        checked_realloc(*array, static_cast<std::size_t>(capacity) * sizeof(T), NOT_ENOUGH_MEMORY));
}

// Makes slots up to `number` ready: groups are numbered consecutively, so a
// number beyond groups_ready is a new group (or several, for a group whose
// records were all in the other workload).
void reserve_groups(std::int32_t number) {
    if (number <= groups_ready) return;
    if (number >= extra_capacity) {
        std::int64_t capacity = extra_capacity < 64 ? 64 : extra_capacity;
        while (capacity <= number) capacity += capacity / 2;
        if (capacity > INT32_MAX) capacity = INT32_MAX;
        grow_array(&group_extra, capacity);
        if (rank_costs) grow_array(&group_cost, capacity);
        if (rank_diff) grow_array(&group_before, capacity);
        extra_capacity = static_cast<std::int32_t>(capacity);
    }
    for (std::int32_t n = groups_ready + 1; n <= number; ++n) {
        GroupExtra* extra = &group_extra[n];
        std::memset(extra, 0, sizeof *extra);
        extra->shown = -1;
        if (group_cost != nullptr) group_cost[n] = {0, 0, 0, 0, -1};
        if (group_before != nullptr) group_before[n] = {0, 0, 0, 0};
    }
    groups_ready = number;
}

// The durations of INPUT's counted records, in input order, with their
// groups: two parallel arrays, 12 bytes a record, read once for the
// percentiles of the groups shown.
struct DurationList {
    std::int32_t* groups;
    std::int64_t* durations_us;
    std::int64_t count;
    std::int64_t capacity;
};
DurationList kept_durations = {nullptr, nullptr, 0, 0};

void keep_duration(std::int32_t number, std::int64_t us) {
    DurationList& d = kept_durations;
    if (d.count == d.capacity) {
        d.capacity = d.capacity < 4096 ? 4096 : d.capacity + d.capacity / 2;
        grow_array(&d.groups, d.capacity);
        grow_array(&d.durations_us, d.capacity);
    }
    d.groups[d.count] = number;
    d.durations_us[d.count] = us;
    ++d.count;
}

// Sources of first members. Records come from their sources in runs, so a
// name equal to the last one kept is kept once.
SourceName* sources = nullptr;
std::int32_t source_count = 0;
std::int32_t source_capacity = 0;

std::int32_t keep_source(const char* text, std::size_t length) {
    if (text == nullptr) return -1;
    if (source_count > 0) {
        const SourceName& last = sources[source_count - 1];
        if (static_cast<std::size_t>(last.full) == length &&
            static_cast<std::size_t>(last.length) == length &&
            std::memcmp(last.text, text, length) == 0) {
            return source_count - 1;
        }
    }
    if (source_count == source_capacity) {
        source_capacity = source_capacity < 16 ? 16 : source_capacity + source_capacity / 2;
        grow_array(&sources, source_capacity);
    }
    std::size_t kept = utf8_cut(text, length, SOURCE_TEXT_MAX);
    sources[source_count] = {arena_copy(text, kept), static_cast<std::int32_t>(kept),
                             static_cast<std::int32_t>(length)};
    return source_count++;
}

FoldBuffer fold_buffer = {nullptr, 0};

void take_example(GroupExtra* extra, const NormalizedRecord& record) {
    std::size_t length = static_cast<std::size_t>(record.length);
    std::size_t kept = utf8_cut(record.text, length, EXAMPLE_TEXT_MAX);
    extra->example = arena_copy(record.text, kept);
    extra->example_length = static_cast<std::int32_t>(kept);
    extra->example_full = record.length;
    extra->first_id = record.id;
    extra->has_example = true;
}

// Sums of durations stop at the largest value rather than wrap: a duration
// is below 10^18 microseconds, but enough of them would pass 2^63.
inline void add_duration(std::int64_t* total, std::int64_t us) {
    *total = *total > INT64_MAX - us ? INT64_MAX : *total + us;
}

// Counts a record read (its 8-byte header and text) for the progress line.
void count_read(WorkloadTotals* totals, const NormalizedRecord& record) {
    ++totals->records_read;
    rank_totals.file_bytes += 8 + std::int64_t{record.length};
    std::int64_t read = rank_totals.after.records_read + rank_totals.before.records_read;
    if (read % PROGRESS_EVERY == 0 && rank_progress != nullptr) rank_progress();
}

const RecordMeta NO_META = {-1, nullptr, 0, 0, nullptr, 0, nullptr, 0};

} // namespace

std::int32_t file_statement(const NormalizedRecord& record, Workload workload) {
    if (rank_folding == 0 && workload == AFTER) {
        file_statement(record.id, record.normalized, record.normalized_length);
        return record_list.base[record_list.last].group;
    }
    std::size_t length =
        fold_text(reinterpret_cast<const char*>(record.normalized), record.normalized_length,
                  rank_folding, &fold_buffer);
    std::int32_t r =
        intern_bytes(dictionary, reinterpret_cast<const unsigned char*>(fold_buffer.data), length);
    return r < 0 ? -r : r;
}

/*
 * 1. File the record; a new group gets its slots.
 * 2. A record the filters refuse counts only as read.
 * 3. The group's first counted record gives its example, first id, source
 *    and line.
 * 4. Count the record's bytes and duration into its group and the totals;
 *    keep the duration for the percentiles.
 */
void rank_record(const NormalizedRecord& record, const RecordMeta* meta) {
    std::int32_t number = file_statement(record, AFTER); // 1.
    reserve_groups(number);
    count_read(&rank_totals.after, record);
    if (meta == nullptr) meta = &NO_META;
    if (rank_select != nullptr && !rank_select(*meta)) return; // 2.
    GroupExtra* extra = &group_extra[number];
    if (!extra->has_example) { // 3.
        take_example(extra, record);
        if (group_cost != nullptr) {
            group_cost[number].source = keep_source(meta->source, meta->source_length);
            group_cost[number].line = meta->line;
        }
    }
    ++extra->size; // 4.
    extra->bytes += record.length;
    WorkloadTotals& totals = rank_totals.after;
    ++totals.records;
    totals.bytes += record.length;
    if (group_cost != nullptr && meta->duration_us >= 0) {
        GroupCost* cost = &group_cost[number];
        add_duration(&cost->total_us, meta->duration_us);
        if (meta->duration_us > cost->max_us) cost->max_us = meta->duration_us;
        ++cost->timed;
        ++totals.timed;
        add_duration(&totals.total_us, meta->duration_us);
        keep_duration(number, meta->duration_us);
    }
}

void rank_before_record(const NormalizedRecord& record, const RecordMeta* meta) {
    std::int32_t number = file_statement(record, BEFORE);
    reserve_groups(number);
    count_read(&rank_totals.before, record);
    if (meta == nullptr) meta = &NO_META;
    if (rank_select != nullptr && !rank_select(*meta)) return;
    GroupExtra* extra = &group_extra[number];
    if (!extra->has_example) {
        take_example(extra, record);
        if (group_cost != nullptr) {
            group_cost[number].source = keep_source(meta->source, meta->source_length);
            group_cost[number].line = meta->line;
        }
    }
    GroupBefore* before = &group_before[number];
    ++before->size;
    before->bytes += record.length;
    WorkloadTotals& totals = rank_totals.before;
    ++totals.records;
    totals.bytes += record.length;
    if (meta->duration_us >= 0) {
        add_duration(&before->total_us, meta->duration_us);
        ++before->timed;
        ++totals.timed;
        add_duration(&totals.total_us, meta->duration_us);
    }
}

namespace {

// The record's statement normalised here, as the pipeline would have, for
// `consume`.
template <typename Consume> void normalise_record(const StatementRecord& record, Consume consume) {
    input_cursor = record.text;
    parse_statement();
    NormalizedRecord normalized = {record.id, record.length, record.text,
                                   reinterpret_cast<const unsigned char*>(normalized_text),
                                   normalized_length};
    consume(normalized);
    release_normalized_text();
}

} // namespace

void rank_record(const StatementRecord& record, const RecordMeta* meta) {
    normalise_record(record, [meta](const NormalizedRecord& r) { rank_record(r, meta); });
}

void rank_before_record(const StatementRecord& record, const RecordMeta* meta) {
    normalise_record(record, [meta](const NormalizedRecord& r) { rank_before_record(r, meta); });
}

std::int32_t group_count() {
    return dictionary == nullptr ? 0 : dictionary_last_id(dictionary) - 1;
}

const SourceName& source_name(std::int32_t index) {
    return sources[index];
}

const char* rank_key_name(RankKey key) {
    switch (key) {
    case RANK_BY_BYTES:
        return "bytes";
    case RANK_BY_TIME:
        return "time";
    case RANK_BY_MEAN:
        return "mean";
    default:
        return "size";
    }
}

namespace {

// a / b against c / d for a, c >= 0 and b, d > 0, exactly: a * d against
// c * b as 96-bit products (64 x 32 bits), high parts first.
int compare_ratios(std::uint64_t a, std::uint32_t b, std::uint64_t c, std::uint32_t d) {
    auto product = [](std::uint64_t x, std::uint32_t y, std::uint64_t* high, std::uint64_t* low) {
        std::uint64_t lo = (x & 0xFFFFFFFFu) * y;
        std::uint64_t hi = (x >> 32) * y + (lo >> 32);
        *high = hi;
        *low = lo & 0xFFFFFFFFu;
    };
    std::uint64_t h1, l1, h2, l2;
    product(a, d, &h1, &l1);
    product(c, b, &h2, &l2);
    if (h1 != h2) return h1 < h2 ? -1 : 1;
    if (l1 != l2) return l1 < l2 ? -1 : 1;
    return 0;
}

struct Counts {
    std::int64_t size;
    std::int64_t bytes;
    std::int64_t total_us;
    std::int64_t timed;
};

Counts counts_of(std::int32_t number, bool before) {
    if (before) {
        const GroupBefore& b = group_before[number];
        return {b.size, b.bytes, b.total_us, b.timed};
    }
    const GroupExtra& e = group_extra[number];
    if (group_cost == nullptr) return {e.size, e.bytes, 0, 0};
    const GroupCost& c = group_cost[number];
    return {e.size, e.bytes, c.total_us, c.timed};
}

// Whether group a goes before group b under `key`.
bool ranks_before(RankKey key, std::int32_t a, std::int32_t b) {
    Counts x = counts_of(a, false);
    Counts y = counts_of(b, false);
    switch (key) {
    case RANK_BY_BYTES:
        if (x.bytes != y.bytes) return x.bytes > y.bytes;
        break;
    case RANK_BY_TIME:
        if (x.total_us != y.total_us) return x.total_us > y.total_us;
        break;
    case RANK_BY_MEAN:
        if ((x.timed > 0) != (y.timed > 0)) return x.timed > 0;
        if (x.timed > 0) {
            int c = compare_ratios(
                static_cast<std::uint64_t>(x.total_us), static_cast<std::uint32_t>(x.timed),
                static_cast<std::uint64_t>(y.total_us), static_cast<std::uint32_t>(y.timed));
            if (c != 0) return c > 0;
        }
        break;
    default:
        break;
    }
    if (x.size != y.size) return x.size > y.size;
    return a < b;
}

} // namespace

std::int64_t key_value(RankKey key, std::int32_t number, bool before) {
    Counts c = counts_of(number, before);
    switch (key) {
    case RANK_BY_BYTES:
        return c.bytes;
    case RANK_BY_TIME:
        return c.total_us;
    case RANK_BY_MEAN:
        return c.timed > 0 ? (c.total_us + c.timed / 2) / c.timed : -1;
    default:
        return c.size;
    }
}

Ranking rank_groups(RankKey key, std::int32_t count) {
    std::int32_t groups = 0;
    std::int32_t last = groups_ready;
    Ranking ranking = {nullptr, 0, key};
    if (last < 2) {
        rank_totals.groups = 0;
        return ranking;
    }
    auto* all = static_cast<std::int32_t*>(checked_realloc(
        nullptr, static_cast<std::size_t>(last - 1) * sizeof(std::int32_t), NOT_ENOUGH_MEMORY));
    for (std::int32_t n = 2; n <= last; ++n) {
        if (group_extra[n].size > 0 && !group_extra[n].excluded) all[groups++] = n;
    }
    rank_totals.groups = groups;
    if (count <= 0 || count > groups) count = groups;
    std::partial_sort(all, all + count, all + groups,
                      [key](std::int32_t a, std::int32_t b) { return ranks_before(key, a, b); });
    for (std::int32_t i = 0; i < count; ++i) group_extra[all[i]].shown = i;
    ranking.numbers = all;
    ranking.count = count;
    return ranking;
}

void release_ranking(Ranking* ranking) {
    for (std::int32_t i = 0; i < ranking->count; ++i) group_extra[ranking->numbers[i]].shown = -1;
    release(ranking->numbers);
    ranking->numbers = nullptr;
    ranking->count = 0;
}

std::int64_t nearest_rank(const std::int64_t* sorted, std::int32_t n, int percent) {
    std::int64_t rank = (std::int64_t{n} * percent + 99) / 100; // ceil(p * n / 100)
    if (rank < 1) rank = 1;
    return sorted[rank - 1];
}

/*
 * 1. Room per shown group for its timed records, at offsets in place order.
 * 2. One pass over the kept durations drops each shown group's into its room.
 * 3. Each room sorted gives the group's percentiles.
 */
Percentiles* shown_percentiles(const Ranking& ranking) {
    std::int32_t shown = ranking.count;
    auto* result = static_cast<Percentiles*>(checked_realloc(
        nullptr, static_cast<std::size_t>(shown > 0 ? shown : 1) * sizeof(Percentiles),
        NOT_ENOUGH_MEMORY));
    if (shown == 0 || group_cost == nullptr) {
        for (std::int32_t i = 0; i < shown; ++i) result[i] = {-1, -1};
        return result;
    }
    auto* offset = static_cast<std::int64_t*>(checked_realloc(
        nullptr, static_cast<std::size_t>(shown + 1) * sizeof(std::int64_t), NOT_ENOUGH_MEMORY));
    offset[0] = 0; // 1.
    for (std::int32_t i = 0; i < shown; ++i) {
        offset[i + 1] = offset[i] + group_cost[ranking.numbers[i]].timed;
    }
    std::int64_t total = offset[shown];
    auto* room = static_cast<std::int64_t*>(checked_realloc(
        nullptr, static_cast<std::size_t>(total > 0 ? total : 1) * sizeof(std::int64_t),
        NOT_ENOUGH_MEMORY));
    auto* filled = static_cast<std::int64_t*>(checked_realloc(
        nullptr, static_cast<std::size_t>(shown) * sizeof(std::int64_t), NOT_ENOUGH_MEMORY));
    std::memcpy(filled, offset, static_cast<std::size_t>(shown) * sizeof(std::int64_t));
    const DurationList& d = kept_durations;
    for (std::int64_t k = 0; k < d.count; ++k) { // 2.
        std::int32_t place = group_extra[d.groups[k]].shown;
        if (place >= 0) room[filled[place]++] = d.durations_us[k];
    }
    for (std::int32_t i = 0; i < shown; ++i) { // 3.
        std::int64_t* first = room + offset[i];
        auto n = static_cast<std::int32_t>(offset[i + 1] - offset[i]);
        if (n == 0) {
            result[i] = {-1, -1};
            continue;
        }
        std::sort(first, first + n);
        result[i] = {nearest_rank(first, n, 50), nearest_rank(first, n, 95)};
    }
    release(filled);
    release(room);
    release(offset);
    return result;
}

namespace {

void keep_normalised(GroupExtra* extra, const char* text, std::size_t length) {
    std::size_t kept = utf8_cut(text, length, NORMALISED_TEXT_MAX);
    extra->normalised = arena_copy(text, kept);
    extra->normalised_length = static_cast<std::int32_t>(kept);
    extra->normalised_full = static_cast<std::int32_t>(length);
}

// What the visit of the dictionary looks for: the shown groups whose text
// is still missing.
struct Search {
    std::int32_t wanted;
};

bool text_found(void* context, const unsigned char* text, std::size_t length, std::int32_t id) {
    auto* search = static_cast<Search*>(context);
    if (id < 2 || id > groups_ready) return true;
    GroupExtra* extra = &group_extra[id];
    if (extra->shown < 0 || extra->normalised != nullptr) return true;
    keep_normalised(extra, reinterpret_cast<const char*>(text), length);
    return --search->wanted > 0;
}

// The first statement, whole, parsed again as file_statement parsed it:
// NUL-terminated, so that a NUL inside ends it there too, and folded alike.
void normalise_again(GroupExtra* extra, char** buffer, std::size_t* capacity) {
    std::size_t length = static_cast<std::size_t>(extra->example_length);
    if (*capacity < length + 1) {
        *capacity = length + 1;
        *buffer = static_cast<char*>(checked_realloc(*buffer, *capacity, NOT_ENOUGH_MEMORY));
    }
    std::memcpy(*buffer, extra->example, length);
    (*buffer)[length] = '\0';
    input_cursor = *buffer;
    parse_statement(); // it parsed once, so it parses again: no fatal_error here
    std::size_t folded = fold_text(normalized_text, normalized_length, rank_folding, &fold_buffer);
    keep_normalised(extra, fold_buffer.data, folded);
    release_normalized_text();
}

} // namespace

// Groups whose first statement is kept whole are normalised again; the
// others are looked for in one visit of the dictionary, which stops as soon
// as every shown group has its text.
std::int32_t recover_normalised_texts() {
    Search search = {0};
    char* buffer = nullptr;
    std::size_t capacity = 0;
    for (std::int32_t n = 2; n <= groups_ready; ++n) {
        GroupExtra* extra = &group_extra[n];
        if (extra->shown < 0 || extra->normalised != nullptr) continue;
        if (extra->has_example && extra->example_length == extra->example_full) {
            normalise_again(extra, &buffer, &capacity);
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

namespace {

struct Exclusion {
    bool (*keep)(const char* text, std::size_t length);
    char* buffer;
    std::size_t capacity;
};

bool judge_text(void* context, const unsigned char* text, std::size_t length, std::int32_t id) {
    auto* e = static_cast<Exclusion*>(context);
    if (id < 2 || id > groups_ready) return true;
    if (e->capacity < length + 1) {
        e->capacity = length + 1 > 4096 ? length + 1 : 4096;
        e->buffer = static_cast<char*>(checked_realloc(e->buffer, e->capacity, NOT_ENOUGH_MEMORY));
    }
    std::memcpy(e->buffer, text, length);
    e->buffer[length] = '\0';
    group_extra[id].excluded = !e->keep(e->buffer, length);
    return true;
}

} // namespace

void exclude_groups(bool (*keep)(const char* text, std::size_t length)) {
    if (dictionary == nullptr || groups_ready < 2) return;
    Exclusion e = {keep, nullptr, 0};
    visit_texts(dictionary, judge_text, &e);
    release(e.buffer);
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
    release(group_cost);
    release(group_before);
    group_extra = nullptr;
    group_cost = nullptr;
    group_before = nullptr;
    extra_capacity = 0;
    groups_ready = 1;
    release(kept_durations.groups);
    release(kept_durations.durations_us);
    kept_durations = {nullptr, nullptr, 0, 0};
    release(sources);
    sources = nullptr;
    source_count = 0;
    source_capacity = 0;
    release(fold_buffer.data);
    fold_buffer = {nullptr, 0};
    rank_totals = {};
    rank_progress = nullptr;
    rank_folding = 0;
    rank_costs = false;
    rank_diff = false;
    rank_select = nullptr;
    reset_statement_groups();
}
