// The ranking and the diff as text: a table for people (terminal) and
// tab-separated lines for scripts.
#pragma once

#include "ranker/columns.h"
#include "ranker/diff.h"
#include "ranker/ranking.h"
#include "ranker/text_output.h"

#include <cstddef>

// Narrowest room the table leaves for a text, whatever the width.
constexpr std::size_t TEXT_COLUMNS_MIN = 20;

// A summary line, a header, then two lines per group: the numbers of
// ranking_columns and the normalised text; below the text, the first
// member's statement (after "SOURCE:LINE: " with metadata). With `columns`
// > 0 the texts are cut so that no line is wider (but they keep
// TEXT_COLUMNS_MIN columns; see out_terminal_text); 0 leaves them whole,
// except that a text litrank kept only in part ends in " ... (N bytes)"
// with its whole length. Missing costs show as "-".
void write_table(OutBuffer* out, const Ranking& ranking, const Percentiles* percentiles,
                 const RunFacts& facts, std::size_t columns);

// A header line, then one line per group with the fields of
// ranking_columns (share in percent, milliseconds with three decimals,
// empty when missing), with metadata source and line, then
// normalised_text and statement (folded_normalised_text with folding);
// texts escaped as out_tsv_text does, and a text kept only in part ends in
// " ... (N bytes)".
void write_tsv(OutBuffer* out, const Ranking& ranking, const Percentiles* percentiles,
               const RunFacts& facts);

// The diff: a summary line, then per section (new, gone, grew, shrank) a
// heading and its groups as write_table lists them, with diff_columns.
void write_diff_table(OutBuffer* out, const Diff& diff, const RunFacts& facts, std::size_t columns);

// A header line, then one line per listed group: section, rank in it, the
// fields of diff_columns, normalised_text and statement.
void write_diff_tsv(OutBuffer* out, const Diff& diff, const RunFacts& facts);

// The summary sentence of a ranking or of a diff, as the table's first line
// and the page's summary show it (no line end).
void write_summary(OutBuffer* out, const Ranking* ranking, const Diff* diff, const RunFacts& facts);
