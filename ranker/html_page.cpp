#include "ranker/html_page.h"

#include "ranker/content_hash.h"
#include "ranker/folding.h"
#include "ranker/listing.h"

#include "platform/allocation.h"

#include <algorithm>
#include <cstring>

namespace {

// clang-format off
const char PAGE_HEAD[] =
"<!DOCTYPE html>\n"
"<html lang=\"en\">\n"
"<head>\n"
"<meta charset=\"utf-8\">\n"
"<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";

// The text of the <style> and <script> elements: the policy names them by
// their digests, so a byte changed here changes the digest the page carries.
//
// Layout. The chart is a grid of four columns: label (as wide as the widest
// label: never clipped), bar, value, text (what is left, ellipsised); below
// 760 px the text column goes (the tooltip keeps it). The table keeps its
// table markup but is laid out as one flex row per group: number columns
// take the width their longest cell needs (rules per column, written with
// the page, see column_style), the text columns share the rest; columns of
// priority p2 go below 1100 px, p3 below 1500 px, so that nothing overflows
// at 600 px and the normalised text keeps room at any width. Rows out of
// view are not laid out (content-visibility): a table layout of 2,000 rows
// took most of a second on every sort, flex rows that are skipped take a
// few milliseconds.
const char PAGE_STYLE[] =
"\n"
"body{font:14px/1.4 system-ui,-apple-system,\"Segoe UI\",\"DejaVu Sans\",sans-serif;"
    "margin:1.5em 2em;color:#1d232b;background:#fff}\n"
"h1{font-size:1.4em;margin:0 0 .3em;overflow-wrap:anywhere}\n"
"p.summary,p.more{margin:0 0 1em;color:#46505c;overflow-wrap:anywhere}\n"
"figure{margin:0 0 1.5em}\n"
"figcaption{color:#46505c;margin-bottom:.4em}\n"
"ol.chart{list-style:none;margin:0;padding:0;display:grid;font-size:12px;align-items:center;"
    "grid-template-columns:max-content minmax(60px,3fr) max-content minmax(0,4fr);"
    "column-gap:.6em;row-gap:3px}\n"
"ol.chart li,ol.chart a{display:contents}\n"
"ol.chart a{color:inherit;text-decoration:none}\n"
".lab{text-align:right;white-space:nowrap;font-variant-numeric:tabular-nums}\n"
"svg.bar{display:block;width:100%;height:14px}\n"
"svg.bar rect{fill:#3d6fa8}\n"
"svg.bar rect.before{fill:#b9c3cf}\n"
"ol.chart a:hover rect.bar,ol.chart a:focus rect.bar,ol.chart a:hover rect.after,"
    "ol.chart a:focus rect.after{fill:#d9792b}\n"
".val{white-space:nowrap;font-weight:600;font-variant-numeric:tabular-nums}\n"
".txt{overflow:hidden;text-overflow:ellipsis;white-space:nowrap;color:#6a737d;"
    "font-family:ui-monospace,\"DejaVu Sans Mono\",monospace}\n"
".key{display:inline-block;width:.9em;height:.9em;vertical-align:-.1em;background:#3d6fa8}\n"
".key.before{background:#b9c3cf}\n"
"@media (max-width:760px){body{margin:1em .75em}"
    "ol.chart{grid-template-columns:max-content minmax(60px,1fr) max-content}.txt{display:none}}\n"
".tools{display:flex;flex-wrap:wrap;gap:.5em 1em;align-items:center;margin:0 0 .6em}\n"
"input[type=search]{font:inherit;padding:.3em .5em;width:22em;max-width:100%;"
    "box-sizing:border-box;border:1px solid #b9c3cf;border-radius:4px}\n"
"#shown{color:#46505c}\n"
"table#groups{display:block;width:100%;border-collapse:separate;border-spacing:0}\n"
"#groups thead{display:block;position:sticky;top:0;z-index:1;background:#f3f5f8}\n"
"#groups tbody{display:block}\n"
"#groups tr{display:flex;border-bottom:1px solid #dde2e8}\n"
"#groups tbody tr{content-visibility:auto;contain-intrinsic-size:auto 2.2em}\n"
"#groups tr[hidden]{display:none}\n"
"#groups th,#groups td{box-sizing:border-box;min-width:0;padding:.35em .3em;text-align:left;"
    "overflow:hidden;text-overflow:ellipsis;white-space:nowrap}\n"
"#groups th{display:flex;align-items:flex-end;font-weight:normal;white-space:normal}\n"
"th button{font:inherit;font-weight:600;border:0;background:none;padding:0;cursor:pointer;"
    "color:inherit;max-width:100%;text-align:inherit}\n"
"th[aria-sort=ascending] button::after{content:\" \\25B2\"}\n"
"th[aria-sort=descending] button::after{content:\" \\25BC\"}\n"
"#groups td.n{text-align:right;font-variant-numeric:tabular-nums}\n"
"#groups th.n{justify-content:flex-end;text-align:right}\n"
"#groups .t{flex:1 1 0}\n"
"#groups .s{flex:.8 1 0}\n"
"td.t{cursor:pointer;font-family:ui-monospace,\"DejaVu Sans Mono\",monospace;font-size:12px}\n"
"#groups td.t.open{white-space:pre-wrap;overflow-wrap:anywhere}\n"
"td.s{color:#46505c}\n"
"tr:target{background:#fff4d6}\n"
".byte{color:#b00020;background:#fde8ec;border-radius:2px}\n"
".cut{color:#8a939d;font-style:italic}\n"
"@media (max-width:1500px){#groups .p3{display:none}}\n"
"@media (max-width:1100px){#groups .p2{display:none}}\n";

// Sorting: a click on a header sorts the rows by that column, numbers from
// the cells' data-v (read once per column; a cell without one, a missing
// cost, goes last either way), texts by their text; equal cells keep rank
// order. The rows are put back in one fragment, so that the browser lays
// the table out once. Search: rows whose texts do not hold the search text
// (any case) are hidden. A text cell clipped by its ellipsis gets its whole
// text as a tooltip when pointed at, and opens or closes when clicked.
const char PAGE_SCRIPT[] =
"\n"
"(function () {\n"
"  \"use strict\";\n"
"  var table = document.getElementById(\"groups\");\n"
"  if (table) {\n"
"    var body = table.tBodies[0];\n"
"    var heads = table.tHead.rows[0].cells;\n"
"    var rows = Array.prototype.slice.call(body.rows);\n"
"    var keys = {};\n"
"    var column = function (index, numeric) {\n"
"      if (!keys[index]) {\n"
"        keys[index] = rows.map(function (row) {\n"
"          var cell = row.cells[index];\n"
"          if (!numeric) return cell.textContent;\n"
"          var v = cell.getAttribute(\"data-v\");\n"
"          return v === null ? NaN : Number(v);\n"
"        });\n"
"      }\n"
"      return keys[index];\n"
"    };\n"
"    var sortBy = function (index, numeric, descending) {\n"
"      var k = column(index, numeric);\n"
"      var order = rows.map(function (row, i) { return i; });\n"
"      order.sort(function (a, b) {\n"
"        var x = k[a], y = k[b], c;\n"
"        if (numeric && (isNaN(x) || isNaN(y))) {\n"
"          c = (isNaN(x) ? 1 : 0) - (isNaN(y) ? 1 : 0);\n"
"        } else {\n"
"          c = numeric ? x - y : (x < y ? -1 : x > y ? 1 : 0);\n"
"          if (descending) c = -c;\n"
"        }\n"
"        return c !== 0 ? c : a - b;\n"
"      });\n"
"      var fragment = document.createDocumentFragment();\n"
"      for (var i = 0; i < order.length; i++) fragment.appendChild(rows[order[i]]);\n"
"      body.appendChild(fragment);\n"
"      for (var h = 0; h < heads.length; h++) heads[h].removeAttribute(\"aria-sort\");\n"
"      heads[index].setAttribute(\"aria-sort\", descending ? \"descending\" : \"ascending\");\n"
"    };\n"
"    Array.prototype.forEach.call(heads, function (th, index) {\n"
"      var button = th.querySelector(\"button\");\n"
"      if (!button) return;\n"
"      button.addEventListener(\"click\", function () {\n"
"        var numeric = th.classList.contains(\"n\");\n"
"        var now = th.getAttribute(\"aria-sort\");\n"
"        var descending = now ? now === \"ascending\" : numeric && index > 0;\n"
"        sortBy(index, numeric, descending);\n"
"      });\n"
"    });\n"
"    var search = document.getElementById(\"search\");\n"
"    var shown = document.getElementById(\"shown\");\n"
"    var texts = null;\n"
"    search.addEventListener(\"input\", function () {\n"
"      var q = search.value.toLowerCase();\n"
"      if (!texts) {\n"
"        texts = rows.map(function (row) {\n"
"          var t = \"\";\n"
"          var cells = row.querySelectorAll(\"td.t\");\n"
"          for (var c = 0; c < cells.length; c++) t += cells[c].textContent + \"\\n\";\n"
"          return t.toLowerCase();\n"
"        });\n"
"      }\n"
"      var n = 0;\n"
"      for (var i = 0; i < rows.length; i++) {\n"
"        var hit = q === \"\" || texts[i].indexOf(q) >= 0;\n"
"        rows[i].hidden = !hit;\n"
"        if (hit) n++;\n"
"      }\n"
"      shown.textContent = n + \" of \" + rows.length + \" rows\";\n"
"    });\n"
"    body.addEventListener(\"mouseover\", function (e) {\n"
"      var cell = e.target.closest(\"td.t\");\n"
"      if (cell && !cell.title && cell.scrollWidth > cell.clientWidth) {\n"
"        cell.title = cell.textContent;\n"
"      }\n"
"    });\n"
"    body.addEventListener(\"click\", function (e) {\n"
"      var cell = e.target.closest(\"td.t\");\n"
"      if (cell) cell.classList.toggle(\"open\");\n"
"    });\n"
"  }\n"
"  document.documentElement.setAttribute(\"data-ready\", \"1\");\n"
"})();\n";
// clang-format on

void out_attribute_number(OutBuffer* out, const char* name, std::int64_t value) {
    out_text(out, " ");
    out_text(out, name);
    out_text(out, "=\"");
    out_number(out, value);
    out_text(out, "\"");
}

// A text within `budget` bytes of HTML; what does not fit, and what litrank
// did not keep, is named by its whole length.
void out_text_html(OutBuffer* out, const char* text, std::int32_t length, std::int32_t full,
                   bool mark_bytes, std::size_t budget) {
    std::size_t written =
        out_html_text(out, text, static_cast<std::size_t>(length), mark_bytes, budget);
    if (written < static_cast<std::size_t>(full)) {
        out_text(out, mark_bytes ? "<span class=\"cut\"> \xE2\x80\xA6 (" : " \xE2\x80\xA6 (");
        out_number(out, full);
        out_text(out, mark_bytes ? " bytes in all)</span>" : " bytes in all)");
    }
}

// A share of `value` in `top` as a percentage width for a bar ("37.52%").
void out_width(OutBuffer* out, std::int64_t value, std::int64_t top) {
    std::int64_t basis = top > 0 && value > 0 ? value * 10000 / top : 0;
    if (value > 0 && basis < 50) basis = 50; // a visible sliver
    out_text(out, " width=\"");
    char text[CELL_TEXT_MAX];
    out_bytes(out, text, format_cell(CELL_SHARE, {basis, false}, "", text));
    out_text(out, "%\"");
}

// A value of the chosen measure, as the chart's value label shows it.
void out_measure(OutBuffer* out, RankKey key, std::int64_t value, std::int64_t records) {
    char text[CELL_TEXT_MAX];
    if (value < 0) {
        out_text(out, "-");
        return;
    }
    switch (key) {
    case RANK_BY_TIME:
    case RANK_BY_MEAN:
        out_bytes(out, text, format_cell(CELL_MS, {value, false}, "", text));
        out_text(out, " ms");
        return;
    case RANK_BY_BYTES:
        out_number(out, value);
        out_text(out, " B");
        return;
    default:
        out_number(out, value);
        out_text(out, " (");
        out_bytes(out, text,
                  format_cell(CELL_SHARE, {share_basis_points(value, records), false}, "", text));
        out_text(out, "%)");
        return;
    }
}

const char* measure_words(RankKey key) {
    switch (key) {
    case RANK_BY_BYTES:
        return "statement bytes";
    case RANK_BY_TIME:
        return "total time";
    case RANK_BY_MEAN:
        return "mean time";
    default:
        return "number of records";
    }
}

// One bar of the chart: a link to the group's row, the label, the bar (or
// the before and after bars), the value and the normalised text.
void out_bar(OutBuffer* out, std::int32_t number, const char* label_start, std::int32_t label_rank,
             bool linked, const std::int64_t* values, int value_count, std::int64_t top,
             RankKey key) {
    const GroupExtra& extra = group_extra[number];
    out_text(out, "<li><a href=\"#");
    if (linked) {
        out_text(out, "g");
        out_number(out, reported_group_number(number));
    } else {
        out_text(out, "n");
        out_number(out, number);
    }
    out_text(out, "\" title=\"");
    out_text_html(out, extra.normalised, extra.normalised_length, extra.normalised_full, false,
                  PAGE_BAR_TITLE_MAX);
    out_text(out, "\"><span class=\"lab\">");
    out_text(out, label_start);
    out_number(out, label_rank);
    if (linked) {
        out_text(out, " group ");
        out_number(out, reported_group_number(number));
    }
    out_text(
        out,
        "</span><svg class=\"bar\" xmlns=\"http://www.w3.org/2000/svg\" aria-hidden=\"true\">");
    if (value_count == 1) {
        out_text(out, "<rect class=\"bar\"");
        out_attribute_number(out, "data-group", reported_group_number(number));
        out_width(out, values[0], top);
        out_text(out, " height=\"14\"/>");
    } else {
        out_text(out, "<rect class=\"before\" y=\"0\"");
        out_width(out, values[0], top);
        out_text(out, " height=\"6\"/><rect class=\"after\" y=\"7\"");
        out_width(out, values[1], top);
        out_text(out, " height=\"7\"/>");
    }
    out_text(out, "</svg><span class=\"val\">");
    if (value_count == 1) {
        out_measure(out, key, values[0], rank_totals.after.records);
    } else {
        out_measure(out, key, values[0], rank_totals.before.records);
        out_text(out, " \xE2\x86\x92 ");
        out_measure(out, key, values[1], rank_totals.after.records);
    }
    out_text(out, "</span><span class=\"txt\">");
    out_text_html(out, extra.normalised, extra.normalised_length, extra.normalised_full, false,
                  PAGE_BAR_TEXT_MAX);
    out_text(out, "</span></a></li>\n");
}

// Nothing may be fetched, and only the page's own script and style apply:
// inline event handlers, style attributes and any other inline element are
// refused by the browser.
void write_policy(OutBuffer* out, const char* style_text, std::size_t style_length) {
    char style[CSP_HASH_MAX];
    char script[CSP_HASH_MAX];
    csp_hash(style_text, style_length, style);
    csp_hash(PAGE_SCRIPT, sizeof PAGE_SCRIPT - 1, script);
    out_text(out, "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
                  "style-src '");
    out_text(out, style);
    out_text(out, "'; script-src '");
    out_text(out, script);
    out_text(out, "'\">\n");
}

// The head, with the style sheet: PAGE_STYLE and the page's column rules
// (`columns`), hashed together for the policy; then the title and summary.
void write_top(OutBuffer* out, const RunFacts& facts, const Ranking* ranking, const Diff* diff,
               const OutBuffer& columns) {
    OutBuffer style;
    out_open(&style, OUT_MEMORY);
    out_text(&style, PAGE_STYLE);
    out_bytes(&style, columns.data, columns.used);
    std::size_t path_length = std::strlen(facts.input);
    out_text(out, PAGE_HEAD);
    write_policy(out, style.data, style.used);
    out_text(out, "<title>litrank: ");
    out_html_text(out, facts.input, path_length, false);
    out_text(out, "</title>\n<style>");
    out_bytes(out, style.data, style.used);
    out_close(&style);
    out_text(out, "</style>\n</head>\n<body>\n");
    out_text(out,
             diff != nullptr ? "<h1>What changed in <code>" : "<h1>Statement groups of <code>");
    out_html_text(out, facts.input, path_length, true);
    if (diff != nullptr) {
        out_text(out, "</code> since <code>");
        out_html_text(out, facts.before, std::strlen(facts.before), true);
    }
    out_text(out, "</code></h1>\n<p class=\"summary\">");
    OutBuffer summary;
    out_open(&summary, OUT_MEMORY);
    write_summary(&summary, ranking, diff, facts);
    out_html_text(out, summary.data, summary.used, true);
    out_close(&summary);
    out_text(out, ".</p>\n");
}

// One column of the page's table.
struct PageColumn {
    const char* title;
    const char* classes; // "n" for numbers, "t" for texts, and the priority
    std::size_t width;   // characters a number column needs (its wN class)
};

// The width of each number column: as many characters as its longest
// cell, and room for the padding. nth-child counts the columns a narrow
// window hides too, so the rules hold at any width.
void column_style(OutBuffer* out, const PageColumn* columns, int count) {
    for (int c = 0; c < count; ++c) {
        if (columns[c].width == 0) continue;
        out_text(out, "#groups tr>:nth-child(");
        out_number(out, c + 1);
        out_text(out, "){flex:0 0 calc(");
        out_number(out, static_cast<std::int64_t>(columns[c].width));
        out_text(out, "ch + 1em)}\n");
    }
}

// The search box, then the table's head; `ranked` marks the first column
// as the order the rows come in.
void out_head_row(OutBuffer* out, const PageColumn* columns, int count, bool ranked) {
    out_text(out, "<div class=\"tools\"><input type=\"search\" id=\"search\" "
                  "placeholder=\"Search the texts\" aria-label=\"Search the texts\" "
                  "autocomplete=\"off\"><span id=\"shown\"></span></div>\n"
                  "<table id=\"groups\">\n<thead><tr>");
    for (int c = 0; c < count; ++c) {
        out_text(out, "<th class=\"");
        out_text(out, columns[c].classes);
        out_text(out, c == 0 && ranked ? "\" aria-sort=\"ascending\">" : "\">");
        out_text(out, "<button type=\"button\">");
        char first = columns[c].title[0]; // titles are ASCII: "total ms" heads "Total ms"
        if (first >= 'a' && first <= 'z') first = static_cast<char>(first - 'a' + 'A');
        out_bytes(out, &first, 1);
        out_text(out, columns[c].title + 1);
        out_text(out, "</button></th>");
    }
    out_text(out, "</tr></thead>\n<tbody>\n");
}

// Priority of a number column on narrow windows, by its name.
const char* priority_of(const char* name) {
    static const char* const SECOND[] = {
        "group", "share", "p95_ms", "share_after", "mean_ms", "total_ms_before", "mean_ms_change"};
    static const char* const THIRD[] = {"bytes",        "first_id",     "p50_ms",        "max_ms",
                                        "share_before", "share_change", "mean_ms_before"};
    for (const char* s : SECOND) {
        if (std::strcmp(s, name) == 0) return "n p2";
    }
    for (const char* s : THIRD) {
        if (std::strcmp(s, name) == 0) return "n p3";
    }
    return "n";
}

void out_number_cells(OutBuffer* out, const Column* columns, int count, const Cell* cells,
                      const PageColumn* page) {
    for (int c = 0; c < count; ++c) {
        out_text(out, "<td class=\"");
        out_text(out, page[c].classes);
        out_text(out, "\"");
        if (!cells[c].missing) out_attribute_number(out, "data-v", cells[c].value);
        out_text(out, ">");
        char text[CELL_TEXT_MAX];
        out_bytes(out, text, format_cell(columns[c].kind, cells[c], "\xE2\x80\x93", text));
        if (!cells[c].missing &&
            (columns[c].kind == CELL_SHARE || columns[c].kind == CELL_SHARE_CHANGE)) {
            out_text(out, "%");
        }
        out_text(out, "</td>");
    }
}

void out_text_cells(OutBuffer* out, std::int32_t number) {
    const GroupExtra& extra = group_extra[number];
    out_text(out, "<td class=\"t\">");
    out_text_html(out, extra.normalised, extra.normalised_length, extra.normalised_full, true,
                  PAGE_CELL_TEXT_MAX);
    out_text(out, "</td><td class=\"t s p2\">");
    out_text_html(out, extra.example, extra.example_length, extra.example_full, true,
                  PAGE_CELL_STATEMENT_MAX);
    out_text(out, "</td></tr>\n");
}

// Page columns for numeric columns plus the two texts; widths from the
// longest cell of the rows shown.
template <typename CellsOf>
int page_columns(const Column* columns, int count, std::int32_t rows, CellsOf cells_of,
                 PageColumn* page, int first) {
    Cell cells[DIFF_COLUMNS_MAX > RANKING_COLUMNS_MAX ? DIFF_COLUMNS_MAX : RANKING_COLUMNS_MAX];
    for (int c = 0; c < count; ++c) {
        // At least the longest word of the title and the sort mark after it:
        // titles wrap between words.
        std::size_t word = 0;
        std::size_t longest = 0;
        for (const char* t = columns[c].title; *t != '\0'; ++t) {
            word = *t == ' ' ? 0 : word + 1;
            if (word > longest) longest = word;
        }
        page[first + c] = {columns[c].title, priority_of(columns[c].name), longest + 2};
    }
    for (std::int32_t r = 0; r < rows; ++r) {
        cells_of(r, cells);
        for (int c = 0; c < count; ++c) {
            char text[CELL_TEXT_MAX];
            std::size_t w = format_cell(columns[c].kind, cells[c], "-", text);
            if (columns[c].kind == CELL_SHARE || columns[c].kind == CELL_SHARE_CHANGE) ++w; // "%"
            if (w > page[first + c].width) page[first + c].width = w;
        }
    }
    page[first + count] = {"Normalised text", "t", 0};
    page[first + count + 1] = {"First statement", "t s p2", 0};
    return first + count + 2;
}

void out_more(OutBuffer* out, std::int32_t listed, std::int32_t total, const char* what) {
    if (listed >= total) return;
    out_text(out, "<p class=\"more\">The table lists ");
    out_number(out, listed);
    out_text(out, " of the ");
    out_number(out, total);
    out_text(out, " ");
    out_text(out, what);
    out_text(out, "; <code>litrank --tsv -n 0</code> or <code>--json FILE -n 0</code> lists "
                  "them all.</p>\n");
}

void write_bottom(OutBuffer* out) {
    out_text(out, "<script>");
    out_text(out, PAGE_SCRIPT);
    out_text(out, "</script>\n</body>\n</html>\n");
}

} // namespace

