// The ranking as text: a table for people (terminal) and tab-separated
// lines for scripts.
#pragma once

#include "ranker/ranking.h"
#include "ranker/text_output.h"

#include <cstddef>

// Narrowest room the table leaves for a text, whatever the width.
constexpr std::size_t TEXT_COLUMNS_MIN = 20;

// A summary line, a header, then two lines per group: rank, group number as
// litsieve numbers it, size, share of all records, bytes, first member's id
// and the normalised text; below the text, the first member's statement.
// With `columns` > 0 the texts are cut so that no line is wider (but they
// keep TEXT_COLUMNS_MIN columns); 0 leaves them whole, except that a text
// litrank kept only in part ends in " ... (N bytes)" with its whole length.
void write_table(OutBuffer* out, const Ranking& ranking, const char* input_path,
                 std::size_t columns);

// A header line, then one line per group with the fields rank, group, size,
// share (percent, two decimals), bytes, first_id, normalized_text,
// statement, separated by tabs; texts escaped as out_tsv_text does, and a
// text kept only in part ends in " ... (N bytes)".
void write_tsv(OutBuffer* out, const Ranking& ranking);
