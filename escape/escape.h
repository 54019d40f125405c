// How untrusted text is shown where a person reads it: on a terminal, in a
// message on standard error, in a page. Statement texts and file names come
// from whoever wrote the input; one rule, kept here, decides which of their
// pieces are shown as they are and which as an escape, so that no input can
// move the cursor, recolour the terminal, reorder a line or hide text:
//
//   \xNN       one byte: a C0 control (00..1F), DEL (7F), or a byte that is
//              not part of well-formed UTF-8
//   \u{NNNN}   one character (four to six hex digits): a C1 control
//              (U+0080..U+009F), a bidirectional control or an invisible
//              character (ESCAPED_CHARACTERS below)
//
// Every other well-formed UTF-8 character, and every printable ASCII byte
// including the backslash, is shown as it is. White space (blank, tab, LF,
// CR, VT, FF) is a piece of its own: a terminal listing shows a run of it as
// one blank, a message escapes all of it but the blank.
#pragma once

#include <cstddef>
#include <cstdint>

// Length of the well-formed UTF-8 sequence at p (1 to 4 bytes, of at most
// `left`), or 0 when the byte at p does not start one: stray continuation
// bytes, overlong forms, surrogates and values above U+10FFFF.
std::size_t utf8_sequence(const unsigned char* p, std::size_t left);

enum PieceKind {
    PIECE_PLAIN,     // shown as it is: printable ASCII or a harmless UTF-8 character
    PIECE_WHITE,     // one byte of white space
    PIECE_BYTE,      // shown as \xNN
    PIECE_CHARACTER, // shown as \u{NNNN}
};

struct TextPiece {
    PieceKind kind;
    std::size_t bytes;  // bytes of the text it covers (1 to 4)
    std::uint32_t code; // the character (the byte for PIECE_BYTE and PIECE_WHITE)
};

// The piece that starts at p; p < end.
TextPiece next_text_piece(const unsigned char* p, const unsigned char* end);

// Characters shown as \u{NNNN}, as inclusive ranges, in ascending order:
// C1 controls; the soft hyphen; the Arabic letter mark; the Mongolian vowel
// separator; zero-width space, non-joiner and joiner, left-to-right and
// right-to-left marks; line and paragraph separators, the bidi embeddings and
// overrides (U+202A..U+202E); word joiner and invisible operators; the bidi
// isolates and the deprecated format controls (U+2066..U+206F); the
// zero-width no-break space (byte order mark); interlinear annotation
// controls; the tag characters.
struct CodeRange {
    std::uint32_t first;
    std::uint32_t last;
};
extern const CodeRange ESCAPED_CHARACTERS[];
extern const std::size_t ESCAPED_CHARACTER_RANGES;

inline bool is_c1_control(std::uint32_t code) {
    return code >= 0x80 && code <= 0x9F;
}

// Longest escape: "\u{10FFFF}".
constexpr std::size_t ESCAPE_MAX = 10;

// Writes the escape of a PIECE_BYTE or PIECE_CHARACTER piece (\xNN with the
// piece's byte, \u{NNNN} with its character; upper-case hex) into `out`,
// which has room for ESCAPE_MAX bytes; returns its length.
std::size_t format_escape(const TextPiece& piece, char* out);

// A file name (or any short text) for a message: escapes as above, white
// space other than the blank escaped too (a name can never break the
// message's line). Writes at most room - 1 bytes and a NUL into `out`, never
// ending inside a character or an escape; returns the bytes written before
// the NUL. `room` must be at least 1.
std::size_t escape_for_message(const char* text, char* out, std::size_t room);

// A tab-separated field, every byte recoverable (litrank's --tsv texts and
// litpack's metadata file): backslash, tab, LF and CR as \\ \t \n \r, other
// C0 controls and DEL as \xNN, C1 controls as \u{0080}..\u{009F} (or \xNN
// for a byte 80..9F that is not part of UTF-8); every other byte as it is.
// Escapes text[0..length) into out[0..room), stopping before a piece whose
// escape would not fit; *consumed is set to the bytes of text done. Returns
// the bytes written. With room >= TSV_ESCAPE_MAX at least one piece is done.
constexpr std::size_t TSV_ESCAPE_MAX = 8; // "\u{009F}" for two bytes
std::size_t escape_tsv(const char* text, std::size_t length, char* out, std::size_t room,
                       std::size_t* consumed);
