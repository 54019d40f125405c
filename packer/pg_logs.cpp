#include "packer/pg_logs.h"

#include <cstring>

namespace {

inline bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

inline bool is_letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

inline bool is_identifier(char c) {
    return is_letter(c) || is_digit(c) || c == '_' || c == '$' ||
           static_cast<unsigned char>(c) >= 0x80;
}

bool same(TextRef a, const ByteBuffer& b) {
    return a.length == b.size && (a.length == 0 || std::memcmp(a.data, b.data, a.length) == 0);
}

// ---- parameters -----------------------------------------------------------

// The value of parameter `number` in a list "$1 = '42', $2 = NULL, ...":
// a quoted value with its quotes (doubled quotes inside), or the bare word.
bool find_parameter(TextRef list, std::uint32_t number, TextRef* value) {
    const char* p = list.data;
    const char* end = p + list.length;
    while (p < end) {
        while (p < end && *p != '$') ++p;
        if (p == end) return false;
        ++p;
        std::uint32_t n = 0;
        const char* digits = p;
        while (p < end && is_digit(*p) && p - digits < 9)
            n = n * 10 + static_cast<std::uint32_t>(*p++ - '0');
        if (p == digits || end - p < 3 || std::memcmp(p, " = ", 3) != 0) continue;
        p += 3;
        const char* v = p;
        if (p < end && *p == '\'') {
            ++p;
            for (;;) {
                const void* q = std::memchr(p, '\'', static_cast<std::size_t>(end - p));
                if (q == nullptr) {
                    p = end;
                    break;
                }
                p = static_cast<const char*>(q) + 1;
                if (p < end && *p == '\'') {
                    ++p;
                    continue;
                }
                break;
            }
        } else {
            while (p < end && !(p[0] == ',' && p + 1 < end && p[1] == ' ')) ++p;
        }
        if (n == number) {
            *value = TextRef{v, static_cast<std::size_t>(p - v)};
            return true;
        }
    }
    return false;
}

// Copies text[from, to) to out.
inline bool copy(ByteBuffer* out, const char* from, const char* to) {
    return buffer_append(out, from, static_cast<std::size_t>(to - from));
}

// End of the quoted text opened by the quote at p (escapes: E'' strings).
const char* quoted_end(const char* p, const char* end, bool escapes) {
    char q = *p++;
    while (p < end) {
        if (*p == '\\' && escapes) {
            p += 2;
            continue;
        }
        if (*p++ == q) {
            if (p < end && *p == q) {
                ++p;
                continue;
            }
            return p;
        }
    }
    return end;
}

// ---- the tracker ----------------------------------------------------------

PgPending* find_pending(PgTracker* t, TextRef process) {
    for (PgPending& p : t->pending) {
        if (p.used && same(process, p.process)) return &p;
    }
    return nullptr;
}

// Hands on one entry: text with parameters put in, and its metadata.
bool emit_entry(PgTracker* t, const EntryMeta& meta, std::int64_t line, TextRef text,
                TextRef parameters) {
    if (parameters.length > 0) {
        if (!substitute_parameters(text, parameters, &t->statement)) {
            t->out_of_memory = true;
            return false;
        }
        text = text_of(t->statement);
    }
    return t->sink.begin(t->sink.context, &meta, line) &&
           t->sink.text(t->sink.context, text.data, text.length) && t->sink.end(t->sink.context);
}

bool emit_pending(PgTracker* t, PgPending* p, TextRef duration) {
    EntryMeta meta{duration, text_of(p->user), text_of(p->database), text_of(p->time)};
    p->used = false;
    return emit_entry(t, meta, p->line, text_of(p->text), text_of(p->parameters));
}

bool keep_pending(PgTracker* t, const PgMessage* m, TextRef text, TextRef parameters) {
    PgPending* slot = nullptr;
    for (PgPending& p : t->pending) {
        if (!p.used) {
            slot = &p;
            break;
        }
    }
    if (slot == nullptr) { // full: the longest-waiting goes on without a duration
        slot = &t->pending[0];
        for (PgPending& p : t->pending) {
            if (p.order < slot->order) slot = &p;
        }
        if (!emit_pending(t, slot, TextRef{nullptr, 0})) return false;
    }
    bool ok = buffer_assign(&slot->process, m->process.data, m->process.length) &&
              buffer_assign(&slot->time, m->time.data, m->time.length) &&
              buffer_assign(&slot->user, m->user.data, m->user.length) &&
              buffer_assign(&slot->database, m->database.data, m->database.length) &&
              buffer_assign(&slot->text, text.data, text.length) &&
              buffer_assign(&slot->parameters, parameters.data, parameters.length);
    if (!ok) {
        t->out_of_memory = true;
        return false;
    }
    slot->used = true;
    slot->order = t->order++;
    slot->line = m->line;
    return true;
}

enum LogKind { KIND_OTHER, KIND_STATEMENT, KIND_EXECUTE, KIND_DURATION_ONLY };

// Reads a LOG message: its duration (when it starts with one), and what
// follows it. `text` is the statement text of a statement or execute.
LogKind read_log_message(TextRef message, TextRef* duration, TextRef* text) {
    const char* p = message.data;
    const char* end = p + message.length;
    *duration = TextRef{nullptr, 0};
    if (starts_with(p, message.length, "duration: ")) {
        const char* number = p + 10;
        const char* q = number;
        while (q < end && (is_digit(*q) || *q == '.')) ++q;
        if (q == number || end - q < 3 || std::memcmp(q, " ms", 3) != 0) return KIND_OTHER;
        *duration = TextRef{number, static_cast<std::size_t>(q - number)};
        p = q + 3;
        while (p < end && *p == ' ') ++p;
        if (p == end) return KIND_DURATION_ONLY;
    }
    std::size_t left = static_cast<std::size_t>(end - p);
    if (starts_with(p, left, "statement: ")) {
        *text = TextRef{p + 11, left - 11};
        return KIND_STATEMENT;
    }
    if (starts_with(p, left, "execute ")) {
        // "execute <name>: ", "execute S_1/C_2: ", "execute fetch from S_1/C_2: "
        const char* colon = find_text(p, left, ": ");
        if (colon == nullptr) return KIND_OTHER;
        *text = TextRef{colon + 2, static_cast<std::size_t>(end - colon - 2)};
        return KIND_EXECUTE;
    }
    return KIND_OTHER;
}

TextRef parameter_list(TextRef detail) {
    if (starts_with(detail.data, detail.length, "parameters: ") ||
        starts_with(detail.data, detail.length, "Parameters: ")) {
        return TextRef{detail.data + 12, detail.length - 12};
    }
    return TextRef{nullptr, 0};
}

// ---- stderr ---------------------------------------------------------------

struct SeverityLabel {
    const char* text;
    PgSeverity severity;
};
const SeverityLabel LABELS[] = {
    {"LOG", PG_LOG},
    {"ERROR", PG_ERROR},
    {"FATAL", PG_ERROR},
    {"PANIC", PG_ERROR},
    {"WARNING", PG_OTHER_PRIMARY},
    {"NOTICE", PG_OTHER_PRIMARY},
    {"INFO", PG_OTHER_PRIMARY},
    {"DEBUG", PG_OTHER_PRIMARY},
    {"DEBUG1", PG_OTHER_PRIMARY},
    {"DEBUG2", PG_OTHER_PRIMARY},
    {"DEBUG3", PG_OTHER_PRIMARY},
    {"DEBUG4", PG_OTHER_PRIMARY},
    {"DEBUG5", PG_OTHER_PRIMARY},
    {"DETAIL", PG_DETAIL},
    {"HINT", PG_OTHER_SECONDARY},
    {"CONTEXT", PG_OTHER_SECONDARY},
    {"STATEMENT", PG_OTHER_SECONDARY},
    {"QUERY", PG_OTHER_SECONDARY},
    {"LOCATION", PG_OTHER_SECONDARY},
};

PgSeverity severity_of(const char* word, std::size_t length) {
    for (const SeverityLabel& l : LABELS) {
        if (std::strlen(l.text) == length && std::memcmp(l.text, word, length) == 0) {
            return l.severity;
        }
    }
    return PG_NONE;
}

enum Collecting : std::uint8_t { COLLECT_NONE, COLLECT_TEXT, COLLECT_DETAIL };

bool deliver(PgLogReader* r) {
    if (!r->open) return true;
    r->open = false;
    PgMessage m{};
    m.time = text_of(r->time);
    m.user = text_of(r->user);
    m.database = text_of(r->database);
    m.process = text_of(r->process);
    m.severity = r->severity;
    m.text = text_of(r->text);
    m.detail = text_of(r->detail);
    m.line = r->line;
    return pg_tracker_message(&r->tracker, &m);
}

bool pg_line(void* context, const char* line, std::size_t length, std::int64_t number) {
    auto* r = static_cast<PgLogReader*>(context);
    std::size_t body = line_body_length(line, length);
    if (body > 0 && line[0] == '\t') { // a further line of the message
        ByteBuffer* part = r->collecting == COLLECT_TEXT     ? &r->text
                           : r->collecting == COLLECT_DETAIL ? &r->detail
                                                             : nullptr;
        if (part == nullptr || !r->open) return true;
        if (!buffer_append(part, "\n", 1) || !buffer_append(part, line + 1, body - 1)) {
            r->out_of_memory = true;
            return false;
        }
        return true;
    }
    std::size_t label = 0;
    std::size_t text = 0;
    PgSeverity severity = PG_NONE;
    if (!pg_find_severity(line, body, &label, &severity, &text)) return true;
    TextRef rest{line + text, body - text};
    if (severity == PG_DETAIL || severity == PG_OTHER_SECONDARY) {
        r->collecting = COLLECT_NONE;
        if (!r->open || severity != PG_DETAIL) return true;
        r->collecting = COLLECT_DETAIL;
        if (!buffer_assign(&r->detail, rest.data, rest.length)) {
            r->out_of_memory = true;
            return false;
        }
        return true;
    }
    if (!deliver(r)) return false;
    TextRef time{};
    TextRef process{};
    TextRef user{};
    TextRef database{};
    pg_parse_prefix(TextRef{line, label}, &time, &process, &user, &database);
    bool ok = buffer_assign(&r->time, time.data, time.length) &&
              buffer_assign(&r->process, process.data, process.length) &&
              buffer_assign(&r->user, user.data, user.length) &&
              buffer_assign(&r->database, database.data, database.length) &&
              buffer_assign(&r->text, rest.data, rest.length);
    if (!ok) {
        r->out_of_memory = true;
        return false;
    }
    r->detail.size = 0;
    r->severity = severity;
    r->line = number;
    r->open = true;
    r->collecting = COLLECT_TEXT;
    return true;
}

// A prefix value after `key` ("user=", "db="), up to a separator.
bool prefix_value(TextRef prefix, const char* key, TextRef* value) {
    const char* p = prefix.data;
    const char* end = p + prefix.length;
    std::size_t n = std::strlen(key);
    for (const char* k = find_text(p, prefix.length, key); k != nullptr;
         k = find_text(k + 1, static_cast<std::size_t>(end - k - 1), key)) {
        if (k > p && is_identifier(k[-1])) continue; // "appuser=" is no "user="
        const char* v = k + n;
        const char* stop = v;
        while (stop < end && *stop != ',' && *stop != ' ' && *stop != ']' && *stop != ')' &&
               *stop != ':' && *stop != '|' && *stop != ';') {
            ++stop;
        }
        *value = TextRef{v, static_cast<std::size_t>(stop - v)};
        return true;
    }
    return false;
}

inline bool is_prefix_separator(char c) {
    return c == ' ' || c == ':' || c == ',' || c == '[' || c == ']' || c == '(' || c == ')' ||
           c == '|' || c == '<' || c == '>' || c == '\t';
}

// ---- csvlog -----------------------------------------------------------------

// Kept column number -> slot in fields[], -1 for a column not kept.
int kept_slot(int column) {
    switch (column) {
    case 0:
        return 0; // log_time
    case 1:
        return 1; // user_name
    case 2:
        return 2; // database_name
    case 3:
        return 3; // process_id
    case 11:
        return 4; // error_severity
    case 13:
        return 5; // message
    case 14:
        return 6; // detail
    default:
        return -1;
    }
}

bool csv_append(PgCsvReader* r, const char* bytes, std::size_t length) {
    int slot = kept_slot(r->column);
    if (slot < 0 || length == 0) return true;
    if (!buffer_append(&r->fields[slot], bytes, length)) {
        r->out_of_memory = true;
        return false;
    }
    return true;
}

bool csv_end_record(PgCsvReader* r) {
    bool ok = true;
    if (r->in_record) {
        PgMessage m{};
        m.time = text_of(r->fields[0]);
        m.user = text_of(r->fields[1]);
        m.database = text_of(r->fields[2]);
        m.process = text_of(r->fields[3]);
        m.severity = severity_of(r->fields[4].data, r->fields[4].size);
        m.text = text_of(r->fields[5]);
        m.detail = text_of(r->fields[6]);
        m.line = r->message_line;
        ok = pg_tracker_message(&r->tracker, &m);
    }
    for (ByteBuffer& f : r->fields) f.size = 0;
    r->column = 0;
    r->quoted = false;
    r->quote_pending = false;
    r->field_start = true;
    r->in_record = false;
    return ok;
}

} // namespace

