// The ranking as one self-contained HTML page: a summary, an inline SVG bar
// chart of the groups shown and a table that sorts by any column when its
// header is clicked. Nothing is fetched: no external scripts, styles, fonts
// or images, and the page's content security policy forbids any fetch.
//
// Every text from the input is written as escaped HTML text (out_html_text):
// it can never close an element, open one or reach the script. The script
// reads nothing but numbers from data-v attributes and the cells' text.
// When it has set up the sorting it sets data-ready="1" on <html>. The
// content security policy lets only that script and the page's own style
// run (by their SHA-256 digests): an inline handler or element that escaping
// missed would be refused too.
#pragma once

#include "ranker/ranking.h"
#include "ranker/text_output.h"

// Most bars the chart draws; a longer ranking is still listed whole in the
// table, and the chart's caption says how many it shows.
constexpr std::int32_t CHART_BARS_MAX = 100;

// Bytes of a normalised text written beside its bar.
constexpr std::size_t CHART_LABEL_MAX = 120;

void write_html(OutBuffer* out, const Ranking& ranking, const char* input_path);
