#include "escape/escape.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// The UTF-8 bytes of one character.
std::string utf8(std::uint32_t code) {
    std::string s;
    if (code < 0x80) {
        s += static_cast<char>(code);
    } else if (code < 0x800) {
        s += static_cast<char>(0xC0 | code >> 6);
        s += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        s += static_cast<char>(0xE0 | code >> 12);
        s += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        s += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        s += static_cast<char>(0xF0 | code >> 18);
        s += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        s += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        s += static_cast<char>(0x80 | (code & 0x3F));
    }
    return s;
}

TextPiece piece_of(const std::string& text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    return next_text_piece(p, p + text.size());
}

// How the first piece of a text is shown: as it is, or its escape.
std::string shown(const std::string& text) {
    TextPiece piece = piece_of(text);
    if (piece.kind == PIECE_PLAIN || piece.kind == PIECE_WHITE) return text.substr(0, piece.bytes);
    char escape[ESCAPE_MAX];
    return std::string(escape, format_escape(piece, escape));
}

TEST(EscapeTest, WhatIsShownAsItIs) {
    struct Case {
        std::string text;
        PieceKind kind;
        std::size_t bytes;
        const char* shown;
    };
    const Case cases[] = {
        {"a", PIECE_PLAIN, 1, "a"},
        {"\\", PIECE_PLAIN, 1, "\\"},
        {"~", PIECE_PLAIN, 1, "~"},
        {" ", PIECE_WHITE, 1, " "},
        {"\t", PIECE_WHITE, 1, "\t"},
        {"\f", PIECE_WHITE, 1, "\f"},
        {std::string(1, '\0'), PIECE_BYTE, 1, "\\x00"},
        {"\x1B[31m", PIECE_BYTE, 1, "\\x1B"}, // ESC
        {"\x07", PIECE_BYTE, 1, "\\x07"},
        {"\x7F", PIECE_BYTE, 1, "\\x7F"},      // DEL
        {"\x9B", PIECE_BYTE, 1, "\\x9B"},      // a lone C1 byte is not UTF-8
        {"\xE9t\xE9", PIECE_BYTE, 1, "\\xE9"}, // Latin-1, not UTF-8
        {"\xC3", PIECE_BYTE, 1, "\\xC3"},      // cut short
        {"\xC0\xAF", PIECE_BYTE, 1, "\\xC0"},  // overlong
        {utf8(0x80), PIECE_CHARACTER, 2, "\\u{0080}"},
        {utf8(0x9B) + "31m", PIECE_CHARACTER, 2, "\\u{009B}"}, // CSI
        {utf8(0x9F), PIECE_CHARACTER, 2, "\\u{009F}"},
        {utf8(0xA0), PIECE_PLAIN, 2, "\xC2\xA0"},      // no-break space
        {utf8(0xAD), PIECE_CHARACTER, 2, "\\u{00AD}"}, // soft hyphen
        {utf8(0xE9), PIECE_PLAIN, 2, "\xC3\xA9"},
        {utf8(0x061C), PIECE_CHARACTER, 2, "\\u{061C}"},
        {utf8(0x200B), PIECE_CHARACTER, 3, "\\u{200B}"}, // zero-width space
        {utf8(0x200D), PIECE_CHARACTER, 3, "\\u{200D}"}, // zero-width joiner
        {utf8(0x200F), PIECE_CHARACTER, 3, "\\u{200F}"}, // right-to-left mark
        {utf8(0x2010), PIECE_PLAIN, 3, "\xE2\x80\x90"},  // hyphen
        {utf8(0x2028), PIECE_CHARACTER, 3, "\\u{2028}"},
        {utf8(0x202A), PIECE_CHARACTER, 3, "\\u{202A}"},
        {utf8(0x202E), PIECE_CHARACTER, 3, "\\u{202E}"}, // right-to-left override
        {utf8(0x202F), PIECE_PLAIN, 3, "\xE2\x80\xAF"},
        {utf8(0x2060), PIECE_CHARACTER, 3, "\\u{2060}"},
        {utf8(0x2066), PIECE_CHARACTER, 3, "\\u{2066}"},
        {utf8(0x2069), PIECE_CHARACTER, 3, "\\u{2069}"},
        {utf8(0x2070), PIECE_PLAIN, 3, "\xE2\x81\xB0"},
        {utf8(0x20AC), PIECE_PLAIN, 3, "\xE2\x82\xAC"}, // euro sign
        {utf8(0xFEFF), PIECE_CHARACTER, 3, "\\u{FEFF}"},
        {utf8(0x1F600), PIECE_PLAIN, 4, "\xF0\x9F\x98\x80"},
        {utf8(0xE0041), PIECE_CHARACTER, 4, "\\u{E0041}"}, // tag letter A
        {utf8(0xE0080), PIECE_PLAIN, 4, "\xF3\xA0\x82\x80"},
        {utf8(0x10FFFD), PIECE_PLAIN, 4, "\xF4\x8F\xBF\xBD"},
    };
    for (const Case& c : cases) {
        TextPiece piece = piece_of(c.text);
        EXPECT_EQ(piece.kind, c.kind) << c.shown;
        EXPECT_EQ(piece.bytes, c.bytes) << c.shown;
        EXPECT_EQ(shown(c.text), c.shown);
    }
}

