// What litrank keeps while the input is read, beside litsieve's own tables,
// and the order in which it shows the groups.
//
// litrank files every record with litsieve's process_statement, so group
// numbers, sizes and first members are litsieve's to the byte. Per group it
// adds three things litsieve has no use for: the statement bytes of all its
// records, the first member's statement text (cut to EXAMPLE_TEXT_MAX bytes),
// and, for the groups it shows only, the normalised text, made again from
// the kept first statement or read back from the dictionary after the input
// is done (recover_normalized_texts).
#pragma once

#include "analyzer/record_reader.h"
#include "analyzer/statement_groups.h"

#include <cstddef>
#include <cstdint>

// Bytes kept of a group's first statement. Enough for a readable example;
// the whole length is kept beside it so that a cut text can say so.
constexpr std::size_t EXAMPLE_TEXT_MAX = 1024;

// Bytes kept of a shown group's normalised text.
constexpr std::size_t NORMALIZED_TEXT_MAX = 4096;

// Records between two calls of rank_progress.
constexpr std::int64_t PROGRESS_EVERY = 4096;

// Per group, at the index of its number (as in group_table). Texts live in
// an arena that is kept until the process ends (reset_ranking frees it for
// tests); they are not NUL-terminated and may hold any byte.
struct GroupExtra {
    std::int64_t bytes;             // statement bytes of all its records (their text lengths)
    const char* example;            // first member's statement, example_length bytes
    std::int32_t example_length;    // bytes kept, at most EXAMPLE_TEXT_MAX
    std::int32_t example_full;      // the first member's whole text length
    const char* normalized;         // normalised text once recovered, else null
    std::int32_t normalized_length; // bytes kept, at most NORMALIZED_TEXT_MAX
    std::int32_t normalized_full;   // the whole normalised text's length
    std::int32_t shown;             // place in the ranking shown (0 = first), -1 if not shown
};

struct RankTotals {
    std::int64_t records;    // records read
    std::int64_t bytes;      // statement bytes of all records
    std::int64_t file_bytes; // bytes of the record file consumed (headers included)
};

extern GroupExtra* group_extra; // indexed by group number; slots 0 and 1 unused
extern RankTotals rank_totals;

// Called every PROGRESS_EVERY records with rank_totals up to date; null for
// none. Set by the driver when standard error is a terminal.
extern void (*rank_progress)();

// The read_records handler of litrank: process_statement, then the extras.
void rank_record(const StatementRecord& record);

// Number of groups filed so far.
inline std::int32_t group_count() {
    return group_table.last - 1;
}

enum RankKey { RANK_BY_SIZE, RANK_BY_BYTES };

// Group numbers, best first: by size (or by bytes, then size), ties broken
// by the earlier group. `count` 0 means every group.
struct Ranking {
    std::int32_t* numbers; // owned; free with release_ranking
    std::int32_t count;
    RankKey key;
};
Ranking rank_groups(RankKey key, std::int32_t count);
void release_ranking(Ranking* ranking);

// Fills `normalized` of the ranked groups. A group whose first statement is
// kept whole gets it normalised again (the same parse as when it was read);
// the others are found in one visit of the dictionary's texts (visit_texts),
// which holds every normalised text whole but costs a pass over all of them.
// Returns the number of texts the visit found.
std::int32_t recover_normalized_texts(const Ranking& ranking);

// Share of `part` in `whole` in hundredths of a percent, rounded (0 when
// whole is 0).
std::int64_t share_basis_points(std::int64_t part, std::int64_t whole);

// Empties everything above and litsieve's tables. For tests.
void reset_ranking();