void write_html(OutBuffer* out, const Ranking& ranking, const Percentiles* percentiles,
                const RunFacts& facts) {
    std::int32_t bars = ranking.count < PAGE_BARS_MAX ? ranking.count : PAGE_BARS_MAX;
    std::int32_t rows = ranking.count < PAGE_ROWS_MAX ? ranking.count : PAGE_ROWS_MAX;
    const Column* specs;
    int count = ranking_columns(facts.costs, &specs);
    PageColumn page[RANKING_COLUMNS_MAX + 2];
    auto cells_of = [&](std::int32_t row, Cell* cells) {
        ranking_cells(ranking, percentiles, row, facts.costs, cells);
        return ranking.numbers[row];
    };
    int page_count = page_columns(specs, count, rows, cells_of, page, 0);
    OutBuffer style;
    out_open(&style, OUT_MEMORY);
    column_style(&style, page, page_count);
    write_top(out, facts, &ranking, nullptr, style);
    out_close(&style);
    if (bars > 0) {
        out_text(out, "<figure>\n<figcaption>");
        if (bars < ranking.count) {
            out_text(out, "The first ");
            out_number(out, bars);
            out_text(out, " of the groups listed below, by ");
        } else {
            out_text(out, "Groups by ");
        }
        out_text(out, measure_words(facts.key));
        out_text(out, ". Point at a bar for its normalised text; click it to go to its row.");
        out_text(out, "</figcaption>\n<ol class=\"chart\" id=\"chart\" aria-label=\"Bar chart of "
                      "the groups ranked first\">\n");
        std::int64_t top = key_value(facts.key, ranking.numbers[0]);
        for (std::int32_t i = 0; i < bars; ++i) {
            std::int64_t value = key_value(facts.key, ranking.numbers[i]);
            out_bar(out, ranking.numbers[i], "#", i + 1, true, &value, 1, top, facts.key);
        }
        out_text(out, "</ol>\n</figure>\n");
    }

    out_head_row(out, page, page_count, true);
    Cell cells[RANKING_COLUMNS_MAX];
    for (std::int32_t i = 0; i < rows; ++i) {
        std::int32_t number = cells_of(i, cells);
        out_text(out, "<tr id=\"g");
        out_number(out, reported_group_number(number));
        out_text(out, "\">");
        out_number_cells(out, specs, count, cells, page);
        out_text_cells(out, number);
    }
    out_text(out, "</tbody>\n</table>\n");
    out_more(out, rows, rank_totals.groups, "groups");
    write_bottom(out);
}

