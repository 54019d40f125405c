#include "ranker/html_page.h"

#include "ranker/content_hash.h"

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
const char PAGE_STYLE[] =
"\n"
"body{font:14px/1.4 system-ui,-apple-system,\"Segoe UI\",\"DejaVu Sans\",sans-serif;"
    "margin:1.5em 2em;color:#1d232b;background:#fff}\n"
"h1{font-size:1.4em;margin:0 0 .3em}\n"
"p.summary{margin:0 0 1em;color:#46505c}\n"
"figure{margin:0 0 1.5em}\n"
"figcaption{color:#46505c;margin-bottom:.3em}\n"
"svg#chart{display:block;max-width:100%;height:auto;font-size:12px}\n"
"svg#chart .bar{fill:#3d6fa8}\n"
"svg#chart a:hover .bar,svg#chart a:focus .bar{fill:#d9792b}\n"
"svg#chart .label{fill:#1d232b;text-anchor:end}\n"
"svg#chart .value{fill:#1d232b;font-weight:600}\n"
"svg#chart .text{fill:#6a737d;font-family:ui-monospace,\"DejaVu Sans Mono\",monospace}\n"
"table{border-collapse:collapse;width:100%}\n"
"th,td{border-bottom:1px solid #dde2e8;padding:.35em .5em;vertical-align:top;text-align:left}\n"
"th{background:#f3f5f8;position:sticky;top:0;white-space:nowrap}\n"
"th button{font:inherit;font-weight:600;border:0;background:none;padding:0;cursor:pointer;"
    "color:inherit}\n"
"th[aria-sort=ascending] button::after{content:\" \\25B2\"}\n"
"th[aria-sort=descending] button::after{content:\" \\25BC\"}\n"
"td.n{text-align:right;font-variant-numeric:tabular-nums;white-space:nowrap}\n"
"th.n{text-align:right}\n"
"tr:target{background:#fff4d6}\n"
"code,pre{font-family:ui-monospace,\"DejaVu Sans Mono\",monospace;font-size:12px;"
    "white-space:pre-wrap;overflow-wrap:anywhere;margin:0}\n"
"pre{color:#46505c}\n"
".byte{color:#b00020;background:#fde8ec;border-radius:2px}\n"
".cut{color:#8a939d;font-style:italic}\n";

// Sorting: a click on a header sorts the rows by that column, numbers from
// the cells' data-v, texts by their text; equal cells keep rank order.
const char PAGE_SCRIPT[] =
"\n"
"(function () {\n"
"  \"use strict\";\n"
"  var table = document.getElementById(\"groups\");\n"
"  if (!table) return;\n"
"  var body = table.tBodies[0];\n"
"  var heads = table.tHead.rows[0].cells;\n"
"  function key(row, index, numeric) {\n"
"    var cell = row.cells[index];\n"
"    return numeric ? Number(cell.getAttribute(\"data-v\")) : cell.textContent;\n"
"  }\n"
"  function sortBy(index, numeric, descending) {\n"
"    var rows = Array.prototype.slice.call(body.rows);\n"
"    rows.sort(function (a, b) {\n"
"      var x = key(a, index, numeric), y = key(b, index, numeric);\n"
"      var c = numeric ? x - y : (x < y ? -1 : x > y ? 1 : 0);\n"
"      if (descending) c = -c;\n"
"      return c !== 0 ? c : key(a, 0, true) - key(b, 0, true);\n"
"    });\n"
"    rows.forEach(function (row) { body.appendChild(row); });\n"
"    for (var i = 0; i < heads.length; i++) heads[i].removeAttribute(\"aria-sort\");\n"
"    heads[index].setAttribute(\"aria-sort\", descending ? \"descending\" : \"ascending\");\n"
"  }\n"
"  Array.prototype.forEach.call(heads, function (th, index) {\n"
"    var button = th.querySelector(\"button\");\n"
"    if (!button) return;\n"
"    button.addEventListener(\"click\", function () {\n"
"      var numeric = th.classList.contains(\"n\");\n"
"      var now = th.getAttribute(\"aria-sort\");\n"
"      var descending = now ? now === \"ascending\" : numeric && index > 0;\n"
"      sortBy(index, numeric, descending);\n"
"    });\n"
"  });\n"
"  document.documentElement.setAttribute(\"data-ready\", \"1\");\n"
"})();\n";
// clang-format on

constexpr int CHART_WIDTH = 960;
constexpr int CHART_LABEL_WIDTH = 110; // rank and group, right-aligned before the bars
constexpr int CHART_BAR_MAX = 420;     // longest bar
constexpr int CHART_ROW = 22;
constexpr int CHART_BAR_HEIGHT = 15;
constexpr int CHART_TOP = 4;

