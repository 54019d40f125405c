#include "ranker/listing.h"

#include "platform/digits.h"
#include "ranker/folding.h"

#include <cstring>

namespace {

// Fewest columns for the first statement that leave room for its source too.
constexpr std::size_t SOURCE_ROOM_MIN = 40;

void out_cut_note(OutBuffer* out, std::int32_t full) {
    out_text(out, " ... (");
    out_number(out, full);
    out_text(out, " bytes)");
}

void out_ms(OutBuffer* out, std::int64_t us) {
    char text[CELL_TEXT_MAX];
    out_bytes(out, text, format_cell(CELL_MS, {us, false}, "", text));
}

const char* key_words(RankKey key) {
    switch (key) {
    case RANK_BY_BYTES:
        return "bytes";
    case RANK_BY_TIME:
        return "total time";
    case RANK_BY_MEAN:
        return "mean time";
    default:
        return "size";
    }
}

void summary_of(OutBuffer* out, const char* path, const WorkloadTotals& totals, std::int32_t groups,
                bool costs) {
    out_text(out, path);
    out_text(out, ": ");
    out_number(out, totals.records);
    out_text(out, " records in ");
    out_number(out, groups);
    out_text(out, " groups, ");
    out_number(out, totals.bytes);
    out_text(out, " statement bytes");
    if (costs) {
        out_text(out, ", ");
        out_ms(out, totals.total_us);
        out_text(out, " ms in ");
        out_number(out, totals.timed);
        out_text(out, " timed records");
    }
}

// Groups of a side of a diff with counted records that pass the text
// filters.
std::int32_t counted_groups(bool before) {
    std::int32_t n = 0;
    for (std::int32_t g = 2; g <= group_count() + 1; ++g) {
        std::int32_t size = before ? group_before[g].size : group_extra[g].size;
        if (size > 0 && !group_extra[g].excluded) ++n;
    }
    return n;
}

// One row of a table: the cells padded to their columns' widths.
void out_cells(OutBuffer* out, const Column* columns, int count, const Cell* cells,
               const std::size_t* widths) {
    for (int c = 0; c < count; ++c) {
        char text[CELL_TEXT_MAX];
        std::size_t n = format_cell(columns[c].kind, cells[c], "-", text);
        bool percent = !cells[c].missing &&
                       (columns[c].kind == CELL_SHARE || columns[c].kind == CELL_SHARE_CHANGE);
        std::size_t shown = n + (percent ? 1 : 0);
        if (shown < widths[c]) out_spaces(out, widths[c] - shown);
        out_bytes(out, text, n);
        if (percent) out_text(out, "%");
        out_spaces(out, 2);
    }
}

// The rows of a table: `cells_of(row, cells)` fills a row's cells and
// returns its group number.
template <typename CellsOf>
void out_rows(OutBuffer* out, const Column* columns, int count, std::int32_t rows, CellsOf cells_of,
              const RunFacts& facts, std::size_t line_columns) {
    std::size_t
        widths[DIFF_COLUMNS_MAX > RANKING_COLUMNS_MAX ? DIFF_COLUMNS_MAX : RANKING_COLUMNS_MAX];
    Cell cells[DIFF_COLUMNS_MAX > RANKING_COLUMNS_MAX ? DIFF_COLUMNS_MAX : RANKING_COLUMNS_MAX];
    for (int c = 0; c < count; ++c) widths[c] = std::strlen(columns[c].title);
    for (std::int32_t r = 0; r < rows; ++r) {
        cells_of(r, cells);
        for (int c = 0; c < count; ++c) {
            char text[CELL_TEXT_MAX];
            std::size_t w = format_cell(columns[c].kind, cells[c], "-", text);
            if (!cells[c].missing &&
                (columns[c].kind == CELL_SHARE || columns[c].kind == CELL_SHARE_CHANGE)) {
                ++w;
            }
            if (w > widths[c]) widths[c] = w;
        }
    }
    std::size_t indent = 0; // where the texts start
    for (int c = 0; c < count; ++c) indent += widths[c] + 2;
    std::size_t text_columns = 0;
    if (line_columns > 0) {
        text_columns =
            line_columns > indent + TEXT_COLUMNS_MIN ? line_columns - indent : TEXT_COLUMNS_MIN;
    }

    for (int c = 0; c < count; ++c) {
        std::size_t title = std::strlen(columns[c].title);
        out_spaces(out, widths[c] - title);
        out_text(out, columns[c].title);
        out_spaces(out, 2);
    }
    static const char TEXT_TITLE[] = "normalised text / first statement";
    static const char FOLDED_TITLE[] = "folded normalised text / first statement";
    const char* title = facts.folding != 0 ? FOLDED_TITLE : TEXT_TITLE;
    std::size_t title_length = std::strlen(title);
    if (text_columns > 0 && title_length > text_columns) { // ASCII: cut at the end
        out_bytes(out, title, text_columns - 3);
        out_text(out, "...");
    } else {
        out_text(out, title);
    }
    out_text(out, "\n");

    for (std::int32_t r = 0; r < rows; ++r) {
        std::int32_t number = cells_of(r, cells);
        out_cells(out, columns, count, cells, widths);
        const GroupExtra& extra = group_extra[number];
        auto length = static_cast<std::size_t>(extra.normalised_length);
        out_terminal_text(out, extra.normalised, length,
                          static_cast<std::size_t>(extra.normalised_full), text_columns);
        if (text_columns == 0 && extra.normalised_length < extra.normalised_full) {
            out_cut_note(out, extra.normalised_full);
        }
        out_text(out, "\n");
        out_spaces(out, indent);
        std::size_t room = text_columns;
        // "SOURCE:LINE: ", the source given at most a third of the room; a
        // narrow room is left to the statement.
        if (facts.sources && group_cost != nullptr && group_cost[number].source >= 0 &&
            (room == 0 || room >= SOURCE_ROOM_MIN)) {
            const SourceName& source = source_name(group_cost[number].source);
            std::int64_t line = group_cost[number].line;
            std::size_t line_width = (line > 0 ? 1 + decimal_width(line) : 0) + 2;
            std::size_t source_room = 0;
            if (room > 0) source_room = room / 3 > line_width + 8 ? room / 3 - line_width : 8;
            std::size_t used =
                out_terminal_end(out, source.text, static_cast<std::size_t>(source.length),
                                 source_room); // a path's end names the file
            if (line > 0) {
                out_text(out, ":");
                out_number(out, line);
            }
            out_text(out, ": ");
            used += line_width;
            if (room > 0) room = room > used + TEXT_COLUMNS_MIN ? room - used : TEXT_COLUMNS_MIN;
        }
        out_terminal_text(out, extra.example, static_cast<std::size_t>(extra.example_length),
                          static_cast<std::size_t>(extra.example_full), room);
        if (room == 0 && extra.example_length < extra.example_full) {
            out_cut_note(out, extra.example_full);
        }
        out_text(out, "\n");
    }
}

void out_tsv_cells(OutBuffer* out, const Column* columns, int count, const Cell* cells) {
    for (int c = 0; c < count; ++c) {
        char text[CELL_TEXT_MAX];
        out_bytes(out, text, format_cell(columns[c].kind, cells[c], "", text));
        out_text(out, "\t");
    }
}

void out_tsv_texts(OutBuffer* out, std::int32_t number, bool sources) {
    const GroupExtra& extra = group_extra[number];
    if (sources) {
        std::int32_t source = group_cost != nullptr ? group_cost[number].source : -1;
        if (source >= 0) {
            const SourceName& name = source_name(source);
            out_tsv_text(out, name.text, static_cast<std::size_t>(name.length));
            if (name.length < name.full) out_cut_note(out, name.full);
        }
        out_text(out, "\t");
        if (source >= 0 && group_cost[number].line > 0) out_number(out, group_cost[number].line);
        out_text(out, "\t");
    }
    out_tsv_text(out, extra.normalised, static_cast<std::size_t>(extra.normalised_length));
    if (extra.normalised_length < extra.normalised_full) out_cut_note(out, extra.normalised_full);
    out_text(out, "\t");
    out_tsv_text(out, extra.example, static_cast<std::size_t>(extra.example_length));
    if (extra.example_length < extra.example_full) out_cut_note(out, extra.example_full);
    out_text(out, "\n");
}

void out_tsv_header(OutBuffer* out, const Column* columns, int count, const RunFacts& facts) {
    for (int c = 0; c < count; ++c) {
        out_text(out, columns[c].name);
        out_text(out, "\t");
    }
    if (facts.sources) out_text(out, "source\tline\t");
    out_text(out, facts.folding != 0 ? "folded_normalised_text\tstatement\n"
                                     : "normalised_text\tstatement\n");
}

} // namespace