// ---- shared -----------------------------------------------------------------

bool substitute_parameters(TextRef statement, TextRef parameters, ByteBuffer* out) {
    out->size = 0;
    const char* p = statement.data;
    const char* end = p + statement.length;
    const char* plain = p; // first byte not yet copied
    while (p < end) {
        char c = *p;
        if (c != '\'' && c != '"' && c != '-' && c != '/' && c != '$') {
            ++p;
            continue;
        }
        const char* after = p + 1; // end of what starts at p, copied as it is
        if (c == '\'') {
            bool escapes = p > statement.data && (p[-1] == 'E' || p[-1] == 'e') &&
                           (p - 1 == statement.data || !is_identifier(p[-2]));
            after = quoted_end(p, end, escapes);
        } else if (c == '"') {
            after = quoted_end(p, end, false);
        } else if (c == '-' && p + 1 < end && p[1] == '-') {
            const void* lf = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
            after = lf == nullptr ? end : static_cast<const char*>(lf);
        } else if (c == '/' && p + 1 < end && p[1] == '*') {
            int depth = 1;
            after = p + 2;
            while (after < end && depth > 0) {
                if (after + 1 < end && after[0] == '/' && after[1] == '*') {
                    ++depth;
                    after += 2;
                } else if (after + 1 < end && after[0] == '*' && after[1] == '/') {
                    --depth;
                    after += 2;
                } else {
                    ++after;
                }
            }
        } else if (c == '$' && !(p > statement.data && is_identifier(p[-1]))) {
            const char* q = p + 1;
            if (q < end && is_digit(*q)) { // $N
                std::uint32_t n = 0;
                while (q < end && is_digit(*q) && q - p < 10)
                    n = n * 10 + static_cast<std::uint32_t>(*q++ - '0');
                TextRef value{};
                if (!find_parameter(parameters, n, &value)) {
                    p = q;
                    continue;
                }
                if (!copy(out, plain, p) || !buffer_append(out, value.data, value.length)) {
                    return false;
                }
                p = plain = q;
                continue;
            }
            while (q < end && (is_letter(*q) || *q == '_' || (q > p + 1 && is_digit(*q)))) ++q;
            if (q < end && *q == '$') { // $tag$ ... $tag$
                std::size_t tag = static_cast<std::size_t>(q - p + 1);
                after = find_text(q + 1, static_cast<std::size_t>(end - q - 1), "$");
                while (after != nullptr && (static_cast<std::size_t>(end - after) < tag ||
                                            std::memcmp(after, p, tag) != 0)) {
                    after = find_text(after + 1, static_cast<std::size_t>(end - after - 1), "$");
                }
                after = after == nullptr ? end : after + tag;
            }
        }
        p = after;
    }
    return copy(out, plain, end);
}

