#include "escape/escape.h"

#include "platform/digits.h"

#include <cstring>

/*
 * Well-formed UTF-8 (the table of the Unicode standard, 3.9):
 *   00..7F
 *   C2..DF  80..BF
 *   E0      A0..BF  80..BF
 *   E1..EC  80..BF  80..BF
 *   ED      80..9F  80..BF        (no surrogates)
 *   EE..EF  80..BF  80..BF
 *   F0      90..BF  80..BF  80..BF
 *   F1..F3  80..BF  80..BF  80..BF
 *   F4      80..8F  80..BF  80..BF (nothing above U+10FFFF)
 */
std::size_t utf8_sequence(const unsigned char* p, std::size_t left) {
    if (left == 0) return 0;
    unsigned char b = p[0];
    if (b < 0x80) return 1;
    std::size_t n;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        if (b == 0xE0) low = 0xA0;
        if (b == 0xED) high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        if (b == 0xF0) low = 0x90;
        if (b == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (left < n) return 0;
    if (p[1] < low || p[1] > high) return 0;
    for (std::size_t i = 2; i < n; ++i) {
        if (p[i] < 0x80 || p[i] > 0xBF) return 0;
    }
    return n;
}

const CodeRange ESCAPED_CHARACTERS[] = {
    {0x0080, 0x009F}, {0x00AD, 0x00AD}, {0x061C, 0x061C},   {0x180E, 0x180E},
    {0x200B, 0x200F}, {0x2028, 0x202E}, {0x2060, 0x2064},   {0x2066, 0x206F},
    {0xFEFF, 0xFEFF}, {0xFFF9, 0xFFFB}, {0xE0000, 0xE007F},
};
const std::size_t ESCAPED_CHARACTER_RANGES = sizeof ESCAPED_CHARACTERS / sizeof(CodeRange);

namespace {

// Byte classes of a first byte; UTF8_LEAD bytes need utf8_sequence.
enum ByteClass : unsigned char {
    B_PLAIN, // printable ASCII
    B_WHITE, // blank, tab, LF, VT, FF, CR
    B_CTRL,  // other C0 controls and DEL
    B_LEAD,  // 80..FF: part of a UTF-8 sequence or a byte to escape
};

// A table rather than range tests: the terminal listing asks for every byte.
// clang-format off
const unsigned char BYTE_CLASS[256] = {
/*       x0 x1 x2 x3 x4 x5 x6 x7 x8 x9 xa xb xc xd xe xf */
/* 0x */  2, 2, 2, 2, 2, 2, 2, 2, 2, 1, 1, 1, 1, 1, 2, 2,
/* 1x */  2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,
/* 2x */  1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
/* 3x */  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
/* 4x */  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
/* 5x */  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
/* 6x */  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
/* 7x */  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2,
/* 8x */  3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3,
/* 9x */  3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3,
/* ax */  3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3,
/* bx */  3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3,
/* cx */  3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3,
/* dx */  3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3,
/* ex */  3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3,
/* fx */  3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3,
};
// clang-format on

// The character of a well-formed sequence of n bytes.
std::uint32_t decode_utf8(const unsigned char* p, std::size_t n) {
    static const unsigned char LEAD_MASK[5] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    std::uint32_t code = p[0] & LEAD_MASK[n];
    for (std::size_t i = 1; i < n; ++i) code = code << 6 | (p[i] & 0x3Fu);
    return code;
}

bool is_escaped_character(std::uint32_t code) {
    for (std::size_t i = 0; i < ESCAPED_CHARACTER_RANGES; ++i) {
        if (code < ESCAPED_CHARACTERS[i].first) return false; // ranges ascend
        if (code <= ESCAPED_CHARACTERS[i].last) return true;
    }
    return false;
}

} // namespace

TextPiece next_text_piece(const unsigned char* p, const unsigned char* end) {
    unsigned char b = *p;
    switch (BYTE_CLASS[b]) {
    case B_PLAIN:
        return {PIECE_PLAIN, 1, b};
    case B_WHITE:
        return {PIECE_WHITE, 1, b};
    case B_CTRL:
        return {PIECE_BYTE, 1, b};
    default:
        break;
    }
    std::size_t n = utf8_sequence(p, static_cast<std::size_t>(end - p));
    if (n == 0) return {PIECE_BYTE, 1, b};
    std::uint32_t code = decode_utf8(p, n);
    return {is_escaped_character(code) ? PIECE_CHARACTER : PIECE_PLAIN, n, code};
}

std::size_t format_escape(const TextPiece& piece, char* out) {
    if (piece.kind != PIECE_CHARACTER) {
        out[0] = '\\';
        out[1] = 'x';
        out[2] = HEX_DIGITS[piece.code >> 4 & 15];
        out[3] = HEX_DIGITS[piece.code & 15];
        return 4;
    }
    std::size_t digits = 4;
    while (digits < 6 && piece.code >> (4 * digits) != 0) ++digits;
    std::size_t n = 0;
    out[n++] = '\\';
    out[n++] = 'u';
    out[n++] = '{';
    for (std::size_t d = digits; d > 0; --d)
        out[n++] = HEX_DIGITS[piece.code >> (4 * (d - 1)) & 15];
    out[n++] = '}';
    return n;
}

std::size_t escape_for_message(const char* text, char* out, std::size_t room) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = p + std::strlen(text);
    std::size_t used = 0;
    while (p < end) {
        TextPiece piece = next_text_piece(p, end);
        char escape[ESCAPE_MAX];
        const char* shown = reinterpret_cast<const char*>(p);
        std::size_t length = piece.bytes;
        if (piece.kind == PIECE_BYTE || piece.kind == PIECE_CHARACTER ||
            (piece.kind == PIECE_WHITE && piece.code != ' ')) {
            length = format_escape(piece, escape);
            shown = escape;
        }
        if (used + length > room - 1) break;
        std::memcpy(out + used, shown, length);
        used += length;
        p += piece.bytes;
    }
    out[used] = '\0';
    return used;
}

