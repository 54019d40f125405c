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

// East Asian Wide and Fullwidth characters, as inclusive ranges in
// ascending order: Hangul Jamo, a few wide symbols and emoji of the BMP,
// CJK radicals through Yi, Hangul syllables, CJK compatibility, vertical
// and small forms, fullwidth forms, then the emoji and the CJK planes.
// Coarser than the Unicode table in the emoji blocks; no locale involved.
const CodeRange WIDE_CHARACTERS[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},
    {0x23F0, 0x23F0},   {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},
    {0x2648, 0x2653},   {0x267F, 0x267F},   {0x2693, 0x2693},   {0x26A1, 0x26A1},
    {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},   {0x26CE, 0x26CE},
    {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},
    {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},
    {0x2728, 0x2728},   {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},
    {0x2757, 0x2757},   {0x2795, 0x2797},   {0x27B0, 0x27B0},   {0x27BF, 0x27BF},
    {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2B55, 0x2B55},   {0x2E80, 0x303E},
    {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
    {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},
    {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x16FE0, 0x16FE4},
    {0x17000, 0x18CFF}, {0x1B000, 0x1B2FF}, {0x1F004, 0x1F004}, {0x1F0CF, 0x1F0CF},
    {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A}, {0x1F200, 0x1F251}, {0x1F260, 0x1F265},
    {0x1F300, 0x1F64F}, {0x1F680, 0x1F6FF}, {0x1F7E0, 0x1F7EB}, {0x1F90C, 0x1F9FF},
    {0x1FA70, 0x1FAFF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
};

// Columns a piece takes on a terminal: a run of white space one, a
// character one or two, an escape its length.
std::size_t piece_columns(const TextPiece& piece) {
    if (piece.kind == PIECE_WHITE) return 1;
    if (piece.kind == PIECE_PLAIN) return character_columns(piece.code);
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

void out_piece(OutBuffer* out, const TextPiece& piece, const unsigned char* p) {
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
}

// Writes the pieces of [p, end) while they fit in `room` columns; returns
// where it stopped and adds the columns to *used.
const unsigned char* out_pieces(OutBuffer* out, const unsigned char* p, const unsigned char* end,
                                std::size_t room, std::size_t* used) {
    std::size_t taken = 0;
    while (p < end) {
        TextPiece piece = next_terminal_piece(p, end);
        std::size_t width = piece_columns(piece);
        if (taken + width > room) break;
        out_piece(out, piece, p);
        taken += width;
        p += piece.bytes;
    }
    *used += taken;
    return p;
}

// The start of the shortest end of [begin, end) that takes at most `room`
// columns (`total` the columns of all of it), at or after `from`.
const unsigned char* tail_start(const unsigned char* begin, const unsigned char* end,
                                std::size_t total, std::size_t room, const unsigned char* from) {
    std::size_t before = 0; // columns before p
    const unsigned char* p = begin;
    while (p < end && (total - before > room || p < from)) {
        TextPiece piece = next_terminal_piece(p, end);
        before += piece_columns(piece);
        p += piece.bytes;
    }
    return p;
}

const char CUT_OPEN[] = "...(";
const char CUT_MIDDLE[] = " bytes)...";
const char CUT_END[] = " more bytes)";

// Columns of a cut note for up to `bytes` hidden bytes.
std::size_t note_columns(std::int64_t bytes, const char* close) {
    return sizeof CUT_OPEN - 1 + decimal_width(bytes) + std::strlen(close);
}

void out_note(OutBuffer* out, std::int64_t bytes, const char* close, std::size_t* used) {
    out_text(out, CUT_OPEN);
    out_number(out, bytes);
    out_text(out, close);
    *used += note_columns(bytes, close);
}

} // namespace

std::size_t character_columns(std::uint32_t code) {
    if (code < WIDE_CHARACTERS[0].first) return 1;
    std::size_t low = 0;
    std::size_t high = sizeof WIDE_CHARACTERS / sizeof WIDE_CHARACTERS[0];
    while (low < high) { // the first range that does not end before code
        std::size_t mid = (low + high) / 2;
        if (WIDE_CHARACTERS[mid].last < code) {
            low = mid + 1;
        } else {
            high = mid;
        }
    }
    return low < sizeof WIDE_CHARACTERS / sizeof WIDE_CHARACTERS[0] &&
                   WIDE_CHARACTERS[low].first <= code
               ? 2
               : 1;
}

std::size_t out_terminal_end(OutBuffer* out, const char* text, std::size_t length,
                             std::size_t columns) {
    const auto* begin = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = begin + length;
    std::size_t used = 0;
    std::size_t total = terminal_width(text, length);
    if (columns == 0 || total <= columns) {
        out_pieces(out, begin, end, SIZE_MAX, &used);
        return used;
    }
    std::size_t dots = columns < 3 ? columns : 3;
    out_bytes(out, "...", dots);
    const unsigned char* tail = tail_start(begin, end, total, columns - dots, begin);
    out_pieces(out, tail, end, SIZE_MAX, &used);
    return used + dots;
}

std::size_t terminal_width(const char* text, std::size_t length) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = p + length;
    std::size_t total = 0;
    while (p < end) {
        TextPiece piece = next_terminal_piece(p, end);
        total += piece_columns(piece);
        p += piece.bytes;
    }
    return total;
}

