// The ranking (or the diff) as one self-contained HTML page: a summary, a
// bar chart by the chosen measure (for a diff, before and after side by
// side), a search box and a table that sorts by any column when its header
// is clicked. Nothing is fetched: no external scripts, styles, fonts or
// images, and the page's content security policy forbids any fetch.
//
// Size: at most PAGE_BARS_MAX bars and PAGE_ROWS_MAX rows, whatever -n says
// (the page then names the rest and points to --tsv and --json), and each
// text written to at most a fixed number of bytes of HTML, so that a page is
// under 5 MB for any input. Layout: the chart and the table are HTML laid
// out by the style sheet (a bar is an SVG rectangle of a percentage width),
// so text keeps its size from 600 px to 4K; labels take the room they need,
// long texts end in an ellipsis and show whole on hover (up to the kept
// bytes) or on a click; columns of less use give way on narrow windows.
//
// Every text from the input is written as escaped HTML text (out_html_text):
// it can never close an element, open one or reach the script. The script
// reads nothing but numbers from data-v attributes and the cells' text.
// When it has set up sorting and search it sets data-ready="1" on <html>.
// The content security policy lets only that script and the page's own
// style run (by their SHA-256 digests): an inline handler or element that
// escaping missed would be refused too.
#pragma once

#include "ranker/columns.h"
#include "ranker/diff.h"
#include "ranker/ranking.h"
#include "ranker/text_output.h"

constexpr std::int32_t PAGE_BARS_MAX = 100;
constexpr std::int32_t PAGE_ROWS_MAX = 2000;

// Most bytes of HTML a text takes: in a table cell, beside a bar, and in a
// bar's tooltip.
constexpr std::size_t PAGE_CELL_TEXT_MAX = 700;
constexpr std::size_t PAGE_CELL_STATEMENT_MAX = 400;
constexpr std::size_t PAGE_BAR_TEXT_MAX = 240;
constexpr std::size_t PAGE_BAR_TITLE_MAX = 1000;

void write_html(OutBuffer* out, const Ranking& ranking, const Percentiles* percentiles,
                const RunFacts& facts);
void write_diff_html(OutBuffer* out, const Diff& diff, const RunFacts& facts);