void write_summary(OutBuffer* out, const Ranking* ranking, const Diff* diff,
                   const RunFacts& facts) {
    if (ranking != nullptr) {
        summary_of(out, facts.input, rank_totals.after, rank_totals.groups, facts.costs);
        out_text(out, "; ");
        if (ranking->count == rank_totals.groups) {
            out_text(out, "all groups");
        } else {
            out_text(out, "top ");
            out_number(out, ranking->count);
        }
        out_text(out, " by ");
        out_text(out, key_words(facts.key));
    } else {
        summary_of(out, facts.input, rank_totals.after, counted_groups(false), facts.costs);
        out_text(out, " against ");
        summary_of(out, facts.before, rank_totals.before, counted_groups(true), facts.costs);
        out_text(out, "; by ");
        out_text(out, key_words(facts.key));
        for (int k = 0; k < SECTIONS; ++k) {
            out_text(out, k == 0 ? ": " : ", ");
            out_number(out, diff->sections[k].total);
            out_text(out, " ");
            out_text(out, SECTION_NAMES[k]);
        }
        out_text(out, ", ");
        out_number(out, diff->unchanged);
        out_text(out, " unchanged");
    }
    if (facts.folding != 0) {
        out_text(out, "; ");
        out_text(out, folding_description(facts.folding));
        out_text(out, " (groups differ from litsieve's)");
    }
    if (facts.filtered) {
        out_text(out, "; filters keep ");
        out_number(out, rank_totals.after.records);
        out_text(out, " of ");
        out_number(out, rank_totals.after.records_read);
        out_text(out, " records");
        if (diff != nullptr) {
            out_text(out, " (before: ");
            out_number(out, rank_totals.before.records);
            out_text(out, " of ");
            out_number(out, rank_totals.before.records_read);
            out_text(out, ")");
        }
    }
}

