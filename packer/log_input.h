// What the log readers share: the entries they hand on, and the cutting of
// byte chunks into lines.
//
// A log reader turns a server's log into entries: the text of what a client
// sent (one or more statements, which the format's dialect then splits) with
// what the log says about it. Entries are streamed: `begin` with the
// metadata, the text in any number of `text` pieces, then `end`.
#pragma once

#include "packer/byte_buffer.h"

#include <cstddef>
#include <cstdint>

// What a log says about an entry. Every field is empty when the log does not
// say it; the bytes stay valid until the entry's `end`.
struct EntryMeta {
    TextRef duration_ms; // decimal milliseconds, as exact as the log writes them
    TextRef user;
    TextRef database;
    TextRef time; // as the log writes it
};

struct EntrySink {
    void* context;
    // A new entry whose text starts on `line` of the log.
    bool (*begin)(void* context, const EntryMeta* meta, std::int64_t line);
    bool (*text)(void* context, const char* bytes, std::size_t length);
    bool (*end)(void* context);
};

// Cuts a byte stream into lines. Each line is handed over with its line feed
// (absent only on a last line without one); a line that spans chunks is
// gathered in `partial`, so memory is bounded by the longest line.
struct LineAssembler {
    ByteBuffer partial;     // the start of a line whose end has not arrived
    std::int64_t next_line; // number of the next line handed over, from 1
};

// Handler of one line: false stops the feed.
using LineHandler = bool (*)(void* context, const char* line, std::size_t length,
                             std::int64_t number);

void lines_init(LineAssembler* lines);
// False when the handler stopped, or memory for a long line was refused
// (then *out_of_memory is set).
bool lines_feed(LineAssembler* lines, const char* bytes, std::size_t length, LineHandler handler,
                void* context, bool* out_of_memory);
// Hands over a last line without a line feed, if any.
bool lines_finish(LineAssembler* lines, LineHandler handler, void* context);
void lines_free(LineAssembler* lines);

// The line without its line feed and a CR before it.
inline std::size_t line_body_length(const char* line, std::size_t length) {
    if (length > 0 && line[length - 1] == '\n') --length;
    if (length > 0 && line[length - 1] == '\r') --length;
    return length;
}

// Whether text[0..length) starts with the NUL-terminated `prefix`.
bool starts_with(const char* text, std::size_t length, const char* prefix);

// Where `needle` first occurs in text[0..length), or null.
const char* find_text(const char* text, std::size_t length, const char* needle);

// A duration in seconds ("0.000123", "12.5", "3") as milliseconds, moving the
// decimal point three places without rounding ("0.123", "12500", "3000").
// Writes at most `room` bytes to `out` and returns their count; 0 when
// `seconds` is not digits[.digits] or its text does not fit.
std::size_t seconds_to_ms(TextRef seconds, char* out, std::size_t room);
