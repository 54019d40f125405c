// The lexer's step, over a cursor that the caller holds. next_token runs it
// on the lexer's globals; the parser's token loop runs it on locals, which
// stay in registers while the normalised text is written (a global cursor
// would have to be reloaded after every byte stored through a char pointer).
// Both cut exactly the same tokens: there is one definition of the rules.
#pragma once

#include "normaliser/lexer.h"

#include <cstddef>
#include <cstdint>

namespace token_scanner {

// Byte classes, decided by byte value alone and never by the locale. A switch
// on these small numbers compiles to a jump table; a switch on the raw byte
// would not. Bytes 0x80..0xFF belong to no class and become one-byte tokens.
enum ByteClass : std::uint8_t {
    CC_OTHER,      // one-byte token
    CC_END,        // NUL: end of the text
    CC_SPACE,      // 0x09..0x0D and blank
    CC_DIGIT,      // 0..9
    CC_LETTER,     // A..Z a..z; E and e are letters too, the number reader checks them itself
    CC_UNDERSCORE, // starts and continues identifiers, but is not a letter
    CC_QUOTE,      // apostrophe: string literal
    CC_BACKSLASH,  // comment when followed by an asterisk
};

struct ByteTables {
    std::uint8_t byte_class[256];
    bool continues_identifier[256]; // letters, digits, underscore: one test per byte
    constexpr ByteTables() : byte_class(), continues_identifier() {
        for (int i = 0; i < 256; ++i) {
            bool letter = (i >= 'A' && i <= 'Z') || (i >= 'a' && i <= 'z');
            bool digit = i >= '0' && i <= '9';
            std::uint8_t c = CC_OTHER;
            if (i == 0) c = CC_END;
            if ((i >= 0x09 && i <= 0x0D) || i == ' ') c = CC_SPACE;
            if (digit) c = CC_DIGIT;
            if (letter) c = CC_LETTER;
            if (i == '_') c = CC_UNDERSCORE;
            if (i == '\'') c = CC_QUOTE;
            if (i == '\\') c = CC_BACKSLASH;
            byte_class[i] = c;
            continues_identifier[i] = letter || digit || i == '_';
        }
    }
};
inline constexpr ByteTables tables;

inline std::uint8_t class_of(const char* p) {
    return tables.byte_class[static_cast<unsigned char>(*p)];
}

inline bool is_space(const char* p) {
    return class_of(p) == CC_SPACE;
}

inline bool is_digit(const char* p) {
    return class_of(p) == CC_DIGIT;
}

// Where the lexer stands in one statement.
struct Scan {
    const char* cursor; // next unread byte
    const char* limit;  // one past the statement's NUL, or null when not known
    const char* text;   // text of the last TOKEN (it points into the statement) ...
    std::size_t length; // ... and its length; set only when a step returns TOKEN
};

// The rarer tokens, out of line. Each takes the token's first byte, sets
// s.cursor past the token (and s.text/s.length for a comment) and returns
// its code.
int scan_comment(Scan& s, const char* begin);
int scan_string(Scan& s, const char* begin);

inline int token_from(Scan& s, const char* begin, const char* end) {
    s.text = begin;
    s.length = static_cast<std::size_t>(end - begin);
    s.cursor = end;
    return TOKEN;
}

// Number: digits [. digits*] [e|E [+|-] digits*]. The reader is loose on
// purpose: `1e` and `1.` are whole numbers here, and a sign in front of a
// number is a token of its own.
inline int scan_number(Scan& s, const char* p) {
    while (is_digit(p)) ++p;
    if (*p == '.') {
        ++p;
        while (is_digit(p)) ++p;
    }
    if (*p == 'e' || *p == 'E') {
        ++p;
        if (*p == '+' || *p == '-') ++p;
        while (is_digit(p)) ++p;
    }
    s.cursor = p;
    return NUMBER_CONSTANT;
}

// One token: its code, with the cursor left on the first byte after it. At
// the end of the text END_OF_TEXT, with the cursor on the NUL, every time.
inline int scan_token(Scan& s) {
    const char* p = s.cursor;
    while (is_space(p)) ++p;
    s.cursor = p;
    switch (class_of(p)) {
    case CC_END: /* end of text: the cursor stays on the NUL */
        return END_OF_TEXT;
    case CC_BACKSLASH: /* '\' or '\*' (comment) */
        if (p[1] == '*') return scan_comment(s, p);
        return token_from(s, p, p + 1);
    case CC_QUOTE: /* 'string' or 'date' */
        return scan_string(s, p);
    case CC_DIGIT: /* number */
        return scan_number(s, p + 1);
    case CC_LETTER:
    case CC_UNDERSCORE: { /* identifier */
        const char* end = p + 1;
        while (tables.continues_identifier[static_cast<unsigned char>(*end)]) ++end;
        return token_from(s, p, end);
    }
    default: /* any other byte, alone */
        return token_from(s, p, p + 1);
    }
}

} // namespace token_scanner