bool pg_find_severity(const char* line, std::size_t length, std::size_t* label,
                      PgSeverity* severity, std::size_t* text) {
    const char* end = line + length;
    for (const char* colon = find_text(line, length, ":  "); colon != nullptr;
         colon = find_text(colon + 1, static_cast<std::size_t>(end - colon - 1), ":  ")) {
        const char* word = colon;
        while (word > line && ((word[-1] >= 'A' && word[-1] <= 'Z') || is_digit(word[-1]))) {
            --word;
        }
        if (word == colon || (word > line && is_identifier(word[-1]))) continue;
        PgSeverity s = severity_of(word, static_cast<std::size_t>(colon - word));
        if (s == PG_NONE) continue;
        *label = static_cast<std::size_t>(word - line);
        *severity = s;
        *text = static_cast<std::size_t>(colon + 3 - line);
        return true;
    }
    return false;
}

std::size_t pg_timestamp_length(const char* p, std::size_t length) {
    // YYYY-MM-DD HH:MM:SS
    static const char SHAPE[] = "dddd-dd-dd dd:dd:dd";
    const std::size_t n = sizeof SHAPE - 1;
    if (length < n) return 0;
    for (std::size_t k = 0; k < n; ++k) {
        if (SHAPE[k] == 'd' ? !is_digit(p[k]) : p[k] != SHAPE[k]) return 0;
    }
    std::size_t i = n;
    if (i + 1 < length && p[i] == '.' && is_digit(p[i + 1])) {
        ++i;
        while (i < length && is_digit(p[i])) ++i;
    }
    // A zone: " UTC", " CET", " +01", or "+01:00" right after the time.
    std::size_t zone = i;
    if (zone < length && p[zone] == ' ') ++zone;
    std::size_t z = zone;
    if (z < length && (p[z] == '+' || p[z] == '-')) {
        ++z;
        while (z < length && (is_digit(p[z]) || p[z] == ':')) ++z;
    } else {
        while (z < length && ((p[z] >= 'A' && p[z] <= 'Z') || (p[z] >= 'a' && p[z] <= 'z'))) ++z;
        if (z < length && (p[z] == '+' || p[z] == '-') && z > zone) { // UTC+2
            ++z;
            while (z < length && is_digit(p[z])) ++z;
        }
    }
    return z > zone ? z : i;
}

