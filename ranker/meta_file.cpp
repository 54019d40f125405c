#include "ranker/meta_file.h"

#include "escape/escape.h"
#include "platform/allocation.h"
#include "platform/exit_statuses.h"
#include "platform/messages.h"

#include <cstring>

namespace {

const char HEADER[] = "id\tsource\tline\tduration_ms\tuser\tdatabase\ttime";

// Bytes the reader asks for at a time; a line must fit in one block.
constexpr std::size_t META_BLOCK = META_LINE_MAX;

// Longest field text shown in a message.
constexpr std::size_t FIELD_SHOWN = 60;

void add_field(Message* msg, const char* text, std::size_t length) {
    char copy[FIELD_SHOWN + 1];
    std::size_t n = length < FIELD_SHOWN ? length : FIELD_SHOWN;
    std::memcpy(copy, text, n);
    copy[n] = '\0';
    char shown[4 * FIELD_SHOWN + 1];
    escape_for_message(copy, shown, sizeof shown);
    message_add(msg, "\"");
    message_add(msg, shown);
    message_add(msg, n < length ? "...\"" : "\"");
}

// "Metadata M" and, for a file that does not belong to the input, " does
// not belong to INPUT: "; else ": ".
void start_message(Message* msg, const MetaFile& m, bool belonging) {
    message_start(msg);
    message_add(msg, "Metadata ");
    message_add_name(msg, m.file.path);
    if (belonging) {
        message_add(msg, " does not belong to ");
        message_add_name(msg, m.input_path);
    }
    message_add(msg, ": ");
}

[[noreturn]] void fail_line(const MetaFile& m, const char* what, const char* field,
                            const char* field_end) {
    Message msg;
    start_message(&msg, m, false);
    message_add(&msg, "line ");
    message_add_number(&msg, m.line);
    message_add(&msg, what);
    if (field != nullptr) add_field(&msg, field, static_cast<std::size_t>(field_end - field));
    message_add(&msg, ".\n");
    fail(EXIT_INPUT, msg.text);
}

// The next line without its LF (and a CR before it) as [*start, *end);
// false at the end of the file.
bool next_line(MetaFile* m, const char** start, const char** end) {
    BlockReader& f = m->file;
    const char* lf = nullptr;
    for (;;) {
        const char* p = f.block + f.begin;
        lf = static_cast<const char*>(std::memchr(p, '\n', unconsumed(f)));
        if (lf != nullptr || f.at_end) break;
        if (unconsumed(f) >= f.capacity) {
            ++m->line;
            fail_line(*m, " is longer than 1 MiB", nullptr, nullptr);
        }
        fill_block(&f, unconsumed(f) + 1);
    }
    if (unconsumed(f) == 0) return false;
    ++m->line;
    *start = f.block + f.begin;
    const char* stop = lf != nullptr ? lf : f.block + f.end;
    f.begin = static_cast<std::size_t>(stop - f.block) + (lf != nullptr ? 1 : 0);
    if (stop > *start && stop[-1] == '\r') --stop;
    *end = stop;
    return true;
}

// Splits [p, end) at tabs into at most META_FIELDS fields; returns how many.
int split_fields(const char* p, const char* end, const char* starts[], const char* ends[]) {
    int n = 0;
    for (;;) {
        const char* tab =
            static_cast<const char*>(std::memchr(p, '\t', static_cast<std::size_t>(end - p)));
        starts[n] = p;
        ends[n] = tab != nullptr ? tab : end;
        ++n;
        if (tab == nullptr || n == META_FIELDS) return n;
        p = tab + 1;
    }
}

// A decimal integer of at most 18 digits, with a '-' for `sign`.
bool parse_integer(const char* p, const char* end, bool sign, std::int64_t* value) {
    bool negative = sign && p < end && *p == '-';
    if (negative) ++p;
    if (p == end || end - p > 18) return false;
    std::int64_t v = 0;
    for (; p < end; ++p) {
        if (*p < '0' || *p > '9') return false;
        v = v * 10 + (*p - '0');
    }
    *value = negative ? -v : v;
    return true;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// A text field, unescaped into `field` when it holds a backslash; else the
// bytes in the block. Null for an empty field.
const char* text_field(MetaFile* m, MetaField* field, const char* p, const char* end,
                       std::size_t* length) {
    auto n = static_cast<std::size_t>(end - p);
    *length = n;
    if (n == 0) return nullptr;
    if (std::memchr(p, '\\', n) == nullptr) return p;
    if (field->capacity < n) {
        field->capacity = n < 256 ? 256 : n;
        field->data =
            static_cast<char*>(checked_realloc(field->data, field->capacity, NOT_ENOUGH_MEMORY));
    }
    std::int64_t unescaped = unescape_field(p, n, field->data);
    if (unescaped < 0) fail_line(*m, " has a bad escape in ", p, end);
    *length = static_cast<std::size_t>(unescaped);
    return field->data;
}

} // namespace

std::int64_t parse_duration_us(const char* text, std::size_t length) {
    if (length == 0) return -1;
    const char* p = text;
    const char* end = text + length;
    std::int64_t ms = 0;
    int digits = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        if (++digits > 15) return -2;
        ms = ms * 10 + (*p - '0');
    }
    std::int64_t us = ms * 1000;
    if (p < end && *p == '.') {
        ++p;
        std::int64_t scale = 100;
        bool round_up = false;
        for (int k = 0; p < end && *p >= '0' && *p <= '9'; ++p, ++k) {
            if (k < 3) {
                us += (*p - '0') * scale;
                scale /= 10;
            } else if (k == 3) {
                round_up = *p >= '5';
            }
            ++digits;
        }
        if (round_up) ++us;
    }
    if (p != end || digits == 0) return -2;
    return us;
}

