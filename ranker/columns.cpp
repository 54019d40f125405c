#include "ranker/columns.h"

#include "platform/digits.h"

#include <cstring>

namespace {

// In step with ranking_cells.
const Column RANKING[RANKING_COLUMNS_MAX] = {
    {"rank", "rank", CELL_COUNT},      {"group", "group", CELL_COUNT},
    {"size", "size", CELL_COUNT},      {"share", "share", CELL_SHARE},
    {"bytes", "bytes", CELL_COUNT},    {"first id", "first_id", CELL_COUNT},
    {"total ms", "total_ms", CELL_MS}, {"mean ms", "mean_ms", CELL_MS},
    {"p50 ms", "p50_ms", CELL_MS},     {"p95 ms", "p95_ms", CELL_MS},
    {"max ms", "max_ms", CELL_MS},
};

// In step with diff_cells.
const Column DIFF[DIFF_COLUMNS_MAX] = {
    {"group", "group", CELL_COUNT},
    {"size before", "size_before", CELL_COUNT},
    {"size", "size", CELL_COUNT},
    {"change", "size_change", CELL_COUNT_CHANGE},
    {"share before", "share_before", CELL_SHARE},
    {"share", "share", CELL_SHARE},
    {"change", "share_change", CELL_SHARE_CHANGE},
    {"total ms before", "total_ms_before", CELL_MS},
    {"total ms", "total_ms", CELL_MS},
    {"change", "total_ms_change", CELL_MS_CHANGE},
    {"mean ms before", "mean_ms_before", CELL_MS},
    {"mean ms", "mean_ms", CELL_MS},
    {"change", "mean_ms_change", CELL_MS_CHANGE},
};
constexpr int DIFF_PLAIN_COLUMNS = 7;

// Digits of |value| / 10^decimals, a point and `decimals` digits.
std::size_t format_fixed(std::int64_t value, int decimals, bool sign, char* out) {
    std::size_t n = 0;
    bool negative = value < 0;
    std::uint64_t v =
        negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    if (negative) {
        out[n++] = '-';
    } else if (sign && value > 0) {
        out[n++] = '+';
    }
    std::uint64_t scale = decimals == 3 ? 1000 : decimals == 2 ? 100 : 1;
    char digits[DECIMAL_MOST + 1];
    char* end = digits + sizeof digits;
    char* first = format_decimal(static_cast<std::int64_t>(v / scale), end);
    std::memcpy(out + n, first, static_cast<std::size_t>(end - first));
    n += static_cast<std::size_t>(end - first);
    if (decimals > 0) {
        out[n++] = '.';
        std::uint64_t fraction = v % scale;
        for (int d = decimals - 1; d >= 0; --d) {
            std::uint64_t power = d == 2 ? 100 : d == 1 ? 10 : 1;
            out[n++] = static_cast<char>('0' + fraction / power % 10);
        }
    }
    out[n] = '\0';
    return n;
}

Cell value(std::int64_t v) {
    return {v, false};
}
Cell maybe(std::int64_t v) {
    return {v, v < 0};
}
Cell missing() {
    return {0, true};
}

} // namespace

std::size_t format_cell(CellKind kind, Cell cell, const char* missing_text, char* out) {
    if (cell.missing) {
        std::size_t n = std::strlen(missing_text);
        std::memcpy(out, missing_text, n + 1);
        return n;
    }
    switch (kind) {
    case CELL_SHARE:
        return format_fixed(cell.value, 2, false, out);
    case CELL_SHARE_CHANGE:
        return format_fixed(cell.value, 2, true, out);
    case CELL_MS:
        return format_fixed(cell.value, 3, false, out);
    case CELL_MS_CHANGE:
        return format_fixed(cell.value, 3, true, out);
    case CELL_COUNT_CHANGE:
        return format_fixed(cell.value, 0, true, out);
    default:
        return format_fixed(cell.value, 0, false, out);
    }
}

int ranking_columns(bool costs, const Column** columns) {
    *columns = RANKING;
    return costs ? RANKING_COLUMNS_MAX : RANKING_COLUMNS_MAX - RANKING_COST_COLUMNS;
}

void ranking_cells(const Ranking& ranking, const Percentiles* percentiles, std::int32_t place,
                   bool costs, Cell* cells) {
    std::int32_t number = ranking.numbers[place];
    const GroupExtra& extra = group_extra[number];
    cells[0] = value(place + 1);
    cells[1] = value(reported_group_number(number));
    cells[2] = value(extra.size);
    cells[3] = value(share_basis_points(extra.size, rank_totals.after.records));
    cells[4] = value(extra.bytes);
    cells[5] = value(extra.first_id);
    if (!costs) return;
    const GroupCost& cost = group_cost[number];
    bool timed = cost.timed > 0;
    cells[6] = timed ? value(cost.total_us) : missing();
    cells[7] = timed ? value(mean_us(cost.total_us, cost.timed)) : missing();
    cells[8] = percentiles != nullptr ? maybe(percentiles[place].p50_us) : missing();
    cells[9] = percentiles != nullptr ? maybe(percentiles[place].p95_us) : missing();
    cells[10] = timed ? value(cost.max_us) : missing();
}

int diff_columns(bool costs, const Column** columns) {
    *columns = DIFF;
    return costs ? DIFF_COLUMNS_MAX : DIFF_PLAIN_COLUMNS;
}

void diff_cells(const Diff& diff, std::int32_t number, bool costs, Cell* cells) {
    const GroupExtra& extra = group_extra[number];
    const GroupBefore& before = group_before[number];
    std::int64_t share_after = share_basis_points(extra.size, rank_totals.after.records);
    std::int64_t share_before = share_basis_points(before.size, rank_totals.before.records);
    cells[0] = number <= diff.last_input_group ? value(reported_group_number(number)) : missing();
    cells[1] = value(before.size);
    cells[2] = value(extra.size);
    cells[3] = value(std::int64_t{extra.size} - before.size);
    cells[4] = value(share_before);
    cells[5] = value(share_after);
    cells[6] = value(share_after - share_before);
    if (!costs) return;
    const GroupCost& cost = group_cost[number];
    std::int64_t after_total = extra.size > 0 ? cost.total_us : 0;
    std::int64_t after_mean = extra.size > 0 ? mean_us(cost.total_us, cost.timed) : -1;
    std::int64_t before_mean = mean_us(before.total_us, before.timed);
    cells[7] = value(before.total_us);
    cells[8] = value(after_total);
    cells[9] = value(after_total - before.total_us);
    cells[10] = maybe(before_mean);
    cells[11] = maybe(after_mean);
    cells[12] = before_mean >= 0 && after_mean >= 0 ? value(after_mean - before_mean) : missing();
}