void pg_parse_prefix(TextRef prefix, TextRef* time, TextRef* process, TextRef* user,
                     TextRef* database) {
    const char* p = prefix.data;
    const char* end = p + prefix.length;
    *time = *process = *user = *database = TextRef{p, 0};
    const char* after_time = p;
    for (const char* k = p; k < end; ++k) {
        if (!is_digit(*k) || (k > p && is_digit(k[-1]))) continue;
        std::size_t n = pg_timestamp_length(k, static_cast<std::size_t>(end - k));
        if (n > 0) {
            *time = TextRef{k, n};
            after_time = k + n;
            break;
        }
    }
    // Process: the first [digits], else pid=digits.
    TextRef value{};
    for (const char* k = p; k < end; ++k) {
        if (*k != '[') continue;
        const char* d = k + 1;
        while (d < end && is_digit(*d)) ++d;
        if (d > k + 1 && d < end && *d == ']') {
            *process = TextRef{k + 1, static_cast<std::size_t>(d - k - 1)};
            break;
        }
    }
    if (process->length == 0 && prefix_value(prefix, "pid=", &value)) *process = value;
    bool has_user = prefix_value(prefix, "user=", user);
    bool has_database =
        prefix_value(prefix, "db=", database) || prefix_value(prefix, "database=", database);
    if (has_user && has_database) return;
    // user@database, its sides ending at a separator.
    const char* at = static_cast<const char*>(
        std::memchr(after_time, '@', static_cast<std::size_t>(end - after_time)));
    if (at == nullptr) return;
    const char* left = at;
    while (left > after_time && !is_prefix_separator(left[-1])) --left;
    const char* right = at + 1;
    while (right < end && !is_prefix_separator(*right)) ++right;
    if (!has_user) *user = TextRef{left, static_cast<std::size_t>(at - left)};
    if (!has_database) *database = TextRef{at + 1, static_cast<std::size_t>(right - at - 1)};
}