std::int64_t unescape_field(const char* text, std::size_t length, char* out) {
    const char* p = text;
    const char* end = text + length;
    char* o = out;
    while (p < end) {
        if (*p != '\\') {
            *o++ = *p++;
            continue;
        }
        if (end - p < 2) return -1;
        switch (p[1]) {
        case '\\':
            *o++ = '\\';
            p += 2;
            continue;
        case 't':
            *o++ = '\t';
            p += 2;
            continue;
        case 'n':
            *o++ = '\n';
            p += 2;
            continue;
        case 'r':
            *o++ = '\r';
            p += 2;
            continue;
        case 'x': {
            if (end - p < 4) return -1;
            int high = hex_value(p[2]);
            int low = hex_value(p[3]);
            if (high < 0 || low < 0) return -1;
            *o++ = static_cast<char>(high << 4 | low);
            p += 4;
            continue;
        }
        case 'u': {
            // \u{NNNN}: four to six hex digits, a character written as UTF-8.
            if (end - p < 8 || p[2] != '{') return -1;
            const char* q = p + 3;
            std::uint32_t code = 0;
            int digits = 0;
            for (; q < end && *q != '}'; ++q, ++digits) {
                int v = hex_value(*q);
                if (v < 0 || digits == 6) return -1;
                code = code << 4 | static_cast<std::uint32_t>(v);
            }
            if (q == end || digits < 4 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
                return -1;
            }
            if (code < 0x80) {
                *o++ = static_cast<char>(code);
            } else if (code < 0x800) {
                *o++ = static_cast<char>(0xC0 | code >> 6);
                *o++ = static_cast<char>(0x80 | (code & 0x3F));
            } else if (code < 0x10000) {
                *o++ = static_cast<char>(0xE0 | code >> 12);
                *o++ = static_cast<char>(0x80 | (code >> 6 & 0x3F));
                *o++ = static_cast<char>(0x80 | (code & 0x3F));
            } else {
                *o++ = static_cast<char>(0xF0 | code >> 18);
                *o++ = static_cast<char>(0x80 | (code >> 12 & 0x3F));
                *o++ = static_cast<char>(0x80 | (code >> 6 & 0x3F));
                *o++ = static_cast<char>(0x80 | (code & 0x3F));
            }
            p = q + 1;
            continue;
        }
        default:
            return -1;
        }
    }
    return o - out;
}

