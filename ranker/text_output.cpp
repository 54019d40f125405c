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

void out_escape(OutBuffer* out, const TextPiece& piece) {
    char escape[ESCAPE_MAX];
    out_bytes(out, escape, format_escape(piece, escape));
}

inline bool is_control(unsigned char b) {
    return b < 0x20 || b == 0x7F;
}

// Columns a piece takes on a terminal: a run of white space and a character
// one each, an escape its length.
std::size_t piece_columns(const TextPiece& piece) {
    if (piece.kind == PIECE_PLAIN || piece.kind == PIECE_WHITE) return 1;
    char escape[ESCAPE_MAX];
    return format_escape(piece, escape);
}

// The next piece of a terminal text, a run of white space taken whole.
TextPiece next_terminal_piece(const unsigned char* p, const unsigned char* end) {
    TextPiece piece = next_text_piece(p, end);
    if (piece.kind == PIECE_WHITE) {
        while (p + piece.bytes < end && next_text_piece(p + piece.bytes, end).kind == PIECE_WHITE) {
            ++piece.bytes;
        }
    }
    return piece;
}

} // namespace

/*
 * 1. The text is a sequence of display pieces: a run of white space (one
 *    column), a character (one column), or an escape (its length).
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
            TextPiece piece = next_terminal_piece(p, end);
            needed += piece_columns(piece);
            fits = needed <= columns;
            p += piece.bytes;
        }
    }
    std::size_t room = fits ? SIZE_MAX : (columns > 3 ? columns - 3 : 0); // 3.
    std::size_t used = 0;
    for (const unsigned char* p = begin; p < end;) {
        TextPiece piece = next_terminal_piece(p, end);
        std::size_t width = piece_columns(piece);
        if (used + width > room) break;
        switch (piece.kind) {
        case PIECE_WHITE:
            out_bytes(out, " ", 1);
            break;
        case PIECE_BYTE:
        case PIECE_CHARACTER:
            out_escape(out, piece);
            break;
        case PIECE_PLAIN:
            out_bytes(out, reinterpret_cast<const char*>(p), piece.bytes);
            break;
        }
        used += width;
        p += piece.bytes;
    }
    if (!fits) {
        std::size_t dots = columns < 3 ? columns : 3;
        out_bytes(out, "...", dots);
        used += dots;
    }
    return used;
}

/*
 * Bytes below 0x80 decide alone. From 0x80 on, a well-formed UTF-8
 * character is escaped only when it is a C1 control (C2 80..C2 9F), and a
 * byte outside UTF-8 only when it is 80..9F (a C1 control to a terminal that
 * reads single bytes); others are written as they are.
 */
void out_tsv_text(OutBuffer* out, const char* text, std::size_t length) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = p + length;
    const unsigned char* plain = p; // start of bytes not yet written
    while (p < end) {
        unsigned char b = *p;
        std::size_t n = 1;
        if (b >= 0x80) {
            TextPiece piece = next_text_piece(p, end);
            bool c1 = piece.kind == PIECE_BYTE ? b <= 0x9F : is_c1_control(piece.code);
            if (!c1) {
                p += piece.bytes;
                continue;
            }
            out_bytes(out, reinterpret_cast<const char*>(plain),
                      static_cast<std::size_t>(p - plain));
            out_escape(out, piece);
            n = piece.bytes;
        } else if (!is_control(b) && b != '\\') {
            ++p;
            continue;
        } else {
            out_bytes(out, reinterpret_cast<const char*>(plain),
                      static_cast<std::size_t>(p - plain));
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
                out_escape(out, {PIECE_BYTE, 1, b});
                break;
            }
        }
        p += n;
        plain = p;
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
        TextPiece piece = next_text_piece(p, end);
        if (reference == nullptr &&
            (piece.kind == PIECE_PLAIN ||
             (piece.kind == PIECE_WHITE && (b == ' ' || b == '\t' || b == '\n' || b == '\r')))) {
            p += piece.bytes;
            continue;
        }
        out_bytes(out, reinterpret_cast<const char*>(plain), static_cast<std::size_t>(p - plain));
        if (reference != nullptr) {
            out_text(out, reference);
        } else {
            if (piece.kind == PIECE_WHITE) piece.kind = PIECE_BYTE; // VT and FF
            if (mark_bytes) out_text(out, "<span class=\"byte\">");
            out_escape(out, piece);
            if (mark_bytes) out_text(out, "</span>");
        }
        p += piece.bytes;
        plain = p;
    }
    out_bytes(out, reinterpret_cast<const char*>(plain), static_cast<std::size_t>(p - plain));
}