/*
 * 1. A text that fits (and is kept whole) is written as it is.
 * 2. A text kept only in part (its end is not here) is cut at its end:
 *    what fits, then "...(N more bytes)" with every byte not shown.
 * 3. Otherwise the cut is in the middle, where texts that differ least
 *    differ least: two thirds of the room for the start, the rest for the
 *    end (an IN list's length, a closing condition), and "...(N bytes)..."
 *    for the bytes between.
 * 4. Too narrow for a note: what fits, then "...".
 */
std::size_t out_terminal_text(OutBuffer* out, const char* text, std::size_t length,
                              std::size_t full, std::size_t columns) {
    const auto* begin = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = begin + length;
    std::size_t used = 0;
    std::size_t total = terminal_width(text, length);
    auto hidden_after = [&](const unsigned char* p) {
        return static_cast<std::int64_t>(full - static_cast<std::size_t>(p - begin));
    };
    if (full < length) full = length;
    if (columns == 0 || (total <= columns && full == length)) { // 1.
        out_pieces(out, begin, end, SIZE_MAX, &used);
        return used;
    }
    auto whole = static_cast<std::int64_t>(full);
    std::size_t end_note = note_columns(whole, CUT_END);
    std::size_t middle_note = note_columns(whole, CUT_MIDDLE);
    if (full > length && columns >= end_note + 8) { // 2.
        std::size_t room = total + end_note <= columns ? total : columns - end_note;
        const unsigned char* stop = out_pieces(out, begin, end, room, &used);
        out_note(out, hidden_after(stop), CUT_END, &used);
        return used;
    }
    if (full == length && columns >= middle_note + 20) { // 3.
        std::size_t room = columns - middle_note;
        std::size_t tail_room = room / 3;
        const unsigned char* head_end = out_pieces(out, begin, end, room - tail_room, &used);
        const unsigned char* tail = tail_start(begin, end, total, tail_room, head_end);
        out_note(out, static_cast<std::int64_t>(tail - head_end), CUT_MIDDLE, &used);
        out_pieces(out, tail, end, SIZE_MAX, &used);
        return used;
    }
    out_pieces(out, begin, end, columns > 3 ? columns - 3 : 0, &used); // 4.
    std::size_t dots = columns < 3 ? columns : 3;
    out_bytes(out, "...", dots);
    return used + dots;
}

// The one TSV rule (escape_tsv), laid down straight into the buffer's room.
void out_tsv_text(OutBuffer* out, const char* text, std::size_t length) {
    constexpr std::size_t ROOM = 4096;
    while (length > 0) {
        char* room = out_room(out, ROOM);
        std::size_t consumed = 0;
        out->used += escape_tsv(text, length, room, ROOM, &consumed);
        text += consumed;
        length -= consumed;
    }
}

