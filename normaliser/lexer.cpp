#include "normaliser/lexer.h"

#include "normaliser/token_scanner.h"

#include <cstdint>
#include <cstring>

thread_local const char* input_cursor = nullptr;
thread_local const char* input_limit = nullptr;
thread_local const char* token_text = nullptr;
thread_local std::size_t token_length = 0;

const char* const month_abbreviations[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                             "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

namespace {

using token_scanner::is_digit;
using token_scanner::is_space;
using token_scanner::Scan;

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
    Scan s{input_cursor, input_limit, nullptr, 0};
    int code = token_scanner::scan_token(s);
    input_cursor = s.cursor;
    if (code == TOKEN) {
        token_text = s.text;
        token_length = s.length;
    }
    return code;
}

namespace token_scanner {

// Comment `\* ... *\`: the token runs from the backslash through the first
// asterisk that is directly followed by a backslash, searching from the byte
// after the opening asterisk (so `\**\` closes at once). That closing
// backslash is left for the next call. A comment that is never closed runs
// to the end of the text as one token.
int scan_comment(Scan& s, const char* begin) {
    const char* p = begin + 2;
    for (;;) {
        const char* star = std::strchr(p, '*');
        if (star == nullptr) return token_from(s, begin, p + std::strlen(p));
        if (star[1] == '\\') return token_from(s, begin, star + 1);
        p = star + 1;
    }
}

// String literal. A doubled apostrophe is a quoted apostrophe and stays in
// the body; the first lone apostrophe closes the literal. A NUL before it
// ends an unterminated literal, whose body is the rest of the text; the
// cursor then stays on the NUL.
int scan_string(Scan& s, const char* begin) {
    const char* body = begin + 1;
    const char* p = body;
    const char* body_end;
    for (;;) {
        if (s.limit != nullptr) {
            // The statement's NUL is the last byte before the limit.
            const char* nul = s.limit - 1;
            const void* quote = std::memchr(p, '\'', static_cast<std::size_t>(nul - p));
            p = quote != nullptr ? static_cast<const char*>(quote) : nul;
        } else {
            while (*p != '\'' && *p != '\0') ++p;
        }
        if (*p == '\0') {
            body_end = p;
            s.cursor = p;
            break;
        }
        if (p[1] == '\'') {
            p += 2;
            continue;
        }
        body_end = p;
        s.cursor = p + 1;
        break;
    }
    return is_date_body(body, body_end) ? DATE_CONSTANT : STRING_CONSTANT;
}

} // namespace token_scanner

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
