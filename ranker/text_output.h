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
// controls and invisible characters), other UTF-8 as it is (one column per
// character). With `columns` > 0 the text takes at most that many columns;
// a cut text ends in "...". Returns the columns written.
std::size_t out_terminal_text(OutBuffer* out, const char* text, std::size_t length,
                              std::size_t columns);

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
// an SVG title gets them plain.
void out_html_text(OutBuffer* out, const char* text, std::size_t length, bool mark_bytes);