std::size_t out_html_text(OutBuffer* out, const char* text, std::size_t length, bool mark_bytes,
                          std::size_t budget) {
    static const char MARK_OPEN[] = "<span class=\"byte\">";
    static const char MARK_CLOSE[] = "</span>";
    const auto* begin = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* p = begin;
    const unsigned char* end = p + length;
    const unsigned char* plain = p;
    std::size_t spent = 0;
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
        bool as_is =
            reference == nullptr &&
            (piece.kind == PIECE_PLAIN ||
             (piece.kind == PIECE_WHITE && (b == ' ' || b == '\t' || b == '\n' || b == '\r')));
        char escape[ESCAPE_MAX];
        std::size_t cost = piece.bytes;
        if (reference != nullptr) {
            cost = std::strlen(reference);
        } else if (!as_is) {
            if (piece.kind == PIECE_WHITE) piece.kind = PIECE_BYTE; // VT and FF
            cost = format_escape(piece, escape);
            if (mark_bytes) cost += sizeof MARK_OPEN - 1 + sizeof MARK_CLOSE - 1;
        }
        if (spent + cost > budget) break;
        spent += cost;
        if (as_is) {
            p += piece.bytes;
            continue;
        }
        out_bytes(out, reinterpret_cast<const char*>(plain), static_cast<std::size_t>(p - plain));
        if (reference != nullptr) {
            out_text(out, reference);
        } else {
            if (mark_bytes) out_text(out, MARK_OPEN);
            out_escape(out, piece);
            if (mark_bytes) out_text(out, MARK_CLOSE);
        }
        p += piece.bytes;
        plain = p;
    }
    out_bytes(out, reinterpret_cast<const char*>(plain), static_cast<std::size_t>(p - plain));
    return static_cast<std::size_t>(p - begin);
}

void out_json_text(OutBuffer* out, const char* text, std::size_t length) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = p + length;
    const unsigned char* plain = p;
    while (p < end) {
        unsigned char b = *p;
        std::size_t n = 1;
        const char* short_form = nullptr;
        std::uint32_t code = b;
        if (b >= 0x80) {
            n = utf8_sequence(p, static_cast<std::size_t>(end - p));
            bool separator = n == 3 && b == 0xE2 && p[1] == 0x80 && (p[2] == 0xA8 || p[2] == 0xA9);
            if (n > 0 && !separator) {
                p += n;
                continue;
            }
            if (separator) code = p[2] == 0xA8 ? 0x2028 : 0x2029;
            if (n == 0) n = 1;
        } else if (b >= 0x20 && b != '"' && b != '\\') {
            ++p;
            continue;
        } else {
            switch (b) {
            case '"':
                short_form = "\\\"";
                break;
            case '\\':
                short_form = "\\\\";
                break;
            case '\n':
                short_form = "\\n";
                break;
            case '\r':
                short_form = "\\r";
                break;
            case '\t':
                short_form = "\\t";
                break;
            case '\b':
                short_form = "\\b";
                break;
            case '\f':
                short_form = "\\f";
                break;
            default:
                break;
            }
        }
        out_bytes(out, reinterpret_cast<const char*>(plain), static_cast<std::size_t>(p - plain));
        if (short_form != nullptr) {
            out_text(out, short_form);
        } else {
            char escape[6] = {'\\',
                              'u',
                              HEX_DIGITS[code >> 12 & 15],
                              HEX_DIGITS[code >> 8 & 15],
                              HEX_DIGITS[code >> 4 & 15],
                              HEX_DIGITS[code & 15]};
            out_bytes(out, escape, sizeof escape);
        }
        p += n;
        plain = p;
    }
    out_bytes(out, reinterpret_cast<const char*>(plain), static_cast<std::size_t>(p - plain));
}
