#include "packer/packer.h"

#include "packer/token_count.h"

#include <cstdint>
#include <cstring>

const char* const SKIP_REASON_TEXTS[SKIP_REASONS] = {
    "statement without a token skipped (litsieve would stop with \"syntax error\")",
    "statement of 5000 tokens or more skipped (litsieve would stop with \"yacc stack "
    "overflow\")",
};

const char* const SKIP_REASON_NAMES[SKIP_REASONS] = {
    "without a token",
    "of 5000 tokens or more",
};

namespace {

bool out_of_memory(Packer* p) {
    p->out_of_memory = true;
    return false;
}

// One statement of the input: handed on, or a warning why it is left out.
// text[length] is a NUL.
void pack_statement(Packer* p, const char* text, std::size_t length, std::int64_t line) {
    if (!p->options.keep_all) {
        // A token takes at least one byte, so a text shorter than the limit
        // cannot reach it: its first token settles it (counting every token
        // of every statement cost a quarter of a script's time).
        int tokens = count_tokens(text, length, length < TOKEN_LIMIT ? 1 : TOKEN_LIMIT);
        if (tokens == 0 || tokens >= TOKEN_LIMIT) {
            SkipReason reason = tokens == 0 ? SKIP_NO_TOKEN : SKIP_TOO_MANY_TOKENS;
            ++p->skipped[reason];
            p->options.events.warning(p->options.events.context, p->source, line,
                                      SKIP_REASON_TEXTS[reason]);
            return;
        }
    }
    ++p->packed;
    p->options.events.statement(p->options.events.context, text, length, line, p->meta);
}

// ---- the splitter's events ------------------------------------------------

bool on_statement(void* context, char* text, std::size_t length, std::int64_t line) {
    pack_statement(static_cast<Packer*>(context), text, length, line);
    return true;
}

void on_split_warning(void* context, SplitWarning warning, std::int64_t line) {
    auto* p = static_cast<Packer*>(context);
    p->options.events.warning(p->options.events.context, p->source, line,
                              SPLIT_WARNING_TEXTS[warning]);
}

// ---- the log readers' entries -----------------------------------------------

bool entry_begin(void* context, const EntryMeta* meta, std::int64_t line) {
    auto* p = static_cast<Packer*>(context);
    p->meta = *meta;
    splitter_reset(&p->splitter, line);
    return true;
}

// The splitter stops only when memory for the open statement is refused.
bool splitter_failed(Packer* p) {
    return out_of_memory(p);
}

bool entry_text(void* context, const char* bytes, std::size_t length) {
    auto* p = static_cast<Packer*>(context);
    return splitter_feed(&p->splitter, bytes, length) || splitter_failed(p);
}

bool entry_end(void* context) {
    auto* p = static_cast<Packer*>(context);
    bool ok = splitter_finish(&p->splitter) || splitter_failed(p);
    p->meta = EntryMeta{};
    return ok;
}

// ---- lines input --------------------------------------------------------------

inline bool is_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool on_line(void* context, const char* line, std::size_t length, std::int64_t number) {
    auto* p = static_cast<Packer*>(context);
    const char* begin = line;
    const char* end = line + length;
    while (begin < end && is_space(*begin)) ++begin;
    while (end > begin && is_space(end[-1])) --end;
    if (begin == end) return true;
    auto n = static_cast<std::size_t>(end - begin);
    if (!buffer_assign(&p->line_text, begin, n) || !buffer_append(&p->line_text, "", 1)) {
        return out_of_memory(p);
    }
    pack_statement(p, p->line_text.data, n, number);
    return true;
}

// ---- one input ------------------------------------------------------------------

void start_reader(Packer* p, InputFormat format) {
    p->format = format;
    p->formats_read |= 1u << format;
    EntrySink sink{p, entry_begin, entry_text, entry_end};
    SplitterEvents events{p, on_statement, on_split_warning};
    splitter_free(&p->splitter);
    switch (format) {
    case FORMAT_SQL:
        splitter_init(&p->splitter, p->options.dialect, true, events);
        splitter_reset(&p->splitter, 1);
        break;
    case FORMAT_LINES:
        lines_init(&p->lines);
        break;
    case FORMAT_MYSQL_SLOW:
        splitter_init(&p->splitter, DIALECT_MYSQL, false, events);
        slow_log_init(&p->slow, sink);
        break;
    case FORMAT_MYSQL_GENERAL:
        splitter_init(&p->splitter, DIALECT_MYSQL, false, events);
        general_log_init(&p->general, sink);
        break;
    case FORMAT_PG_LOG:
        splitter_init(&p->splitter, DIALECT_POSTGRES, false, events);
        pg_log_init(&p->pg_log, sink);
        break;
    case FORMAT_PG_CSV:
        splitter_init(&p->splitter, DIALECT_POSTGRES, false, events);
        pg_csv_init(&p->pg_csv, sink);
        break;
    default:
        break;
    }
}

// A reader stops when memory is refused, its own or the splitter's (whose
// refusal reached it through the entry sink and is already noted).
bool reader_failed(Packer* p, bool reader_out_of_memory) {
    if (reader_out_of_memory) p->out_of_memory = true;
    return false;
}

bool feed_reader(Packer* p, const char* bytes, std::size_t length) {
    switch (p->format) {
    case FORMAT_SQL:
        return splitter_feed(&p->splitter, bytes, length) || splitter_failed(p);
    case FORMAT_LINES: {
        bool no_memory = false;
        return lines_feed(&p->lines, bytes, length, on_line, p, &no_memory) ||
               reader_failed(p, no_memory);
    }
    case FORMAT_MYSQL_SLOW:
        return slow_log_feed(&p->slow, bytes, length) || reader_failed(p, p->slow.out_of_memory);
    case FORMAT_MYSQL_GENERAL:
        return general_log_feed(&p->general, bytes, length) ||
               reader_failed(p, p->general.out_of_memory);
    case FORMAT_PG_LOG:
        return pg_log_feed(&p->pg_log, bytes, length) ||
               reader_failed(p, p->pg_log.out_of_memory || p->pg_log.tracker.out_of_memory);
    case FORMAT_PG_CSV:
        return pg_csv_feed(&p->pg_csv, bytes, length) ||
               reader_failed(p, p->pg_csv.out_of_memory || p->pg_csv.tracker.out_of_memory);
    default:
        return true;
    }
}

bool finish_reader(Packer* p) {
    bool ok = true;
    switch (p->format) {
    case FORMAT_SQL:
        ok = splitter_finish(&p->splitter) || splitter_failed(p);
        break;
    case FORMAT_LINES:
        ok = lines_finish(&p->lines, on_line, p);
        lines_free(&p->lines);
        break;
    case FORMAT_MYSQL_SLOW:
        ok = slow_log_finish(&p->slow) || reader_failed(p, p->slow.out_of_memory);
        slow_log_free(&p->slow);
        break;
    case FORMAT_MYSQL_GENERAL:
        ok = general_log_finish(&p->general) || reader_failed(p, p->general.out_of_memory);
        general_log_free(&p->general);
        break;
    case FORMAT_PG_LOG:
        ok = pg_log_finish(&p->pg_log) ||
             reader_failed(p, p->pg_log.out_of_memory || p->pg_log.tracker.out_of_memory);
        pg_log_free(&p->pg_log);
        break;
    case FORMAT_PG_CSV:
        ok = pg_csv_finish(&p->pg_csv) ||
             reader_failed(p, p->pg_csv.out_of_memory || p->pg_csv.tracker.out_of_memory);
        pg_csv_free(&p->pg_csv);
        break;
    default:
        break;
    }
    return ok;
}

// The format is decided: announce it and hand the kept bytes to the reader.
bool decided(Packer* p, InputFormat format) {
    start_reader(p, format);
    p->options.events.format_chosen(p->options.events.context, p->source, format);
    bool ok = p->detect.size == 0 || feed_reader(p, p->detect.data, p->detect.size);
    buffer_free(&p->detect);
    return ok;
}

} // namespace

