// What litrank keeps while its inputs are read, beside the grouping tables,
// and the order in which it shows the groups.
//
// Every record goes to its group through file_statement: litsieve's own
// process_statement, so that group numbers, sizes and first members are
// litsieve's to the byte, or, with folding (ranker/folding.h), the same
// parse with the normalised text folded before it is interned. Per group
// litrank then counts what it shows: the records that pass the record
// filters (all of them without filters), their statement bytes, the first
// such record's statement text (cut to EXAMPLE_TEXT_MAX bytes), with a
// metadata file their durations and the first member's source and line,
// and, for the groups it shows only, the normalised text, made again from
// the kept first statement or read back from the dictionary after the input
// is done (recover_normalised_texts).
//
// With --diff a second workload (BEFORE) is read after INPUT into the same
// dictionary, so that equal normalised texts are one group: INPUT's groups
// keep their numbers, a text only BEFORE has gets a number after them.
#pragma once

#include "analyzer/record_reader.h"
#include "analyzer/statement_groups.h"
#include "analyzer/statement_pipeline.h"

#include <cstddef>
#include <cstdint>

// Bytes kept of a group's first statement. Enough for a readable example;
// the whole length is kept beside it so that a cut text can say so.
constexpr std::size_t EXAMPLE_TEXT_MAX = 1024;

// Bytes kept of a shown group's normalised text.
constexpr std::size_t NORMALISED_TEXT_MAX = 4096;

// Bytes kept of a group's first member's source name.
constexpr std::size_t SOURCE_TEXT_MAX = 512;

// Records between two calls of rank_progress.
constexpr std::int64_t PROGRESS_EVERY = 4096;

// Which workload a record belongs to.
enum Workload { AFTER, BEFORE };

// Per group, at the index of its number. Texts live in an arena that is
// kept until the process ends (reset_ranking frees it for tests); they are
// not NUL-terminated and may hold any byte. The counts are INPUT's (the
// "after" of a diff); a group that only BEFORE has takes its texts and first
// member from BEFORE.
struct GroupExtra {
    std::int64_t bytes;             // statement bytes of its counted records
    const char* example;            // first counted member's statement, example_length bytes
    const char* normalised;         // normalised text once recovered, else null
    std::int32_t example_length;    // bytes kept, at most EXAMPLE_TEXT_MAX
    std::int32_t example_full;      // the first member's whole text length
    std::int32_t normalised_length; // bytes kept, at most NORMALISED_TEXT_MAX
    std::int32_t normalised_full;   // the whole normalised text's length
    std::int32_t size;              // counted records (all of the group's without filters)
    std::int32_t first_id;          // id of the first counted member (valid once it has one)
    std::int32_t shown;             // place in the ranking shown (0 = first), -1 if not shown
    bool has_example;               // example and first_id are set
    bool excluded;                  // its normalised text fails --match / --exclude
};

// Per group, with a metadata file only. A duration is kept in microseconds:
// the logs give at most that precision, and an int64 holds 292,000 years.
struct GroupCost {
    std::int64_t total_us; // sum of the counted records' durations
    std::int64_t max_us;   // longest of them; 0 while none
    std::int64_t line;     // first member's line in its source (0: none given)
    std::int32_t timed;    // counted records that have a duration
    std::int32_t source;   // first member's source: index in the source table, -1 if none
};

// Per group, with --diff only: BEFORE's counts, as GroupExtra and GroupCost
// count INPUT's.
struct GroupBefore {
    std::int64_t bytes;
    std::int64_t total_us;
    std::int32_t size;
    std::int32_t timed;
};

struct WorkloadTotals {
    std::int64_t records_read; // records in the file
    std::int64_t records;      // records counted (those the record filters pass)
    std::int64_t bytes;        // statement bytes of the counted records
    std::int64_t timed;        // counted records with a duration
    std::int64_t total_us;     // their durations
};

struct RankTotals {
    WorkloadTotals after;    // INPUT
    WorkloadTotals before;   // BEFORE, with --diff
    std::int64_t file_bytes; // bytes of the file being read consumed (headers included)
    std::int32_t groups;     // groups ranked: counted records, not excluded (set by ranking)
};

// A record's metadata, as the record filters and the cost see it; null
// texts when the field is empty or there is no metadata file.
struct RecordMeta {
    std::int64_t duration_us; // -1: no duration
    const char* source;       // source name, source_length bytes
    std::size_t source_length;
    std::int64_t line;
    const char* user;
    std::size_t user_length;
    const char* database;
    std::size_t database_length;
};

extern GroupExtra* group_extra;   // indexed by group number; slots 0 and 1 unused
extern GroupCost* group_cost;     // the same, with a metadata file; else null
extern GroupBefore* group_before; // the same, with --diff; else null
extern RankTotals rank_totals;