void pg_tracker_init(PgTracker* t, EntrySink sink) {
    *t = PgTracker{};
    t->sink = sink;
}

bool pg_tracker_message(PgTracker* t, const PgMessage* m) {
    if (m->severity == PG_ERROR) {
        PgPending* p = find_pending(t, m->process);
        return p == nullptr || emit_pending(t, p, TextRef{nullptr, 0});
    }
    if (m->severity != PG_LOG) return true;
    TextRef duration{};
    TextRef text{};
    LogKind kind = read_log_message(m->text, &duration, &text);
    if (kind == KIND_OTHER) return true;
    if (duration.length > 0 && !buffer_assign(&t->duration, duration.data, duration.length)) {
        t->out_of_memory = true;
        return false;
    }
    PgPending* waiting = find_pending(t, m->process);
    if (kind == KIND_DURATION_ONLY) {
        return waiting == nullptr || emit_pending(t, waiting, text_of(t->duration));
    }
    // A new statement: the one waiting for this process got no duration.
    if (waiting != nullptr && !emit_pending(t, waiting, TextRef{nullptr, 0})) return false;
    TextRef parameters = kind == KIND_EXECUTE ? parameter_list(m->detail) : TextRef{nullptr, 0};
    if (duration.length == 0) return keep_pending(t, m, text, parameters);
    EntryMeta meta{text_of(t->duration), m->user, m->database, m->time};
    return emit_entry(t, meta, m->line, text, parameters);
}