void out_text_html(OutBuffer* out, const char* text, std::int32_t length, std::int32_t full,
                   bool mark_bytes) {
    out_html_text(out, text, static_cast<std::size_t>(length), mark_bytes);
    if (length < full) {
        out_text(out, mark_bytes ? "<span class=\"cut\"> \xE2\x80\xA6 (" : " \xE2\x80\xA6 (");
        out_number(out, full);
        out_text(out, mark_bytes ? " bytes in all)</span>" : " bytes in all)");
    }
}

std::int64_t key_value(const Ranking& ranking, std::int32_t number) {
    return ranking.key == RANK_BY_BYTES ? group_extra[number].bytes : group_table.base[number].size;
}

void out_attribute_number(OutBuffer* out, const char* name, std::int64_t value) {
    out_text(out, " ");
    out_text(out, name);
    out_text(out, "=\"");
    out_number(out, value);
    out_text(out, "\"");
}

void write_chart(OutBuffer* out, const Ranking& ranking) {
    std::int32_t bars = ranking.count < CHART_BARS_MAX ? ranking.count : CHART_BARS_MAX;
    std::int64_t top = bars > 0 ? key_value(ranking, ranking.numbers[0]) : 0;
    int height = CHART_TOP * 2 + bars * CHART_ROW;

    out_text(out, "<figure>\n<figcaption>");
    if (bars < ranking.count) {
        out_text(out, "The first ");
        out_number(out, bars);
        out_text(out, " of the groups listed below, by ");
    } else {
        out_text(out, "Groups by ");
    }
    out_text(out, ranking.key == RANK_BY_BYTES ? "statement bytes" : "number of records");
    out_text(out, ". Point at a bar for its normalised text; click it to go to its row.");
    out_text(out, "</figcaption>\n<svg id=\"chart\" xmlns=\"http://www.w3.org/2000/svg\"");
    out_text(out, " role=\"img\" aria-label=\"Bar chart of the largest statement groups\"");
    out_attribute_number(out, "width", CHART_WIDTH);
    out_attribute_number(out, "height", height);
    out_text(out, " viewBox=\"0 0 ");
    out_number(out, CHART_WIDTH);
    out_text(out, " ");
    out_number(out, height);
    out_text(out, "\">\n");
    for (std::int32_t i = 0; i < bars; ++i) {
        std::int32_t number = ranking.numbers[i];
        const GroupExtra& extra = group_extra[number];
        std::int64_t value = key_value(ranking, number);
        std::int64_t width = top > 0 ? (value * CHART_BAR_MAX + top / 2) / top : 0;
        if (width < 1) width = 1;
        int y = CHART_TOP + i * CHART_ROW;
        int baseline = y + CHART_BAR_HEIGHT - 3;

        out_text(out, "<a href=\"#g");
        out_number(out, reported_group_number(number));
        out_text(out, "\"><title>");
        out_text_html(out, extra.normalized, extra.normalized_length, extra.normalized_full, false);
        out_text(out, "</title>");
        out_text(out, "<text class=\"label\"");
        out_attribute_number(out, "x", CHART_LABEL_WIDTH - 8);
        out_attribute_number(out, "y", baseline);
        out_text(out, ">#");
        out_number(out, i + 1);
        out_text(out, " group ");
        out_number(out, reported_group_number(number));
        out_text(out, "</text><rect class=\"bar\"");
        out_attribute_number(out, "data-group", reported_group_number(number));
        out_attribute_number(out, "x", CHART_LABEL_WIDTH);
        out_attribute_number(out, "y", y);
        out_attribute_number(out, "width", width);
        out_attribute_number(out, "height", CHART_BAR_HEIGHT);
        out_text(out, "/><text class=\"value\"");
        out_attribute_number(out, "x", CHART_LABEL_WIDTH + width + 6);
        out_attribute_number(out, "y", baseline);
        out_text(out, ">");
        out_number(out, value);
        if (ranking.key == RANK_BY_SIZE) {
            out_text(out, " (");
            out_basis_points(out, share_basis_points(value, rank_totals.records));
            out_text(out, "%)");
        }
        out_text(out, "<tspan class=\"text\" dx=\"10\">");
        std::size_t label = utf8_cut(
            extra.normalized, static_cast<std::size_t>(extra.normalized_length), CHART_LABEL_MAX);
        out_html_text(out, extra.normalized, label, false);
        if (label < static_cast<std::size_t>(extra.normalized_full)) out_text(out, " \xE2\x80\xA6");
        out_text(out, "</tspan></text></a>\n");
    }
    out_text(out, "</svg>\n</figure>\n");
}

