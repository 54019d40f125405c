#include "ranker/json_output.h"

#include "ranker/folding.h"

#include <cstring>

namespace {

void out_string(OutBuffer* out, const char* text, std::size_t length) {
    out_text(out, "\"");
    out_json_text(out, text, length);
    out_text(out, "\"");
}

void out_key(OutBuffer* out, const char* key) {
    out_text(out, "\"");
    out_text(out, key);
    out_text(out, "\": ");
}

// A cell as a JSON number (a change without its "+"), or null.
void out_cell(OutBuffer* out, CellKind kind, Cell cell) {
    if (cell.missing) {
        out_text(out, "null");
        return;
    }
    switch (kind) {
    case CELL_COUNT_CHANGE:
        kind = CELL_COUNT;
        break;
    case CELL_SHARE_CHANGE:
        kind = CELL_SHARE;
        break;
    case CELL_MS_CHANGE:
        kind = CELL_MS;
        break;
    default:
        break;
    }
    char text[CELL_TEXT_MAX];
    out_bytes(out, text, format_cell(kind, cell, "null", text));
}

void out_cells(OutBuffer* out, const Column* columns, int count, const Cell* cells) {
    for (int c = 0; c < count; ++c) {
        if (c > 0) out_text(out, ", ");
        out_key(out, columns[c].name);
        out_cell(out, columns[c].kind, cells[c]);
    }
}

// The texts, source and line of a group, each after ", ".
void out_texts(OutBuffer* out, std::int32_t number, bool sources) {
    const GroupExtra& extra = group_extra[number];
    out_text(out, ", ");
    out_key(out, "normalised_text");
    out_string(out, extra.normalised, static_cast<std::size_t>(extra.normalised_length));
    out_text(out, ", ");
    out_key(out, "normalised_text_bytes");
    out_number(out, extra.normalised_full);
    out_text(out, ", ");
    out_key(out, "first_statement");
    out_string(out, extra.example, static_cast<std::size_t>(extra.example_length));
    out_text(out, ", ");
    out_key(out, "first_statement_bytes");
    out_number(out, extra.example_full);
    std::int32_t source = sources && group_cost != nullptr ? group_cost[number].source : -1;
    out_text(out, ", ");
    out_key(out, "source");
    if (source >= 0) {
        const SourceName& name = source_name(source);
        out_string(out, name.text, static_cast<std::size_t>(name.length));
    } else {
        out_text(out, "null");
    }
    out_text(out, ", ");
    out_key(out, "line");
    if (source >= 0 && group_cost[number].line > 0) {
        out_number(out, group_cost[number].line);
    } else {
        out_text(out, "null");
    }
}

void out_head(OutBuffer* out, const RunFacts& facts) {
    out_text(out, "{");
    out_key(out, "input");
    out_string(out, facts.input, std::strlen(facts.input));
    if (facts.before != nullptr) {
        out_text(out, ",\n ");
        out_key(out, "before");
        out_string(out, facts.before, std::strlen(facts.before));
    }
    out_text(out, ",\n ");
    out_key(out, "ranked_by");
    out_string(out, rank_key_name(facts.key), std::strlen(rank_key_name(facts.key)));
    out_text(out, ",\n ");
    out_key(out, "folding");
    out_text(out, "[");
    if ((facts.folding & FOLD_LISTS) != 0) out_text(out, "\"lists\"");
    if (facts.folding == (FOLD_LISTS | FOLD_COMMENTS)) out_text(out, ", ");
    if ((facts.folding & FOLD_COMMENTS) != 0) out_text(out, "\"comments\"");
    out_text(out, "]");
}

void out_count(OutBuffer* out, const char* key, std::int64_t value) {
    out_text(out, ",\n ");
    out_key(out, key);
    out_number(out, value);
}

void out_total_ms(OutBuffer* out, const char* key, const WorkloadTotals& totals, bool costs) {
    out_text(out, ",\n ");
    out_key(out, key);
    out_cell(out, CELL_MS, {totals.total_us, !costs});
}

} // namespace

void write_json(OutBuffer* out, const Ranking& ranking, const Percentiles* percentiles,
                const RunFacts& facts) {
    out_head(out, facts);
    out_count(out, "records", rank_totals.after.records);
    out_count(out, "records_read", rank_totals.after.records_read);
    out_count(out, "groups_total", rank_totals.groups);
    out_text(out, ",\n ");
    out_key(out, "timed_records");
    out_cell(out, CELL_COUNT, {rank_totals.after.timed, !facts.costs});
    out_total_ms(out, "total_ms", rank_totals.after, facts.costs);
    out_text(out, ",\n ");
    out_key(out, "groups");
    out_text(out, "[");
    const Column* all;
    ranking_columns(true, &all);
    const Column* specs;
    int count = ranking_columns(facts.costs, &specs);
    Cell cells[RANKING_COLUMNS_MAX];
    for (std::int32_t i = 0; i < ranking.count; ++i) {
        ranking_cells(ranking, percentiles, i, facts.costs, cells);
        for (int c = count; c < RANKING_COLUMNS_MAX; ++c) cells[c] = {0, true};
        out_text(out, i == 0 ? "\n  {" : ",\n  {");
        out_cells(out, all, RANKING_COLUMNS_MAX - RANKING_COST_COLUMNS, cells);
        out_texts(out, ranking.numbers[i], facts.sources);
        out_text(out, ", ");
        out_cells(out, all + RANKING_COLUMNS_MAX - RANKING_COST_COLUMNS, RANKING_COST_COLUMNS,
                  cells + RANKING_COLUMNS_MAX - RANKING_COST_COLUMNS);
        out_text(out, "}");
    }
    out_text(out, ranking.count > 0 ? "\n ]}\n" : "]}\n");
}

void write_diff_json(OutBuffer* out, const Diff& diff, const RunFacts& facts) {
    out_head(out, facts);
    out_count(out, "records", rank_totals.after.records);
    out_count(out, "records_before", rank_totals.before.records);
    out_total_ms(out, "total_ms", rank_totals.after, facts.costs);
    out_total_ms(out, "total_ms_before", rank_totals.before, facts.costs);
    out_count(out, "unchanged", diff.unchanged);
    out_text(out, ",\n ");
    out_key(out, "sections");
    out_text(out, "{");
    const Column* all;
    diff_columns(true, &all);
    const Column* specs;
    int count = diff_columns(facts.costs, &specs);
    Cell cells[DIFF_COLUMNS_MAX];
    for (int k = 0; k < SECTIONS; ++k) {
        const DiffSection& section = diff.sections[k];
        out_text(out, k == 0 ? "\n  " : ",\n  ");
        out_key(out, SECTION_NAMES[k]);
        out_text(out, "{");
        out_key(out, "groups_total");
        out_number(out, section.total);
        out_text(out, ", ");
        out_key(out, "groups");
        out_text(out, "[");
        for (std::int32_t i = 0; i < section.count; ++i) {
            diff_cells(diff, section.numbers[i], facts.costs, cells);
            for (int c = count; c < DIFF_COLUMNS_MAX; ++c) cells[c] = {0, true};
            out_text(out, i == 0 ? "\n   {" : ",\n   {");
            out_key(out, "rank");
            out_number(out, i + 1);
            out_text(out, ", ");
            out_cells(out, all, DIFF_COLUMNS_MAX, cells);
            out_texts(out, section.numbers[i], facts.sources);
            out_text(out, "}");
        }
        out_text(out, section.count > 0 ? "\n  ]}" : "]}");
    }
    out_text(out, "\n }}\n");
}
