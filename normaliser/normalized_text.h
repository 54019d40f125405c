// The normalised text of one statement: where the parser writes it and how
// its caller takes it.
#pragma once

#include <cstddef>
#include <cstring>

// The normalised text of the statement just parsed, NUL-terminated, or null.
// It must be null when parse_statement is called. After a parse it holds the
// whole text (never empty) and normalized_length its length in bytes; the
// caller takes it and sets both back with release_normalized_text. The bytes
// live in a buffer the normaliser reuses from one statement to the next, so
// the pointer is only valid until the next parse.
extern char* normalized_text;
extern std::size_t normalized_length;

// Appends one blank (unless the text is empty so far) and a copy of `text`.
void append_token_text(const char* text);

// Ends the use of normalized_text: it becomes null again.
void release_normalized_text();

// --- the parser's side -----------------------------------------------------

// Where a parse writes: kept in locals of the parse loop (registers), and
// stored into the buffer only when the text is done. Behind `end` lie
// WORD_SLACK more bytes (upper_case.h), so a word store may run past it.
struct TextWriter {
    char* start; // the text's first byte
    char* out;   // next byte to write
    char* end;   // end of the room
};

// A writer at the end of the text kept so far (empty unless normalized_text
// is set), with room for `room` more bytes. "Not enough memory\n" when the
// buffer cannot grow.
TextWriter resume_text(std::size_t room);

// Makes room for `room` more bytes at w.out, moving the buffer if need be.
void grow_text(TextWriter& w, std::size_t room);

// Appends a blank unless the text is empty, then `length` bytes of `text`.
inline void append_bytes(TextWriter& w, const char* text, std::size_t length) {
    if (static_cast<std::size_t>(w.end - w.out) < length + 2) grow_text(w, length + 2);
    if (w.out != w.start) *w.out++ = ' ';
    std::memcpy(w.out, text, length);
    w.out += length;
}

// Ends the text at w.out: normalized_text and normalized_length describe it.
void finish_text(const TextWriter& w);
