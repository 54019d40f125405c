#include "packer/format_detect.h"

#include "packer/log_input.h"
#include "packer/mysql_logs.h"
#include "packer/pg_logs.h"

#include <cstring>

const char* const FORMAT_NAMES[FORMAT_COUNT] = {
    "auto", "sql", "lines", "mysql-slow", "mysql-general", "pg-log", "pg-csv",
};

bool format_from_name(const char* name, InputFormat* format) {
    for (int f = 0; f < FORMAT_COUNT; ++f) {
        if (std::strcmp(name, FORMAT_NAMES[f]) == 0) {
            *format = static_cast<InputFormat>(f);
            return true;
        }
    }
    return false;
}

namespace {

bool is_blank_line(const char* body, std::size_t length) {
    for (std::size_t k = 0; k < length; ++k) {
        if (body[k] != ' ' && body[k] != '\t') return false;
    }
    return true;
}

// The format a significant line shows, or FORMAT_AUTO to pass over it.
InputFormat judge_line(const char* line, std::size_t length, bool* banner) {
    std::size_t body = line_body_length(line, length);
    if (is_blank_line(line, body) || line[0] == '\t') {
        GeneralEntry entry{};
        if (body > 0 && parse_general_entry(line, length, &entry)) return FORMAT_MYSQL_GENERAL;
        return FORMAT_AUTO;
    }
    if (is_mysql_banner_line(line, body)) {
        *banner = true;
        return FORMAT_AUTO;
    }
    if (is_slow_entry_header(line, body)) return FORMAT_MYSQL_SLOW;
    // A script that opens with a comment is a script, whatever the comment says.
    if (starts_with(line, body, "--") || starts_with(line, body, "/*")) return FORMAT_SQL;
    GeneralEntry entry{};
    if (parse_general_entry(line, length, &entry)) return FORMAT_MYSQL_GENERAL;
    std::size_t stamp = pg_timestamp_length(line, body);
    if (stamp > 0 && stamp < body && line[stamp] == ',') return FORMAT_PG_CSV;
    std::size_t label = 0;
    std::size_t text = 0;
    PgSeverity severity = PG_NONE;
    if (pg_find_severity(line, body, &label, &severity, &text)) return FORMAT_PG_LOG;
    return FORMAT_SQL;
}

} // namespace

InputFormat detect_format(const char* text, std::size_t length, bool at_end) {
    bool banner = false;
    const char* p = text;
    const char* end = text + length;
    while (p < end) {
        const void* lf = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
        if (lf == nullptr && !at_end && length < DETECT_WINDOW) return FORMAT_AUTO;
        const char* stop = lf == nullptr ? end : static_cast<const char*>(lf) + 1;
        InputFormat f = judge_line(p, static_cast<std::size_t>(stop - p), &banner);
        if (f != FORMAT_AUTO) return f;
        p = stop;
    }
    if (!at_end && length < DETECT_WINDOW) return FORMAT_AUTO;
    return banner ? FORMAT_MYSQL_SLOW : FORMAT_SQL;
}