void packer_init(Packer* p, const PackerOptions& options) {
    std::memset(static_cast<void*>(p), 0, sizeof *p);
    p->options = options;
}

bool packer_begin(Packer* p, const char* source, InputFormat format) {
    if (p->out_of_memory) return false;
    p->source = source;
    p->meta = EntryMeta{};
    p->detect.size = 0;
    if (format == FORMAT_AUTO) {
        p->format = FORMAT_AUTO;
        return true;
    }
    start_reader(p, format);
    return true;
}

bool packer_feed(Packer* p, const char* bytes, std::size_t length) {
    if (p->out_of_memory) return false;
    if (p->format != FORMAT_AUTO) return feed_reader(p, bytes, length);
    if (!buffer_append(&p->detect, bytes, length)) return out_of_memory(p);
    InputFormat format = detect_format(p->detect.data, p->detect.size, false);
    return format == FORMAT_AUTO || decided(p, format);
}

bool packer_end(Packer* p) {
    if (p->out_of_memory) return false;
    if (p->format == FORMAT_AUTO &&
        !decided(p, detect_format(p->detect.data, p->detect.size, true))) {
        return false;
    }
    return finish_reader(p) && !p->out_of_memory;
}

void packer_free(Packer* p) {
    splitter_free(&p->splitter);
    lines_free(&p->lines);
    slow_log_free(&p->slow);
    general_log_free(&p->general);
    pg_log_free(&p->pg_log);
    pg_csv_free(&p->pg_csv);
    buffer_free(&p->detect);
    buffer_free(&p->line_text);
}