TEST(EscapeTest, RangesAreOrderedAndEveryCharacterOfThemIsEscaped) {
    // The lookup stops at the first range above a character: the table must
    // ascend without overlaps, and both ends of each range must be caught.
    for (std::size_t i = 0; i < ESCAPED_CHARACTER_RANGES; ++i) {
        const CodeRange& r = ESCAPED_CHARACTERS[i];
        ASSERT_LE(r.first, r.last);
        if (i > 0) {
            ASSERT_LT(ESCAPED_CHARACTERS[i - 1].last + 1, r.first);
        }
        for (std::uint32_t code : {r.first, r.last, r.first - 1, r.last + 1}) {
            bool inside = code >= r.first && code <= r.last;
            EXPECT_EQ(piece_of(utf8(code)).kind == PIECE_CHARACTER, inside) << std::hex << code;
        }
    }
}

TEST(EscapeTest, NamesInMessages) {
    struct Case {
        std::string name;
        std::size_t room;
        const char* expected;
    };
    const Case cases[] = {
        {"plain name.rec", 64, "plain name.rec"},
        {"dir/caf\xC3\xA9.sql", 64, "dir/caf\xC3\xA9.sql"},
        {"a\tb\nc\rd", 64, "a\\x09b\\x0Ac\\x0Dd"},
        {"\x1B]0;title\x07.rec", 64, "\\x1B]0;title\\x07.rec"},
        {"x\xC2\x9B"
         "2J",
         64, "x\\u{009B}2J"},
        {"evil\xE2\x80\xAEgpj.sql", 64, "evil\\u{202E}gpj.sql"},
        {"bad\xFF.rec", 64, "bad\\xFF.rec"},
        // Cut to the room, never inside an escape or a character.
        {"abc\x1B", 7, "abc"},
        {"abc\x1B", 8, "abc\\x1B"},
        {"ab\xC3\xA9", 4, "ab"},
        {"abc", 1, ""},
    };
    for (const Case& c : cases) {
        char out[64];
        std::size_t n = escape_for_message(c.name.c_str(), out, c.room);
        EXPECT_EQ(std::string(out), c.expected);
        EXPECT_EQ(n, std::strlen(c.expected));
    }
}

// Escapes `text` in pieces of at most `room` bytes of output, as a writer
// with a small buffer would.
std::string tsv(const std::string& text, std::size_t room) {
    std::string written;
    std::size_t done = 0;
    while (done < text.size()) {
        char out[64];
        std::size_t consumed = 0;
        std::size_t n = escape_tsv(text.data() + done, text.size() - done, out, room, &consumed);
        if (consumed == 0) break; // no progress: the room is too small for the next piece
        written.append(out, n);
        done += consumed;
    }
    return written;
}

TEST(EscapeTest, TabSeparatedFields) {
    struct Case {
        std::string field;
        std::string written;
    };
    const Case cases[] = {
        {"plain text \xC3\xA9", "plain text \xC3\xA9"},
        {"a\tb\nc\rd\\e", "a\\tb\\nc\\rd\\\\e"},
        {std::string("\x00\x01\x1b\x7f", 4), "\\x00\\x01\\x1B\\x7F"},
        {"\xC2\x9B[31m", "\\u{009B}[31m"}, // C1 CSI written as UTF-8
        {"\xC2\x80\xC2\x9F\xC2\xA0", "\\u{0080}\\u{009F}\xC2\xA0"},
        {"\x9B\xFF\xA0", "\\x9B\xFF\xA0"}, // lone bytes: the C1 one escaped, others as they are
        {"\xE2\x80\xAE", "\xE2\x80\xAE"},  // U+202E: a character whose 80 byte is no control
        {"\xE2\x80", "\xE2\\x80"},         // cut short: the 80 is a lone byte
        {"\xF0\x9F\x98\x80!", "\xF0\x9F\x98\x80!"},
    };
    for (const Case& c : cases) {
        // Every room from the smallest that always progresses: an escape or
        // a character is never cut between two calls.
        for (std::size_t room = TSV_ESCAPE_MAX; room <= 24; ++room) {
            EXPECT_EQ(tsv(c.field, room), c.written) << c.field << ", room " << room;
        }
    }
    char out[4];
    std::size_t consumed = 99;
    EXPECT_EQ(escape_tsv("\x01", 1, out, 3, &consumed), 0u); // "\x01" needs 4
    EXPECT_EQ(consumed, 0u);
}

} // namespace
