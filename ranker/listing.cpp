#include "ranker/listing.h"

#include "platform/digits.h"

#include <cstring>

namespace {

struct Column {
    const char* title;
    std::size_t width;
};

enum { RANK, GROUP, SIZE, SHARE, BYTES, FIRST_ID, NUMBER_COLUMNS };

std::int64_t cell_value(const Ranking& ranking, std::int32_t place, int column) {
    std::int32_t number = ranking.numbers[place];
    const StatementGroup& group = group_table.base[number];
    switch (column) {
    case RANK:
        return place + 1;
    case GROUP:
        return reported_group_number(number);
    case SIZE:
        return group.size;
    case SHARE:
        return share_basis_points(group.size, rank_totals.records);
    case BYTES:
        return group_extra[number].bytes;
    default:
        return group.first_member;
    }
}

// Width of a share as written: "41.50%".
std::size_t share_width(std::int64_t basis_points) {
    return decimal_width(basis_points / 100) + 4;
}

void out_cut_note(OutBuffer* out, std::int32_t full) {
    out_text(out, " ... (");
    out_number(out, full);
    out_text(out, " bytes)");
}

} // namespace

void write_table(OutBuffer* out, const Ranking& ranking, const char* input_path,
                 std::size_t columns) {
    // The summary is gathered first so that it can be cut like any text.
    OutBuffer summary;
    out_open(&summary, OUT_MEMORY);
    out_text(&summary, input_path);
    out_text(&summary, ": ");
    out_number(&summary, rank_totals.records);
    out_text(&summary, " records in ");
    out_number(&summary, group_count());
    out_text(&summary, " groups, ");
    out_number(&summary, rank_totals.bytes);
    out_text(&summary, " statement bytes; ");
    if (ranking.count == group_count()) {
        out_text(&summary, "all groups");
    } else {
        out_text(&summary, "top ");
        out_number(&summary, ranking.count);
    }
    out_text(&summary, ranking.key == RANK_BY_BYTES ? " by bytes" : " by size");
    out_terminal_text(out, summary.data, summary.used, columns);
    out_close(&summary);
    out_text(out, "\n\n");
    if (ranking.count == 0) return;

    Column table[NUMBER_COLUMNS] = {{"rank", 0},  {"group", 0}, {"size", 0},
                                    {"share", 0}, {"bytes", 0}, {"first id", 0}};
    for (int c = 0; c < NUMBER_COLUMNS; ++c) {
        table[c].width = std::strlen(table[c].title);
        for (std::int32_t i = 0; i < ranking.count; ++i) {
            std::int64_t v = cell_value(ranking, i, c);
            std::size_t w = c == SHARE ? share_width(v) : decimal_width(v);
            if (w > table[c].width) table[c].width = w;
        }
    }
    std::size_t indent = 0; // where the texts start
    for (const Column& c : table) indent += c.width + 2;
    std::size_t text_columns = 0;
    if (columns > 0) {
        text_columns = columns > indent + TEXT_COLUMNS_MIN ? columns - indent : TEXT_COLUMNS_MIN;
    }

    for (const Column& c : table) {
        std::size_t title = std::strlen(c.title);
        out_spaces(out, c.width - title);
        out_text(out, c.title);
        out_spaces(out, 2);
    }
    static const char TEXT_TITLE[] = "normalised text / first statement";
    out_terminal_text(out, TEXT_TITLE, sizeof TEXT_TITLE - 1, text_columns);
    out_text(out, "\n");

    for (std::int32_t i = 0; i < ranking.count; ++i) {
        for (int c = 0; c < NUMBER_COLUMNS; ++c) {
            std::int64_t v = cell_value(ranking, i, c);
            if (c == SHARE) {
                out_spaces(out, table[c].width - share_width(v));
                out_basis_points(out, v);
                out_text(out, "%");
            } else {
                out_padded_number(out, v, table[c].width);
            }
            out_spaces(out, 2);
        }
        const GroupExtra& extra = group_extra[ranking.numbers[i]];
        out_terminal_text(out, extra.normalized, static_cast<std::size_t>(extra.normalized_length),
                          text_columns);
        if (text_columns == 0 && extra.normalized_length < extra.normalized_full) {
            out_cut_note(out, extra.normalized_full);
        }
        out_text(out, "\n");
        out_spaces(out, indent);
        out_terminal_text(out, extra.example, static_cast<std::size_t>(extra.example_length),
                          text_columns);
        if (text_columns == 0 && extra.example_length < extra.example_full) {
            out_cut_note(out, extra.example_full);
        }
        out_text(out, "\n");
    }
}

void write_tsv(OutBuffer* out, const Ranking& ranking) {
    out_text(out, "rank\tgroup\tsize\tshare\tbytes\tfirst_id\tnormalized_text\tstatement\n");
    for (std::int32_t i = 0; i < ranking.count; ++i) {
        for (int c = 0; c < NUMBER_COLUMNS; ++c) {
            std::int64_t v = cell_value(ranking, i, c);
            if (c == SHARE) {
                out_basis_points(out, v);
            } else {
                out_number(out, v);
            }
            out_text(out, "\t");
        }
        const GroupExtra& extra = group_extra[ranking.numbers[i]];
        out_tsv_text(out, extra.normalized, static_cast<std::size_t>(extra.normalized_length));
        if (extra.normalized_length < extra.normalized_full)
            out_cut_note(out, extra.normalized_full);
        out_text(out, "\t");
        out_tsv_text(out, extra.example, static_cast<std::size_t>(extra.example_length));
        if (extra.example_length < extra.example_full) out_cut_note(out, extra.example_full);
        out_text(out, "\n");
    }
}
