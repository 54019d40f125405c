#include "packer/mysql_logs.h"

#include <cstring>

namespace {

enum SlowState : std::uint8_t {
    SLOW_OUTSIDE,      // no entry: before the first header, or after a server's opening lines
    SLOW_HEADER,       // reading an entry's header lines
    SLOW_BODY_PENDING, // the SET line was read: the text starts on the next line
    SLOW_BODY,         // handing on the entry's text
};

inline bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// The value after `key` in a header line, up to the next blank.
bool header_value(const char* body, std::size_t length, const char* key, TextRef* value) {
    const char* p = find_text(body, length, key);
    if (p == nullptr) return false;
    p += std::strlen(key);
    const char* end = body + length;
    const char* v = p;
    while (v < end && *v != ' ' && *v != '\t') ++v;
    *value = TextRef{p, static_cast<std::size_t>(v - p)};
    return true;
}

TextRef trimmed(const char* p, const char* end) {
    while (p < end && (*p == ' ' || *p == '\t')) ++p;
    while (end > p && (end[-1] == ' ' || end[-1] == '\t')) --end;
    return TextRef{p, static_cast<std::size_t>(end - p)};
}

// "SET timestamp=N;" or "SET name=N,...,timestamp=N;": assignments of
// digits to lower-case names, one of them timestamp.
bool is_set_timestamp_line(const char* body, std::size_t length) {
    if (!starts_with(body, length, "SET ") || length < 5 || body[length - 1] != ';') return false;
    const char* p = body + 4;
    const char* end = body + length - 1;
    bool timestamp = false;
    while (p < end) {
        const char* name = p;
        while (p < end && ((*p >= 'a' && *p <= 'z') || *p == '_')) ++p;
        if (p == name || p == end || *p != '=') return false;
        if (p - name == 9 && std::memcmp(name, "timestamp", 9) == 0) timestamp = true;
        ++p;
        const char* digits = p;
        if (p < end && *p == '-') ++p;
        while (p < end && is_digit(*p)) ++p;
        if (p == digits) return false;
        if (p < end && *p++ != ',') return false;
    }
    return timestamp;
}

bool slow_begin_entry(SlowLogReader* r, std::int64_t line) {
    EntryMeta meta{};
    meta.duration_ms = text_of(r->duration);
    meta.user = text_of(r->user);
    meta.database = r->schema.size > 0 ? text_of(r->schema) : text_of(r->use_database);
    meta.time = text_of(r->time);
    r->state = SLOW_BODY;
    return r->sink.begin(r->sink.context, &meta, line);
}

bool slow_end_entry(SlowLogReader* r) {
    r->state = SLOW_OUTSIDE;
    return r->sink.end(r->sink.context);
}

// A header line of the entry being read: keeps what it says.
bool slow_header(SlowLogReader* r, const char* body, std::size_t length) {
    TextRef value{};
    bool ok = true;
    if (starts_with(body, length, "# Time:")) {
        value = trimmed(body + 7, body + length);
        ok = buffer_assign(&r->time, value.data, value.length);
    } else if (starts_with(body, length, "# User@Host:")) {
        const char* p = body + 12;
        const char* end = body + length;
        const char* stop = p;
        while (stop < end && *stop != '[' && *stop != '@') ++stop;
        value = trimmed(p, stop);
        ok = buffer_assign(&r->user, value.data, value.length);
    }
    if (ok && header_value(body, length, "Schema: ", &value)) {
        ok = buffer_assign(&r->schema, value.data, value.length);
    }
    if (ok && header_value(body, length, "Query_time: ", &value)) {
        char ms[64]; // a Query_time the server writes fits many times over
        ok = buffer_assign(&r->duration, ms, seconds_to_ms(value, ms, sizeof ms));
    }
    if (!ok) r->out_of_memory = true;
    return ok;
}

bool slow_line(void* context, const char* line, std::size_t length, std::int64_t number) {
    auto* r = static_cast<SlowLogReader*>(context);
    std::size_t body = line_body_length(line, length);
    if (is_mysql_banner_line(line, body)) {
        if (r->state == SLOW_BODY && !slow_end_entry(r)) return false;
        r->state = SLOW_OUTSIDE;
        return true;
    }
    if (starts_with(line, body, "# ")) {
        bool starts_entry = is_slow_entry_header(line, body);
        if (r->state == SLOW_BODY || r->state == SLOW_BODY_PENDING || r->state == SLOW_OUTSIDE) {
            if (!starts_entry) {
                // A comment in the text (such as "# administrator command: Quit;"),
                // or a stray one outside any entry.
                if (r->state == SLOW_BODY_PENDING && !slow_begin_entry(r, number)) return false;
                return r->state != SLOW_BODY || r->sink.text(r->sink.context, line, length);
            }
            if (r->state == SLOW_BODY && !slow_end_entry(r)) return false;
            r->user.size = 0;
            r->schema.size = 0;
            r->duration.size = 0;
            r->state = SLOW_HEADER;
        }
        return slow_header(r, line, body);
    }
    switch (r->state) {
    case SLOW_HEADER:
        if (starts_with(line, body, "use ") && body > 5 && line[body - 1] == ';') {
            TextRef db = trimmed(line + 4, line + body - 1);
            if (!buffer_assign(&r->use_database, db.data, db.length)) {
                r->out_of_memory = true;
                return false;
            }
            return true;
        }
        if (is_set_timestamp_line(line, body)) {
            r->state = SLOW_BODY_PENDING;
            return true;
        }
        if (!slow_begin_entry(r, number)) return false;
        return r->sink.text(r->sink.context, line, length);
    case SLOW_BODY_PENDING:
        if (!slow_begin_entry(r, number)) return false;
        return r->sink.text(r->sink.context, line, length);
    case SLOW_BODY:
        return r->sink.text(r->sink.context, line, length);
    default:
        return true;
    }
}

GeneralThread* thread_slot(GeneralLogReader* r, std::uint64_t id) {
    return &r->threads[id % GENERAL_THREAD_SLOTS];
}

// "app@web1 on shop using TCP/IP", "app@web1 as other on shop", "app@web1 on ".
void parse_connect(TextRef argument, TextRef* user, TextRef* database) {
    const char* p = argument.data;
    const char* end = p + line_body_length(p, argument.length);
    const char* at =
        static_cast<const char*>(std::memchr(p, '@', static_cast<std::size_t>(end - p)));
    *user = TextRef{p, at == nullptr ? 0 : static_cast<std::size_t>(at - p)};
    *database = TextRef{p, 0};
    const char* on = find_text(p, static_cast<std::size_t>(end - p), " on ");
    if (at == nullptr || on == nullptr) return;
    const char* db = on + 4;
    const char* using_ = find_text(db, static_cast<std::size_t>(end - db), " using ");
    *database = trimmed(db, using_ == nullptr ? end : using_);
}

bool general_line(void* context, const char* line, std::size_t length, std::int64_t number) {
    auto* r = static_cast<GeneralLogReader*>(context);
    std::size_t body = line_body_length(line, length);
    GeneralEntry entry{};
    bool banner = is_mysql_banner_line(line, body);
    if (!banner && !parse_general_entry(line, length, &entry)) {
        return !r->in_query || r->sink.text(r->sink.context, line, length);
    }
    if (r->in_query) {
        r->in_query = false;
        if (!r->sink.end(r->sink.context)) return false;
    }
    if (banner) return true;
    if (entry.time.length > 0 && !buffer_assign(&r->time, entry.time.data, entry.time.length)) {
        r->out_of_memory = true;
        return false;
    }
    GeneralThread* t = thread_slot(r, entry.thread);
    if (t->used && t->id != entry.thread) {
        t->user.size = 0;
        t->database.size = 0;
    }
    t->used = true;
    t->id = entry.thread;
    TextRef command = entry.command;
    bool ok = true;
    if (command.length == 7 && std::memcmp(command.data, "Connect", 7) == 0) {
        TextRef user{};
        TextRef database{};
        parse_connect(entry.argument, &user, &database);
        ok = buffer_assign(&t->user, user.data, user.length) &&
             buffer_assign(&t->database, database.data, database.length);
    } else if (command.length == 7 && std::memcmp(command.data, "Init DB", 7) == 0) {
        TextRef db = trimmed(entry.argument.data,
                             entry.argument.data +
                                 line_body_length(entry.argument.data, entry.argument.length));
        ok = buffer_assign(&t->database, db.data, db.length);
    } else if (command.length == 4 && std::memcmp(command.data, "Quit", 4) == 0) {
        t->used = false;
        t->user.size = 0;
        t->database.size = 0;
    } else if (command.length == 5 && std::memcmp(command.data, "Query", 5) == 0) {
        EntryMeta meta{};
        meta.user = text_of(t->user);
        meta.database = text_of(t->database);
        meta.time = text_of(r->time);
        if (!r->sink.begin(r->sink.context, &meta, number)) return false;
        r->in_query = true;
        return r->sink.text(r->sink.context, entry.argument.data, entry.argument.length);
    }
    if (!ok) r->out_of_memory = true;
    return ok;
}

// A time as the general log writes it: 2024-03-05T14:02:11.532871Z (with
// any zone suffix) or 240305 14:02:11 (hour padded with a blank).
bool is_general_time(const char* p, std::size_t length) {
    if (length >= 19 && is_digit(p[0]) && is_digit(p[3]) && p[4] == '-' && p[7] == '-' &&
        p[10] == 'T' && p[13] == ':' && p[16] == ':') {
        return true;
    }
    return length == 15 && is_digit(p[0]) && is_digit(p[5]) && p[6] == ' ' && p[9] == ':' &&
           p[12] == ':' && is_digit(p[14]);
}

} // namespace