void write_table(OutBuffer* out, const Ranking& ranking, const Percentiles* percentiles,
                 const RunFacts& facts, std::size_t columns) {
    // The summary is gathered first so that it can be cut like any text.
    OutBuffer summary;
    out_open(&summary, OUT_MEMORY);
    write_summary(&summary, &ranking, nullptr, facts);
    out_terminal_text(out, summary.data, summary.used, summary.used, columns);
    out_close(&summary);
    out_text(out, "\n\n");
    if (ranking.count == 0) return;
    const Column* specs;
    int count = ranking_columns(facts.costs, &specs);
    out_rows(
        out, specs, count, ranking.count,
        [&](std::int32_t row, Cell* cells) {
            ranking_cells(ranking, percentiles, row, facts.costs, cells);
            return ranking.numbers[row];
        },
        facts, columns);
}

void write_tsv(OutBuffer* out, const Ranking& ranking, const Percentiles* percentiles,
               const RunFacts& facts) {
    const Column* specs;
    int count = ranking_columns(facts.costs, &specs);
    out_tsv_header(out, specs, count, facts);
    Cell cells[RANKING_COLUMNS_MAX];
    for (std::int32_t i = 0; i < ranking.count; ++i) {
        ranking_cells(ranking, percentiles, i, facts.costs, cells);
        out_tsv_cells(out, specs, count, cells);
        out_tsv_texts(out, ranking.numbers[i], facts.sources);
    }
}

void write_diff_table(OutBuffer* out, const Diff& diff, const RunFacts& facts,
                      std::size_t columns) {
    OutBuffer summary;
    out_open(&summary, OUT_MEMORY);
    write_summary(&summary, nullptr, &diff, facts);
    out_terminal_text(out, summary.data, summary.used, summary.used, columns);
    out_close(&summary);
    out_text(out, "\n");
    const Column* specs;
    int count = diff_columns(facts.costs, &specs);
    for (int k = 0; k < SECTIONS; ++k) {
        const DiffSection& section = diff.sections[k];
        out_text(out, "\n");
        out_text(out, SECTION_NAMES[k]);
        out_text(out, ": ");
        if (section.total == 0) {
            out_text(out, "none\n");
            continue;
        }
        if (section.count < section.total) {
            out_text(out, "top ");
            out_number(out, section.count);
            out_text(out, " of ");
        }
        out_number(out, section.total);
        out_text(out, section.total == 1 ? " group\n" : " groups\n");
        out_rows(
            out, specs, count, section.count,
            [&](std::int32_t row, Cell* cells) {
                diff_cells(diff, section.numbers[row], facts.costs, cells);
                return section.numbers[row];
            },
            facts, columns);
    }
}

void write_diff_tsv(OutBuffer* out, const Diff& diff, const RunFacts& facts) {
    const Column* specs;
    int count = diff_columns(facts.costs, &specs);
    out_text(out, "section\trank\t");
    out_tsv_header(out, specs, count, facts);
    Cell cells[DIFF_COLUMNS_MAX];
    for (int k = 0; k < SECTIONS; ++k) {
        const DiffSection& section = diff.sections[k];
        for (std::int32_t i = 0; i < section.count; ++i) {
            out_text(out, SECTION_NAMES[k]);
            out_text(out, "\t");
            out_number(out, i + 1);
            out_text(out, "\t");
            diff_cells(diff, section.numbers[i], facts.costs, cells);
            out_tsv_cells(out, specs, count, cells);
            out_tsv_texts(out, section.numbers[i], facts.sources);
        }
    }
}
