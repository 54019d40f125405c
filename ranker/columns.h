// The numeric columns every output of litrank shows, in one place: their
// titles (table and page), names (TSV header and JSON keys), kinds and
// values, for a ranking and for a diff. The table, the TSV lines, the JSON
// objects and the page's rows all take their numbers from here, so they
// cannot disagree.
#pragma once

#include "ranker/diff.h"
#include "ranker/ranking.h"

#include <cstddef>
#include <cstdint>

enum CellKind {
    CELL_COUNT,        // an integer
    CELL_SHARE,        // hundredths of a percent, shown as "41.50" (percent)
    CELL_MS,           // microseconds, shown as milliseconds "12.345"
    CELL_COUNT_CHANGE, // as CELL_COUNT with a sign: "+3", "-2", "0"
    CELL_SHARE_CHANGE, // as CELL_SHARE with a sign
    CELL_MS_CHANGE,    // as CELL_MS with a sign
};

struct Column {
    const char* title; // for people: "total ms"
    const char* name;  // for scripts: "total_ms"
    CellKind kind;
};

// A value; `missing` for a cost without metadata or a duration, or a group
// number a gone group does not have.
struct Cell {
    std::int64_t value;
    bool missing;
};

// Longest formatted cell: a sign, 19 digits, a point.
constexpr std::size_t CELL_TEXT_MAX = 24;

// The cell as text (no unit, no "%"), NUL-terminated into `out` of
// CELL_TEXT_MAX bytes; `missing_text` for a missing cell. Returns the length.
std::size_t format_cell(CellKind kind, Cell cell, const char* missing_text, char* out);

// The ranking's columns: rank, group, size, share, bytes, first_id, and with
// `costs` total_ms, mean_ms, p50_ms, p95_ms, max_ms.
constexpr int RANKING_COLUMNS_MAX = 11;
constexpr int RANKING_COST_COLUMNS = 5;
int ranking_columns(bool costs, const Column** columns);

// The cells of the group at `place` of `ranking`; `percentiles` as
// shown_percentiles made them (null without costs).
void ranking_cells(const Ranking& ranking, const Percentiles* percentiles, std::int32_t place,
                   bool costs, Cell* cells);

// A diff's columns: group, size_before, size, size_change, share_before,
// share, share_change, and with `costs` total_ms_before, total_ms,
// total_ms_change, mean_ms_before, mean_ms, mean_ms_change.
constexpr int DIFF_COLUMNS_MAX = 13;
int diff_columns(bool costs, const Column** columns);
void diff_cells(const Diff& diff, std::int32_t number, bool costs, Cell* cells);

// What every output says about the run besides its rows.
struct RunFacts {
    const char* input;  // INPUT.rec as given
    const char* before; // BEFORE.rec with --diff, else null
    RankKey key;
    bool costs;       // INPUT has metadata (and, with --diff, BEFORE too)
    bool sources;     // INPUT has metadata: first members' sources are known
    unsigned folding; // FOLD_* flags
    bool filtered;    // record or text filters were given
};