bool is_mysql_banner_line(const char* body, std::size_t length) {
    // Every line is asked: the first and last bytes rule nearly all out.
    if (length == 0 || (body[length - 1] != ':' && body[0] != 'T')) return false;
    static const char STARTED[] = "started with:";
    std::size_t n = sizeof STARTED - 1;
    if (length >= n && std::memcmp(body + length - n, STARTED, n) == 0 &&
        find_text(body, length, ", Version: ") != nullptr) {
        return true;
    }
    // The column heads: "Time                 Id Command    Argument" (MySQL),
    // "Time\t\t    Id Command\tArgument" (MariaDB).
    return starts_with(body, length, "Tcp port: ") || starts_with(body, length, "TCP Port: ") ||
           (length > 4 && starts_with(body, length, "Time") &&
            (body[4] == ' ' || body[4] == '\t') &&
            find_text(body, length, "Id Command") != nullptr &&
            find_text(body, length, "Argument") != nullptr);
}

bool is_slow_entry_header(const char* body, std::size_t length) {
    return starts_with(body, length, "# Time:") || starts_with(body, length, "# User@Host:") ||
           starts_with(body, length, "# Thread_id:") || starts_with(body, length, "# Schema:") ||
           starts_with(body, length, "# Query_time:");
}

bool parse_general_entry(const char* line, std::size_t length, GeneralEntry* entry) {
    const char* end = line + line_body_length(line, length);
    const char* p = line;
    *entry = GeneralEntry{};
    if (p + 2 <= end && p[0] == '\t' && p[1] == '\t') {
        p += 2;
    } else {
        const char* tab =
            static_cast<const char*>(std::memchr(p, '\t', static_cast<std::size_t>(end - p)));
        if (tab == nullptr || !is_general_time(p, static_cast<std::size_t>(tab - p))) return false;
        entry->time = TextRef{p, static_cast<std::size_t>(tab - p)};
        p = tab + 1;
    }
    while (p < end && *p == ' ') ++p;
    const char* digits = p;
    std::uint64_t id = 0;
    while (p < end && is_digit(*p) && p - digits < 20)
        id = id * 10 + static_cast<std::uint64_t>(*p++ - '0');
    if (p == digits || p == end || *p != ' ') return false;
    ++p;
    const char* command = p;
    while (p < end && ((*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z') || *p == ' ')) ++p;
    if (p == command || !(*command >= 'A' && *command <= 'Z') || p - command > 24) return false;
    if (p < end && *p != '\t') return false;
    entry->thread = id;
    entry->command = trimmed(command, p);
    const char* argument = p < end ? p + 1 : p;
    entry->argument = TextRef{argument, static_cast<std::size_t>(line + length - argument)};
    return true;
}

void slow_log_init(SlowLogReader* r, EntrySink sink) {
    *r = SlowLogReader{};
    r->sink = sink;
    lines_init(&r->lines);
}

bool slow_log_feed(SlowLogReader* r, const char* bytes, std::size_t length) {
    return lines_feed(&r->lines, bytes, length, slow_line, r, &r->out_of_memory);
}

bool slow_log_finish(SlowLogReader* r) {
    if (!lines_finish(&r->lines, slow_line, r)) return false;
    return r->state != SLOW_BODY || slow_end_entry(r);
}

void slow_log_free(SlowLogReader* r) {
    lines_free(&r->lines);
    buffer_free(&r->time);
    buffer_free(&r->user);
    buffer_free(&r->schema);
    buffer_free(&r->use_database);
    buffer_free(&r->duration);
}

void general_log_init(GeneralLogReader* r, EntrySink sink) {
    *r = GeneralLogReader{};
    r->sink = sink;
    lines_init(&r->lines);
}

bool general_log_feed(GeneralLogReader* r, const char* bytes, std::size_t length) {
    return lines_feed(&r->lines, bytes, length, general_line, r, &r->out_of_memory);
}

bool general_log_finish(GeneralLogReader* r) {
    if (!lines_finish(&r->lines, general_line, r)) return false;
    if (!r->in_query) return true;
    r->in_query = false;
    return r->sink.end(r->sink.context);
}

void general_log_free(GeneralLogReader* r) {
    lines_free(&r->lines);
    buffer_free(&r->time);
    for (GeneralThread& t : r->threads) {
        buffer_free(&t.user);
        buffer_free(&t.database);
    }
}
