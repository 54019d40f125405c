// What litrank adds to the buffered output of platform/output_buffer.h:
// padded numbers and shares, and the three ways it writes a statement text:
// for a terminal (one line, cut to a width), for tab-separated output
// (escaped, every byte recoverable) and for HTML (escaped, never able to end
// an element or start one).
#pragma once

#include "escape/escape.h" // utf8_sequence and the escapes every text output shares
#include "platform/output_buffer.h"

#include <cstddef>
#include <cstdint>

void out_padded_number(OutBuffer* out, std::int64_t value, std::size_t width); // right-aligned
void out_spaces(OutBuffer* out, std::size_t count);
// A share in hundredths of a percent as "41.50".
void out_basis_points(OutBuffer* out, std::int64_t basis_points);

// Bytes of a cut of text[0..length) to at most `limit` bytes that does not
// end inside a well-formed UTF-8 sequence.
std::size_t utf8_cut(const char* text, std::size_t length, std::size_t limit);

// Terminal: one line. Runs of white space (blank, tab, CR, LF, VT, FF) show
// as one blank, other pieces as escape/escape.h says (\xNN for control
// bytes and bytes that are not UTF-8, \u{NNNN} for C1 controls, bidi
// controls and invisible characters), other UTF-8 as it is: one column per
// character, two for an East Asian wide or fullwidth one. `full` is the
// whole text's length, of which text[0..length) is kept (full == length for
// a whole text). With `columns` > 0 the text takes at most that many
// columns: a whole text that does not fit is cut in the middle, keeping
// its end, as "start...(N bytes)...end"; a text kept in part is cut at the
// end as "start...(N more bytes)", N counting every byte not shown; where
// even the note does not fit, the text ends in "...". Returns the columns
// written.
std::size_t out_terminal_text(OutBuffer* out, const char* text, std::size_t length,
                              std::size_t full, std::size_t columns);

// Columns of a character on a terminal: 2 for East Asian Wide and
// Fullwidth characters (a compact range table, no locale), else 1.
std::size_t character_columns(std::uint32_t code);

// A text whose end says most (a file's name): whole if it fits in `columns`
// (0: no limit), else "..." and as much of its end as fits. Returns the
// columns written.
std::size_t out_terminal_end(OutBuffer* out, const char* text, std::size_t length,
                             std::size_t columns);

// Columns out_terminal_text takes for a whole text without a width.
std::size_t terminal_width(const char* text, std::size_t length);

// Tab-separated field: backslash, tab, LF and CR as \\ \t \n \r, other
// control bytes (00..1F, 7F) as \xNN, C1 controls as \u{0080}..\u{009F}
// (or \xNN for a byte 80..9F that is not part of UTF-8); every other byte
// as it is.
void out_tsv_text(OutBuffer* out, const char* text, std::size_t length);

// HTML: & < > " ' as character references; tab, LF and CR as they are;
// other pieces the terminal escapes (control bytes, bytes that are not
// UTF-8, C1 and bidi controls, invisible characters) as the same \xNN or
// \u{NNNN}; other UTF-8 as it is. With `mark_bytes` each escape is wrapped
// in <span class="byte">, so that it is a visible mark that looks different
// from the same characters in the text; text that goes into an attribute or
// an SVG title gets them plain. Writes at most `budget` bytes, stopping
// before the first piece that would not fit; returns the bytes of `text`
// written.
std::size_t out_html_text(OutBuffer* out, const char* text, std::size_t length, bool mark_bytes,
                          std::size_t budget = SIZE_MAX);

// A JSON string's contents (without the quotes): " and \ escaped, control
// bytes as \n \r \t \b \f or \u00NN, U+2028 and U+2029 as \u2028 and
// \u2029 (so that the text is JavaScript too), other well-formed UTF-8 as it
// is, and a byte that is not part of well-formed UTF-8 as \u00NN with its
// value: a decoder sees the character of the same number (Latin-1).
void out_json_text(OutBuffer* out, const char* text, std::size_t length);
