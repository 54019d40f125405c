#include "ranker/text_output.h"

#include "platform/digits.h"

#include <cstring>

void out_spaces(OutBuffer* out, std::size_t count) {
    static const char blanks[] = "                                ";
    while (count > 0) {
        std::size_t n = count < sizeof blanks - 1 ? count : sizeof blanks - 1;
        out_bytes(out, blanks, n);
        count -= n;
    }
}

void out_padded_number(OutBuffer* out, std::int64_t value, std::size_t width) {
    std::size_t w = decimal_width(value);
    if (w < width) out_spaces(out, width - w);
    out_number(out, value);
}

void out_basis_points(OutBuffer* out, std::int64_t basis_points) {
    out_number(out, basis_points / 100);
    char fraction[3] = {'.', static_cast<char>('0' + basis_points % 100 / 10),
                        static_cast<char>('0' + basis_points % 10)};
    out_bytes(out, fraction, sizeof fraction);
}

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

std::size_t utf8_cut(const char* text, std::size_t length, std::size_t limit) {
    if (length <= limit) return length;
    // The byte after the cut; a continuation byte there means the cut would
    // split a sequence, whose lead is at most three bytes back.
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    for (std::size_t back = 0; back <= 3 && back <= limit; ++back) {
        std::size_t lead = limit - back;
        if ((p[lead] & 0xC0) != 0x80) {
            std::size_t n = utf8_sequence(p + lead, length - lead);
            return n > back ? lead : limit;
        }
    }
    return limit;
}

namespace {

void out_byte_escape(OutBuffer* out, unsigned char b) {
    char escape[4] = {'\\', 'x', HEX_DIGITS[b >> 4], HEX_DIGITS[b & 15]};
    out_bytes(out, escape, sizeof escape);
}

inline bool is_control(unsigned char b) {
    return b < 0x20 || b == 0x7F;
}

inline bool is_white(unsigned char b) {
    return b == ' ' || b == '\t' || b == '\n' || b == '\r' || b == '\v' || b == '\f';
}

// One display piece of a terminal text.
enum PieceKind { PIECE_WHITE, PIECE_CHARACTER, PIECE_ESCAPED };
struct Piece {
    PieceKind kind;
    std::size_t bytes;   // bytes of the text it covers
    std::size_t columns; // columns it takes
};

Piece next_piece(const unsigned char* p, const unsigned char* end) {
    if (is_white(*p)) {
        std::size_t n = 1;
        while (p + n < end && is_white(p[n])) ++n;
        return {PIECE_WHITE, n, 1};
    }
    std::size_t n = is_control(*p) ? 0 : utf8_sequence(p, static_cast<std::size_t>(end - p));
    if (n == 0) return {PIECE_ESCAPED, 1, 4};
    return {PIECE_CHARACTER, n, 1};
}

} // namespace

/*
 * 1. The text is a sequence of display pieces: a run of white space (one
 *    column), a UTF-8 character (one column), or a byte shown as \xNN (four).
 * 2. Without a width, or when all pieces fit in it, all are written.
 * 3. Otherwise pieces are written while they leave room for "...", which
 *    then ends the text.
 */
std::size_t out_terminal_text(OutBuffer* out, const char* text, std::size_t length,
                              std::size_t columns) {
    const auto* begin = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = begin + length;
    bool fits = true; // 2.
    if (columns > 0) {
        std::size_t needed = 0;
        for (const unsigned char* p = begin; p < end && fits;) {
            Piece piece = next_piece(p, end);
            needed += piece.columns;
            fits = needed <= columns;
            p += piece.bytes;
        }
    }
    std::size_t room = fits ? SIZE_MAX : (columns > 3 ? columns - 3 : 0); // 3.
    std::size_t used = 0;
    for (const unsigned char* p = begin; p < end;) {
        Piece piece = next_piece(p, end);
        if (used + piece.columns > room) break;
        switch (piece.kind) {
        case PIECE_WHITE:
            out_bytes(out, " ", 1);
            break;
        case PIECE_ESCAPED:
            out_byte_escape(out, *p);
            break;
        case PIECE_CHARACTER:
            out_bytes(out, reinterpret_cast<const char*>(p), piece.bytes);
            break;
        }
        used += piece.columns;
        p += piece.bytes;
    }
    if (!fits) {
        std::size_t dots = columns < 3 ? columns : 3;
        out_bytes(out, "...", dots);
        used += dots;
    }
    return used;
}

void out_tsv_text(OutBuffer* out, const char* text, std::size_t length) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = p + length;
    const unsigned char* plain = p; // start of bytes not yet written
    for (; p < end; ++p) {
        unsigned char b = *p;
        if (!is_control(b) && b != '\\') continue;
        out_bytes(out, reinterpret_cast<const char*>(plain), static_cast<std::size_t>(p - plain));
        plain = p + 1;
        switch (b) {
        case '\\':
            out_bytes(out, "\\\\", 2);
            break;
        case '\t':
            out_bytes(out, "\\t", 2);
            break;
        case '\n':
            out_bytes(out, "\\n", 2);
            break;
        case '\r':
            out_bytes(out, "\\r", 2);
            break;
        default:
            out_byte_escape(out, b);
            break;
        }
    }
    out_bytes(out, reinterpret_cast<const char*>(plain), static_cast<std::size_t>(p - plain));
}

void out_html_text(OutBuffer* out, const char* text, std::size_t length, bool mark_bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = p + length;
    const unsigned char* plain = p;
    while (p < end) {
        unsigned char b = *p;
        const char* reference = nullptr;
        switch (b) {
        case '&':
            reference = "&amp;";
            break;
        case '<':
            reference = "&lt;";
            break;
        case '>':
            reference = "&gt;";
            break;
        case '"':
            reference = "&quot;";
            break;
        case '\'':
            reference = "&#39;";
            break;
        default:
            break;
        }
        std::size_t n = 1;
        bool escape = false;
        if (reference == nullptr) {
            if (b == '\t' || b == '\n' || b == '\r') {
                ++p;
                continue;
            }
            if (is_control(b)) {
                escape = true;
            } else {
                n = utf8_sequence(p, static_cast<std::size_t>(end - p));
                if (n > 0) {
                    p += n;
                    continue;
                }
                escape = true;
            }
        }
        out_bytes(out, reinterpret_cast<const char*>(plain), static_cast<std::size_t>(p - plain));
        if (reference != nullptr) {
            out_text(out, reference);
        } else if (escape) {
            if (mark_bytes) out_text(out, "<span class=\"byte\">");
            out_byte_escape(out, b);
            if (mark_bytes) out_text(out, "</span>");
        }
        ++p;
        plain = p;
    }
    out_bytes(out, reinterpret_cast<const char*>(plain), static_cast<std::size_t>(p - plain));
}
