#include "ranker/report_check.h"

#include "analyzer/report.h"
#include "analyzer/statement_groups.h"
#include "platform/block_reader.h"
#include "platform/digits.h"
#include "platform/exit_statuses.h"
#include "platform/messages.h"

#include <cstring>

namespace {

const char BANNER_START[] = "Literal Sieve version ";
constexpr std::size_t BLOCK = 64 * 1024;

// The report, read a block at a time and cut into lines. A line is kept
// only up to LINE_KEPT bytes; a longer one cannot be a report line anyway.
constexpr std::size_t LINE_KEPT = 128;

struct ReportReader {
    BlockReader file;
    char line[LINE_KEPT];
    std::size_t line_length; // bytes kept in `line`, the LF included
    bool line_long;          // the line went on beyond LINE_KEPT
    std::int64_t number;     // line number of `line`, from 1
};

// The next line (through its LF, or what the file ends with) into r->line;
// false at the end of the file.
bool next_line(ReportReader* r) {
    BlockReader& f = r->file;
    r->line_length = 0;
    r->line_long = false;
    for (;;) {
        if (f.begin == f.end) {
            fill_block(&f, 1);
            if (f.begin == f.end) break;
        }
        char c = f.block[f.begin++];
        if (r->line_length < LINE_KEPT) {
            r->line[r->line_length++] = c;
        } else {
            r->line_long = true;
        }
        if (c == '\n') break;
    }
    if (r->line_length == 0) return false;
    ++r->number;
    return true;
}

void add_quoted(Message* m, const char* text, std::size_t length, bool cut) {
    std::size_t shown = length < REPORT_LINE_SHOWN ? length : REPORT_LINE_SHOWN;
    message_add(m, "\"");
    for (std::size_t i = 0; i < shown; ++i) {
        auto b = static_cast<unsigned char>(text[i]);
        char piece[5] = {0, 0, 0, 0, 0};
        switch (b) {
        case '\t':
            std::memcpy(piece, "\\t", 2);
            break;
        case '\r':
            std::memcpy(piece, "\\r", 2);
            break;
        case '\n':
            std::memcpy(piece, "\\n", 2);
            break;
        case '"':
            std::memcpy(piece, "\\\"", 2);
            break;
        case '\\':
            std::memcpy(piece, "\\\\", 2);
            break;
        default:
            if (b < 0x20 || b >= 0x7F) {
                piece[0] = '\\';
                piece[1] = 'x';
                piece[2] = HEX_DIGITS[b >> 4];
                piece[3] = HEX_DIGITS[b & 15];
            } else {
                piece[0] = static_cast<char>(b);
            }
        }
        message_add(m, piece);
    }
    message_add(m, "\"");
    if (cut || shown < length) message_add(m, "...");
}

// "Report REPORT does not belong to INPUT", which every mismatch begins with.
void start_mismatch(Message* m, const ReportReader& r, const char* input_path) {
    message_start(m);
    message_add(m, "Report ");
    message_add_name(m, r.file.path);
    message_add(m, " does not belong to ");
    message_add_name(m, input_path);
}

[[noreturn]] void fail_mismatch(const ReportReader& r, const char* input_path, const char* expected,
                                std::size_t expected_length, bool found) {
    Message m;
    start_mismatch(&m, r, input_path);
    message_add(&m, ": line ");
    message_add_number(&m, found ? r.number : r.number + 1);
    message_add(&m, " should be ");
    if (expected != nullptr) {
        add_quoted(&m, expected, expected_length, false);
    } else {
        message_add(&m, "the end of the file");
    }
    message_add(&m, " but is ");
    if (found) {
        add_quoted(&m, r.line, r.line_length, r.line_long);
    } else {
        message_add(&m, "the end of the file");
    }
    message_add(&m, ".\n");
    fail(EXIT_INPUT, m.text);
}

inline bool is_empty_line(const ReportReader& r) {
    return (r.line_length == 1 && r.line[0] == '\n') ||
           (r.line_length == 2 && r.line[0] == '\r' && r.line[1] == '\n');
}

// A banner without the empty line that ends it: nothing follows it that
// could be report lines.
[[noreturn]] void fail_banner(const ReportReader& r, const char* input_path) {
    Message m;
    start_mismatch(&m, r, input_path);
    message_add(&m, ": its banner (line 1) has no empty line after it.\n");
    fail(EXIT_INPUT, m.text);
}

inline bool line_is(const ReportReader& r, const char* text, std::size_t length) {
    return !r.line_long && r.line_length == length && std::memcmp(r.line, text, length) == 0;
}

} // namespace

/*
 * 1. Open the report; skip a banner (its first line, through the first
 *    empty line, LF or CR LF) when the file starts with one.
 * 2. For each listed record, in input order, the line litsieve writes for
 *    it. A record of a group of one has a line only in a "-full" report: the
 *    first such record decides which kind of report this is, by whether the
 *    next line is its line.
 * 3. The expected line must be the next line; after the last record the
 *    report must end.
 */
void check_report(const char* report_path, const char* input_path) {
    ReportReader r = {};
    open_block_reader(&r.file, report_path, BLOCK); // 1.

    bool have = next_line(&r);
    if (have && r.line_length >= sizeof BANNER_START - 1 &&
        std::memcmp(r.line, BANNER_START, sizeof BANNER_START - 1) == 0) {
        // The banner ends at its empty line: LF, or CR LF where standard
        // output was written in text mode or the file was converted.
        do {
            have = next_line(&r);
        } while (have && !is_empty_line(r));
        if (!have) fail_banner(r, input_path);
        have = next_line(&r);
    }

    enum { UNDECIDED, SHARED_ONLY, FULL } kind = UNDECIDED;
    char expected[REPORT_LINE_MAX];
    for (std::int32_t i = 0; i <= record_list.last; ++i) { // 2.
        const ListedRecord& record = record_list.base[i];
        const StatementGroup& group = group_of(record);
        std::size_t length =
            format_report_line(expected, record.id, reported_group_number(group.number), group.size,
                               group.first_member);
        if (group.size <= 1) {
            if (kind == UNDECIDED) kind = have && line_is(r, expected, length) ? FULL : SHARED_ONLY;
            if (kind == SHARED_ONLY) continue;
        }
        if (!have || !line_is(r, expected, length)) { // 3.
            fail_mismatch(r, input_path, expected, length, have);
        }
        have = next_line(&r);
    }
    if (have) fail_mismatch(r, input_path, nullptr, 0, true);
    close_block_reader(&r.file);
}