void write_row(OutBuffer* out, const Ranking& ranking, std::int32_t place) {
    std::int32_t number = ranking.numbers[place];
    const StatementGroup& group = group_table.base[number];
    const GroupExtra& extra = group_extra[number];
    std::int64_t share = share_basis_points(group.size, rank_totals.records);
    const std::int64_t cells[] = {place + 1,   reported_group_number(number),
                                  group.size,  share,
                                  extra.bytes, group.first_member};

    out_text(out, "<tr id=\"g");
    out_number(out, reported_group_number(number));
    out_text(out, "\">");
    for (std::size_t c = 0; c < sizeof cells / sizeof cells[0]; ++c) {
        out_text(out, "<td class=\"n\"");
        out_attribute_number(out, "data-v", cells[c]);
        out_text(out, ">");
        if (c == 3) {
            out_basis_points(out, cells[c]);
            out_text(out, "%");
        } else {
            out_number(out, cells[c]);
        }
        out_text(out, "</td>");
    }
    out_text(out, "<td><code>");
    out_text_html(out, extra.normalized, extra.normalized_length, extra.normalized_full, true);
    out_text(out, "</code></td><td><pre>");
    out_text_html(out, extra.example, extra.example_length, extra.example_full, true);
    out_text(out, "</pre></td></tr>\n");
}

// Nothing may be fetched, and only the page's own script and style apply:
// inline event handlers, style attributes and any other inline element are
// refused by the browser.
void write_policy(OutBuffer* out) {
    char style[CSP_HASH_MAX];
    char script[CSP_HASH_MAX];
    csp_hash(PAGE_STYLE, sizeof PAGE_STYLE - 1, style);
    csp_hash(PAGE_SCRIPT, sizeof PAGE_SCRIPT - 1, script);
    out_text(out, "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
                  "style-src '");
    out_text(out, style);
    out_text(out, "'; script-src '");
    out_text(out, script);
    out_text(out, "'\">\n");
}

} // namespace

void write_html(OutBuffer* out, const Ranking& ranking, const char* input_path) {
    std::size_t path_length = std::strlen(input_path);
    out_text(out, PAGE_HEAD);
    write_policy(out);
    out_text(out, "<title>litrank: ");
    out_html_text(out, input_path, path_length, false);
    out_text(out, "</title>\n<style>");
    out_text(out, PAGE_STYLE);
    out_text(out, "</style>\n</head>\n<body>\n");

    out_text(out, "<h1>Statement groups of <code>");
    out_html_text(out, input_path, path_length, true);
    out_text(out, "</code></h1>\n<p class=\"summary\">");
    out_number(out, rank_totals.records);
    out_text(out, " records, ");
    out_number(out, group_count());
    out_text(out, " groups (distinct normalised texts), ");
    out_number(out, rank_totals.bytes);
    out_text(out, " bytes of statement text. ");
    std::int64_t shown_records = 0;
    std::int64_t shown_bytes = 0;
    for (std::int32_t i = 0; i < ranking.count; ++i) {
        shown_records += group_table.base[ranking.numbers[i]].size;
        shown_bytes += group_extra[ranking.numbers[i]].bytes;
    }
    if (ranking.count == group_count()) {
        out_text(out, "All groups are listed, ");
    } else {
        out_text(out, "The top ");
        out_number(out, ranking.count);
        out_text(out, " groups are listed, ");
    }
    out_text(out, ranking.key == RANK_BY_BYTES ? "by bytes" : "by size");
    out_text(out, "; they hold ");
    out_basis_points(out, share_basis_points(shown_records, rank_totals.records));
    out_text(out, "% of the records and ");
    out_basis_points(out, share_basis_points(shown_bytes, rank_totals.bytes));
    out_text(out, "% of the bytes.</p>\n");

    if (ranking.count > 0) write_chart(out, ranking);

    out_text(out,
             "<table id=\"groups\">\n<thead><tr>"
             "<th class=\"n\" aria-sort=\"ascending\"><button type=\"button\">Rank</button></th>"
             "<th class=\"n\"><button type=\"button\">Group</button></th>"
             "<th class=\"n\"><button type=\"button\">Size</button></th>"
             "<th class=\"n\"><button type=\"button\">Share</button></th>"
             "<th class=\"n\"><button type=\"button\">Bytes</button></th>"
             "<th class=\"n\"><button type=\"button\">First id</button></th>"
             "<th><button type=\"button\">Normalised text</button></th>"
             "<th><button type=\"button\">First statement</button></th>"
             "</tr></thead>\n<tbody>\n");
    for (std::int32_t i = 0; i < ranking.count; ++i) write_row(out, ranking, i);
    out_text(out, "</tbody>\n</table>\n<script>");
    out_text(out, PAGE_SCRIPT);
    out_text(out, "</script>\n</body>\n</html>\n");
}