void open_meta(MetaFile* m, const char* path, const char* input_path) {
    std::memset(m, 0, sizeof *m);
    m->input_path = input_path;
    open_block_reader(&m->file, path, META_BLOCK);
    const char* start;
    const char* end;
    bool have = next_line(m, &start, &end);
    std::size_t n = sizeof HEADER - 1;
    if (have && static_cast<std::size_t>(end - start) >= n && std::memcmp(start, HEADER, n) == 0 &&
        (static_cast<std::size_t>(end - start) == n || start[n] == '\t')) {
        return;
    }
    Message msg;
    start_message(&msg, *m, false);
    message_add(&msg, "line 1 should begin with the header ");
    add_field(&msg, HEADER, n);
    message_add(&msg, " but ");
    if (have) {
        message_add(&msg, "is ");
        add_field(&msg, start, static_cast<std::size_t>(end - start));
    } else {
        message_add(&msg, "the file is empty");
    }
    message_add(&msg, ".\n");
    fail(EXIT_INPUT, msg.text);
}

/*
 * 1. The line; the end of the file is a mismatch.
 * 2. Its seven fields; the id must be the record's.
 * 3. The numbers, then the texts (unescaped only when they hold escapes).
 */
const RecordMeta* next_meta(MetaFile* m, std::int32_t id) {
    const char* start;
    const char* end;
    if (!next_line(m, &start, &end)) { // 1.
        Message msg;
        start_message(&msg, *m, true);
        message_add(&msg, "it ends after line ");
        message_add_number(&msg, m->line);
        message_add(&msg, " but record ");
        message_add_number(&msg, id);
        message_add(&msg, " follows.\n");
        fail(EXIT_INPUT, msg.text);
    }
    const char* starts[META_FIELDS];
    const char* ends[META_FIELDS];
    int fields = split_fields(start, end, starts, ends); // 2.
    if (fields < META_FIELDS) fail_line(*m, " has fewer than 7 fields: ", start, end);
    std::int64_t line_id;
    if (!parse_integer(starts[0], ends[0], true, &line_id)) {
        fail_line(*m, ": the id is not a number: ", starts[0], ends[0]);
    }
    if (line_id != id) {
        Message msg;
        start_message(&msg, *m, true);
        message_add(&msg, "line ");
        message_add_number(&msg, m->line);
        message_add(&msg, " is for record ");
        message_add_number(&msg, line_id);
        message_add(&msg, " but the record there is ");
        message_add_number(&msg, id);
        message_add(&msg, ".\n");
        fail(EXIT_INPUT, msg.text);
    }
    RecordMeta& meta = m->meta; // 3.
    meta.line = 0;
    if (starts[2] != ends[2] && !parse_integer(starts[2], ends[2], false, &meta.line)) {
        fail_line(*m, ": the line number is not a number: ", starts[2], ends[2]);
    }
    meta.duration_us = parse_duration_us(starts[3], static_cast<std::size_t>(ends[3] - starts[3]));
    if (meta.duration_us == -2) {
        fail_line(*m, ": duration_ms is not a number of milliseconds: ", starts[3], ends[3]);
    }
    meta.source = text_field(m, &m->source, starts[1], ends[1], &meta.source_length);
    meta.user = text_field(m, &m->user, starts[4], ends[4], &meta.user_length);
    meta.database = text_field(m, &m->database, starts[5], ends[5], &meta.database_length);
    return &meta;
}

void close_meta(MetaFile* m) {
    const char* start;
    const char* end;
    if (next_line(m, &start, &end)) {
        const char* starts[META_FIELDS];
        const char* ends[META_FIELDS];
        split_fields(start, end, starts, ends);
        Message msg;
        start_message(&msg, *m, true);
        message_add(&msg, "line ");
        message_add_number(&msg, m->line);
        message_add(&msg, " is for record ");
        add_field(&msg, starts[0], static_cast<std::size_t>(ends[0] - starts[0]));
        message_add(&msg, " but ");
        message_add_name(&msg, m->input_path);
        message_add(&msg, " has no more records.\n");
        fail(EXIT_INPUT, msg.text);
    }
    close_block_reader(&m->file);
    release(m->source.data);
    release(m->user.data);
    release(m->database.data);
}