/*
 * The chart: the listed groups of every section with the largest change of
 * the measure first (a new group's change is its value, a gone group's its
 * value before), at most PAGE_BARS_MAX, each with its value before and after
 * on one scale. The table: a section column, then the diff's columns.
 */
void write_diff_html(OutBuffer* out, const Diff& diff, const RunFacts& facts) {
    std::int32_t listed = 0;
    for (const DiffSection& s : diff.sections) listed += s.count;
    const Column* specs;
    int count = diff_columns(facts.costs, &specs);
    PageColumn page[DIFF_COLUMNS_MAX + 4];
    page[0] = {"Section", "sec", 9};
    page[1] = {"Rank", "n p3", 6};
    // Widths over every listed row: at most PAGE_ROWS_MAX of them.
    std::int32_t flat_rows = listed < PAGE_ROWS_MAX ? listed : PAGE_ROWS_MAX;
    auto number_at = [&](std::int32_t row, int* section, std::int32_t* rank) {
        for (int k = 0; k < SECTIONS; ++k) {
            if (row < diff.sections[k].count) {
                *section = k;
                *rank = row;
                return diff.sections[k].numbers[row];
            }
            row -= diff.sections[k].count;
        }
        return std::int32_t{0};
    };
    int page_count = page_columns(
        specs, count, flat_rows,
        [&](std::int32_t row, Cell* c) {
            int section;
            std::int32_t rank;
            std::int32_t n = number_at(row, &section, &rank);
            diff_cells(diff, n, facts.costs, c);
            return n;
        },
        page, 2);
    OutBuffer style;
    out_open(&style, OUT_MEMORY);
    column_style(&style, page, page_count);
    write_top(out, facts, nullptr, &diff, style);
    out_close(&style);

    // The bars: every listed group with its change, the largest PAGE_BARS_MAX.
    struct Bar {
        std::int32_t number;
        std::int32_t section;
        std::int32_t rank;
        std::int64_t change;
    };
    auto* bars = static_cast<Bar*>(
        checked_realloc(nullptr, static_cast<std::size_t>(listed > 0 ? listed : 1) * sizeof(Bar),
                        NOT_ENOUGH_MEMORY));
    std::int32_t bar_count = 0;
    std::int64_t top = 0;
    for (int k = 0; k < SECTIONS; ++k) {
        const DiffSection& s = diff.sections[k];
        for (std::int32_t i = 0; i < s.count; ++i) {
            std::int32_t n = s.numbers[i];
            std::int64_t after = key_value(facts.key, n, false);
            std::int64_t before = key_value(facts.key, n, true);
            if (after < 0) after = 0;
            if (before < 0) before = 0;
            if (group_extra[n].size == 0) after = 0;
            std::int64_t change = after > before ? after - before : before - after;
            bars[bar_count++] = {n, k, i + 1, change};
        }
    }
    std::int32_t shown_bars = bar_count < PAGE_BARS_MAX ? bar_count : PAGE_BARS_MAX;
    std::partial_sort(bars, bars + shown_bars, bars + bar_count, [](const Bar& a, const Bar& b) {
        if (a.change != b.change) return a.change > b.change;
        if (a.section != b.section) return a.section < b.section;
        return a.rank < b.rank;
    });
    for (std::int32_t i = 0; i < shown_bars; ++i) {
        std::int64_t after =
            group_extra[bars[i].number].size > 0 ? key_value(facts.key, bars[i].number, false) : 0;
        std::int64_t before = key_value(facts.key, bars[i].number, true);
        if (after > top) top = after;
        if (before > top) top = before;
    }
    if (shown_bars > 0) {
        out_text(out, "<figure>\n<figcaption>");
        out_text(out, shown_bars < listed ? "The largest changes" : "Every change listed");
        out_text(out, " by ");
        out_text(out, measure_words(facts.key));
        out_text(out, ": <span class=\"key before\"></span> before, "
                      "<span class=\"key\"></span> after. Point at a bar for its normalised "
                      "text; click it to go to its row.</figcaption>\n"
                      "<ol class=\"chart\" id=\"chart\" aria-label=\"Before and after chart of "
                      "the largest changes\">\n");
        for (std::int32_t i = 0; i < shown_bars; ++i) {
            const Bar& bar = bars[i];
            std::int64_t values[2] = {
                key_value(facts.key, bar.number, true),
                group_extra[bar.number].size > 0 ? key_value(facts.key, bar.number, false) : 0};
            char label[16];
            std::size_t n = std::strlen(SECTION_NAMES[bar.section]);
            std::memcpy(label, SECTION_NAMES[bar.section], n);
            std::memcpy(label + n, " #", 3);
            out_bar(out, bar.number, label, bar.rank, bar.number <= diff.last_input_group, values,
                    2, top, facts.key);
        }
        out_text(out, "</ol>\n</figure>\n");
    }
    release(bars);

    out_head_row(out, page, page_count, false);
    std::int32_t rows = 0;
    Cell cells[DIFF_COLUMNS_MAX];
    for (int k = 0; k < SECTIONS && rows < PAGE_ROWS_MAX; ++k) {
        const DiffSection& s = diff.sections[k];
        for (std::int32_t i = 0; i < s.count && rows < PAGE_ROWS_MAX; ++i, ++rows) {
            std::int32_t n = s.numbers[i];
            diff_cells(diff, n, facts.costs, cells);
            out_text(out, "<tr id=\"");
            if (n <= diff.last_input_group) {
                out_text(out, "g");
                out_number(out, reported_group_number(n));
            } else {
                out_text(out, "n");
                out_number(out, n);
            }
            out_text(out, "\"><td class=\"sec\">");
            out_text(out, SECTION_NAMES[k]);
            out_text(out, "</td><td class=\"n p3\"");
            out_attribute_number(out, "data-v", i + 1);
            out_text(out, ">");
            out_number(out, i + 1);
            out_text(out, "</td>");
            out_number_cells(out, specs, count, cells, page + 2);
            out_text_cells(out, n);
        }
    }
    out_text(out, "</tbody>\n</table>\n");
    out_more(out, rows, listed, "groups listed");
    write_bottom(out);
}