bool pg_tracker_finish(PgTracker* t) {
    for (;;) {
        PgPending* oldest = nullptr;
        for (PgPending& p : t->pending) {
            if (p.used && (oldest == nullptr || p.order < oldest->order)) oldest = &p;
        }
        if (oldest == nullptr) return true;
        if (!emit_pending(t, oldest, TextRef{nullptr, 0})) return false;
    }
}

void pg_tracker_free(PgTracker* t) {
    for (PgPending& p : t->pending) {
        buffer_free(&p.process);
        buffer_free(&p.time);
        buffer_free(&p.user);
        buffer_free(&p.database);
        buffer_free(&p.text);
        buffer_free(&p.parameters);
    }
    buffer_free(&t->statement);
    buffer_free(&t->duration);
}

void pg_log_init(PgLogReader* r, EntrySink sink) {
    *r = PgLogReader{};
    lines_init(&r->lines);
    pg_tracker_init(&r->tracker, sink);
}

bool pg_log_feed(PgLogReader* r, const char* bytes, std::size_t length) {
    return lines_feed(&r->lines, bytes, length, pg_line, r, &r->out_of_memory);
}

bool pg_log_finish(PgLogReader* r) {
    return lines_finish(&r->lines, pg_line, r) && deliver(r) && pg_tracker_finish(&r->tracker);
}

void pg_log_free(PgLogReader* r) {
    lines_free(&r->lines);
    pg_tracker_free(&r->tracker);
    ByteBuffer* parts[] = {&r->time, &r->user, &r->database, &r->process, &r->text, &r->detail};
    for (ByteBuffer* b : parts) buffer_free(b);
}

void pg_csv_init(PgCsvReader* r, EntrySink sink) {
    *r = PgCsvReader{};
    pg_tracker_init(&r->tracker, sink);
    r->line = 1;
    r->field_start = true;
}

/*
 * csvlog, byte by byte in runs:
 *   1. In a quoted field, a run up to the next quote is field text (line
 *      feeds counted); the quote is the field's end unless another follows.
 *   2. Outside quotes: a quote at a field's start opens a quoted field, a
 *      comma starts the next field, a line feed ends the record (a CR before
 *      it is dropped), any other run up to one of those is field text.
 */
bool pg_csv_feed(PgCsvReader* r, const char* bytes, std::size_t length) {
    const char* p = bytes;
    const char* end = bytes + length;
    while (p < end) {
        if (r->quoted) { // 1.
            if (r->quote_pending) {
                r->quote_pending = false;
                if (*p == '"') {
                    if (!csv_append(r, p, 1)) return false;
                    ++p;
                    continue;
                }
                r->quoted = false;
                continue;
            }
            const char* q =
                static_cast<const char*>(std::memchr(p, '"', static_cast<std::size_t>(end - p)));
            const char* stop = q == nullptr ? end : q;
            for (const char* k = p; k < stop; ++k) r->line += *k == '\n';
            if (!csv_append(r, p, static_cast<std::size_t>(stop - p))) return false;
            p = stop;
            if (q != nullptr) {
                r->quote_pending = true;
                ++p;
            }
            continue;
        }
        char c = *p; // 2.
        r->in_record = true;
        if (c == '"' && r->field_start) {
            if (r->column == 13) r->message_line = r->line;
            r->quoted = true;
            r->field_start = false;
            ++p;
        } else if (c == ',') {
            ++r->column;
            r->field_start = true;
            ++p;
        } else if (c == '\n') {
            ++p;
            if (!csv_end_record(r)) return false;
            ++r->line;
        } else if (c == '\r') {
            ++p;
        } else {
            if (r->field_start && r->column == 13) r->message_line = r->line;
            const char* stop = p + 1;
            while (stop < end && *stop != ',' && *stop != '\n' && *stop != '\r' && *stop != '"') {
                ++stop;
            }
            if (!csv_append(r, p, static_cast<std::size_t>(stop - p))) return false;
            r->field_start = false;
            p = stop;
        }
    }
    return true;
}

bool pg_csv_finish(PgCsvReader* r) {
    return csv_end_record(r) && pg_tracker_finish(&r->tracker);
}

void pg_csv_free(PgCsvReader* r) {
    pg_tracker_free(&r->tracker);
    for (ByteBuffer& f : r->fields) buffer_free(&f);
}