// Called every PROGRESS_EVERY records with rank_totals up to date; null for
// none. Set by the driver when standard error is a terminal.
extern void (*rank_progress)();

// Folding of the normalised text before it is interned (FOLD_* flags of
// ranker/folding.h); 0, litsieve's grouping, unless the driver sets it
// before the first record.
extern unsigned rank_folding;

// Costs are counted: set by the driver before the first record when INPUT
// has a metadata file. Per-record durations are then kept for percentiles.
extern bool rank_costs;

// BEFORE is read too (group_before is kept): set by the driver before the
// first record with --diff.
extern bool rank_diff;

// Whether a record is counted, from its metadata; null counts every record.
// Set by the driver when record filters are given.
extern bool (*rank_select)(const RecordMeta& meta);

// The group of a record whose statement the statement pipeline has
// normalised: its number (2, 3, ...), a new group getting the next one.
// Without folding through litsieve's file_statement (record list, group
// table, dictionary), so that a REPORT can be checked; with folding the
// folded text is interned directly, and litsieve's tables are not kept;
// BEFORE's records are interned directly too, after the REPORT check. The
// one place where records meet the grouping.
std::int32_t file_statement(const NormalizedRecord& record, Workload workload);

// The consumers of the statement pipeline: file the record, then count it
// into the workload's figures. `meta` is the record's metadata (null: none).
void rank_record(const NormalizedRecord& record, const RecordMeta* meta);
void rank_before_record(const NormalizedRecord& record, const RecordMeta* meta);

// The same for a record whose statement is not normalised yet (its text
// NUL-terminated), normalised here: for tests and single records.
void rank_record(const StatementRecord& record, const RecordMeta* meta);
void rank_before_record(const StatementRecord& record, const RecordMeta* meta);

// Groups filed so far, in both workloads.
std::int32_t group_count();

// Sources named by first members, in the order first seen.
struct SourceName {
    const char* text;
    std::int32_t length; // bytes kept, at most SOURCE_TEXT_MAX
    std::int32_t full;   // the whole name's length
};
const SourceName& source_name(std::int32_t index);

// What a ranking is ordered by, best first; ties go to the larger group,
// then to the earlier group.
enum RankKey {
    RANK_BY_SIZE,  // counted records
    RANK_BY_BYTES, // their statement bytes
    RANK_BY_TIME,  // their total duration
    RANK_BY_MEAN,  // their mean duration (groups without durations last)
};
const char* rank_key_name(RankKey key); // "size", "bytes", "time", "mean"

// Group numbers, best first, of the groups that have counted records and
// pass the text filters. `count` 0 means every such group.
struct Ranking {
    std::int32_t* numbers; // owned; free with release_ranking
    std::int32_t count;
    RankKey key;
};
Ranking rank_groups(RankKey key, std::int32_t count);
void release_ranking(Ranking* ranking);

// A group's value for `key` in INPUT (or, with `before`, in BEFORE) in the
// unit shown: records, bytes or microseconds. A mean is rounded to the
// nearest microsecond; -1 when the group has no duration.
std::int64_t key_value(RankKey key, std::int32_t number, bool before = false);

// Percentiles of the shown groups' durations, by nearest rank: the p-th
// percentile of n sorted durations is the ceil(p * n / 100)-th smallest.
struct Percentiles {
    std::int64_t p50_us;
    std::int64_t p95_us;
};
// Computed for the groups of `ranking` (every group that has shown >= 0),
// from the durations kept per record; indexed by place in the ranking.
// Owned; free with release.
Percentiles* shown_percentiles(const Ranking& ranking);

// Nearest-rank percentile of `sorted` (ascending, n > 0).
std::int64_t nearest_rank(const std::int64_t* sorted, std::int32_t n, int percent);

// Fills `normalised` of the groups that have shown >= 0. A group whose
// first statement is kept whole gets it normalised (and folded) again; the
// others are found in one visit of the dictionary's texts (visit_texts),
// which holds every normalised text whole but costs a pass over all of them.
// Returns the number of texts the visit found.
std::int32_t recover_normalised_texts();

// Marks as excluded every group whose normalised text `keep` refuses; one
// visit of the dictionary's texts. `keep` gets a NUL-terminated text.
void exclude_groups(bool (*keep)(const char* text, std::size_t length));

// Share of `part` in `whole` in hundredths of a percent, rounded (0 when
// whole is 0).
std::int64_t share_basis_points(std::int64_t part, std::int64_t whole);

// Empties everything above and litsieve's tables. For tests.
void reset_ranking();
