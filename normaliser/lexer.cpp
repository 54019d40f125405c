#include "normaliser/lexer.h"

#include <cstdint>
#include <cstring>

const char* input_cursor = nullptr;
const char* input_limit = nullptr;
const char* token_text = nullptr;
std::size_t token_length = 0;

const char* const month_abbreviations[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                             "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

namespace {

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

// clang-format off
const std::uint8_t byte_class[256] = {
/*         x0 x1 x2 x3 x4 x5 x6 x7 x8 x9 xa xb xc xd xe xf */
/* 0x */    1, 0, 0, 0, 0, 0, 0, 0, 0, 2, 2, 2, 2, 2, 0, 0,
/* 1x */    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
/* 2x */    2, 0, 0, 0, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0, 0,
/* 3x */    3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 0, 0, 0, 0, 0, 0,
/* 4x */    0, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4,
/* 5x */    4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 0, 7, 0, 0, 5,
/* 6x */    0, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4,
/* 7x */    4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 0, 0, 0, 0, 0,
/* 8x */    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
/* 9x */    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
/* ax */    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
/* bx */    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
/* cx */    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
/* dx */    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
/* ex */    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
/* fx */    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
};
// clang-format on

inline std::uint8_t class_of(const char* p) {
    return byte_class[static_cast<unsigned char>(*p)];
}

inline bool is_space(const char* p) {
    return class_of(p) == CC_SPACE;
}
inline bool is_digit(const char* p) {
    return class_of(p) == CC_DIGIT;
}

// Bytes that continue an identifier (letters, digits, underscore), as one
// table so that the identifier loop makes one test per byte.
struct IdentifierTable {
    bool member[256];
    constexpr IdentifierTable() : member() {
        for (int i = 0; i < 256; ++i) {
            member[i] = (i >= 'A' && i <= 'Z') || (i >= 'a' && i <= 'z') ||
                        (i >= '0' && i <= '9') || i == '_';
        }
    }
};
constexpr IdentifierTable identifier_byte;

inline bool continues_identifier(const char* p) {
    return identifier_byte.member[static_cast<unsigned char>(*p)];
}

inline const char* skip_digits(const char* p) {
    while (is_digit(p)) ++p;
    return p;
}

inline int token_from(const char* begin, const char* end) {
    token_text = begin;
    token_length = static_cast<std::size_t>(end - begin);
    input_cursor = end;
    return TOKEN;
}

// Comment `\* ... *\`: the token runs from the backslash through the first
// asterisk that is directly followed by a backslash, searching from the byte
// after the opening asterisk (so `\**\` closes at once). That closing
// backslash is left for the next call. A comment that is never closed runs
// to the end of the text as one token.
int read_comment(const char* begin) {
    const char* p = begin + 2;
    for (;;) {
        const char* star = std::strchr(p, '*');
        if (star == nullptr) {
            return token_from(begin, p + std::strlen(p));
        }
        if (star[1] == '\\') {
            return token_from(begin, star + 1);
        }
        p = star + 1;
    }
}

// String literal. A doubled apostrophe is a quoted apostrophe and stays in
// the body; the first lone apostrophe closes the literal. A NUL before it
// ends an unterminated literal, whose body is the rest of the text; the
// cursor then stays on the NUL.
int read_string(const char* begin) {
    const char* body = begin + 1;
    const char* p = body;
    const char* body_end;
    for (;;) {
        if (input_limit != nullptr) {
            // The statement's NUL is the last byte before the limit.
            const char* nul = input_limit - 1;
            const void* quote = std::memchr(p, '\'', static_cast<std::size_t>(nul - p));
            p = quote != nullptr ? static_cast<const char*>(quote) : nul;
        } else {
            while (*p != '\'' && *p != '\0') ++p;
        }
        if (*p == '\0') {
            body_end = p;
            input_cursor = p;
            break;
        }
        if (p[1] == '\'') {
            p += 2;
            continue;
        }
        body_end = p;
        input_cursor = p + 1;
        break;
    }
    return is_date_body(body, body_end) ? DATE_CONSTANT : STRING_CONSTANT;
}

// Number: digits [. digits*] [e|E [+|-] digits*]. The reader is loose on
// purpose: `1e` and `1.` are whole numbers here, and a sign in front of a
// number is a token of its own.
int read_number(const char* p) {
    p = skip_digits(p);
    if (*p == '.') p = skip_digits(p + 1);
    if (*p == 'e' || *p == 'E') {
        ++p;
        if (*p == '+' || *p == '-') ++p;
        p = skip_digits(p);
    }
    input_cursor = p;
    return NUMBER_CONSTANT;
}

int read_identifier(const char* begin) {
    const char* p = begin + 1;
    while (continues_identifier(p)) ++p;
    return token_from(begin, p);
}

// [spaces][+|-]digits, the digits' value stored in *value (saturated, so a
// long run of digits cannot overflow). Returns the end, or null if no digit.
const char* read_signed(const char* p, const char* end, long* value) {
    while (p < end && is_space(p)) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    if (p >= end || !is_digit(p)) return nullptr;
    long v = 0;
    while (p < end && is_digit(p)) {
        if (v < 1000) v = v * 10 + (*p - '0');
        ++p;
    }
    *value = negative ? -v : v;
    return p;
}

inline unsigned fold(char c) {
    auto b = static_cast<unsigned char>(c);
    return (b >= 'a' && b <= 'z') ? b - 'a' + 'A' : b;
}

// Three bytes as one number, for comparing a candidate month with the list
// in a few integer comparisons.
constexpr unsigned key3(unsigned a, unsigned b, unsigned c) {
    return a << 16 | b << 8 | c;
}

bool is_month_range(const char* text, std::size_t length) {
    if (length != 3) return false; // every abbreviation has three letters
    unsigned key = key3(fold(text[0]), fold(text[1]), fold(text[2]));
    for (const char* month : month_abbreviations) {
        if (key == key3(static_cast<unsigned char>(month[0]), static_cast<unsigned char>(month[1]),
                        static_cast<unsigned char>(month[2]))) {
            return true;
        }
    }
    return false;
}

} // namespace

int next_token() {
    const char* p = input_cursor;
    while (is_space(p)) ++p;
    input_cursor = p;
    switch (class_of(p)) {
    case CC_END: /* end of text: the cursor stays on the NUL */
        return END_OF_TEXT;
    case CC_BACKSLASH: /* '\' or '\*' (comment) */
        if (p[1] == '*') return read_comment(p);
        return token_from(p, p + 1);
    case CC_QUOTE: /* 'string' or 'date' */
        return read_string(p);
    case CC_DIGIT: /* number */
        return read_number(p);
    case CC_LETTER:
    case CC_UNDERSCORE: /* identifier */
        return read_identifier(p);
    default: /* any other byte, alone */
        return token_from(p, p + 1);
    }
}

bool is_date_body(const char* body, const char* end) {
    long day = 0;
    long year = 0;
    const char* p = read_signed(body, end, &day); // 1. day, 0..31
    if (p == nullptr || day < 0 || day > 31) return false;
    if (p >= end || *p != '-') return false; // 2. hyphen right after the day
    ++p;
    if (end - p < 4 || p[3] != '-') return false; // 3. three bytes, then a hyphen
    if (!is_month_range(p, 3)) return false;
    p += 4;
    return read_signed(p, end, &year) != nullptr; // 4. year; 5. anything after it
}

bool is_date_literal(const char* body) {
    return is_date_body(body, body + std::strlen(body));
}

bool is_month_abbreviation(const char* text) {
    return is_month_range(text, std::strlen(text));
}