/*
 * Bytes below 0x80 decide alone. From 0x80 on, a well-formed UTF-8
 * character is escaped only when it is a C1 control (C2 80..C2 9F), and a
 * byte outside UTF-8 only when it is 80..9F (a C1 control to a terminal that
 * reads single bytes); others are written as they are.
 */
std::size_t escape_tsv(const char* text, std::size_t length, char* out, std::size_t room,
                       std::size_t* consumed) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = p + length;
    std::size_t used = 0;
    while (p < end) {
        // A run of printable ASCII (the blank too) other than the backslash
        // goes as it is, in one copy: most of a field is such a run.
        std::size_t most = static_cast<std::size_t>(end - p);
        if (most > room - used) most = room - used;
        std::size_t run = 0;
        while (run < most && ((BYTE_CLASS[p[run]] == B_PLAIN && p[run] != '\\') || p[run] == ' ')) {
            ++run;
        }
        if (run > 0) {
            std::memcpy(out + used, p, run);
            used += run;
            p += run;
            continue;
        }
        unsigned char b = *p;
        char escape[ESCAPE_MAX];
        const char* shown = escape;
        std::size_t n = 2;
        std::size_t bytes = 1;
        if (b >= 0x80) {
            TextPiece piece = next_text_piece(p, end);
            bool c1 = piece.kind == PIECE_BYTE ? b <= 0x9F : is_c1_control(piece.code);
            bytes = piece.bytes;
            if (c1) {
                n = format_escape(piece, escape);
            } else {
                shown = reinterpret_cast<const char*>(p);
                n = bytes;
            }
        } else if (b == '\\' || b == '\t' || b == '\n' || b == '\r') {
            escape[0] = '\\';
            escape[1] = b == '\\' ? '\\' : b == '\t' ? 't' : b == '\n' ? 'n' : 'r';
        } else { // the other C0 controls and DEL
            n = format_escape({PIECE_BYTE, 1, b}, escape);
        }
        if (room - used < n) break;
        std::memcpy(out + used, shown, n);
        used += n;
        p += bytes;
    }
    *consumed = static_cast<std::size_t>(p - reinterpret_cast<const unsigned char*>(text));
    return used;
}
