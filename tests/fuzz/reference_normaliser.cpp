#include "tests/fuzz/reference_normaliser.h"

#include "normaliser/lexer.h"

namespace {

bool space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
bool digit(char c) {
    return c >= '0' && c <= '9';
}
bool letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool word_byte(char c) {
    return letter(c) || digit(c) || c == '_';
}
char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

// [spaces][+|-]digits starting at i; on success `i` is past the digits and
// `small` tells whether the value lies in 0..31.
bool signed_number(const std::string& s, std::size_t& i, bool& small) {
    while (i < s.size() && space(s[i])) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    std::size_t first = i;
    while (i < s.size() && digit(s[i])) ++i;
    if (i == first) return false;
    std::string digits = s.substr(first, i - first);
    std::size_t nonzero = digits.find_first_not_of('0');
    std::string value = nonzero == std::string::npos ? "0" : digits.substr(nonzero);
    small = value == "0" || (!negative && value.size() <= 2 && std::stoi(value) <= 31);
    return true;
}

} // namespace

bool reference_is_date(const std::string& body) {
    static const char* const months[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                         "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    std::size_t i = 0;
    bool small = false;
    if (!signed_number(body, i, small) || !small) return false;
    if (i >= body.size() || body[i] != '-') return false;
    ++i;
    if (body.size() - i < 4 || body[i + 3] != '-') return false;
    std::string month;
    for (std::size_t k = 0; k < 3; ++k) month += upper(body[i + k]);
    bool known = false;
    for (const char* m : months) known = known || month == m;
    if (!known) return false;
    i += 4;
    return signed_number(body, i, small);
}

std::vector<ReferenceToken> reference_tokens(const std::string& s) {
    std::vector<ReferenceToken> out;
    std::size_t i = 0;
    const std::size_t n = s.size();
    for (;;) {
        while (i < n && space(s[i])) ++i;
        if (i == n) return out;
        char c = s[i];
        if (c == '\\' && i + 1 < n && s[i + 1] == '*') {
            std::size_t close = s.find("*\\", i + 2);
            std::size_t end = close == std::string::npos ? n : close + 1;
            out.push_back({TOKEN, s.substr(i, end - i)});
            i = end;
        } else if (c == '\'') {
            std::size_t j = i + 1;
            std::string body;
            for (;;) {
                if (j == n) {
                    i = n;
                    break;
                }
                if (s[j] == '\'') {
                    if (j + 1 < n && s[j + 1] == '\'') {
                        body += "''";
                        j += 2;
                        continue;
                    }
                    i = j + 1;
                    break;
                }
                body += s[j++];
            }
            out.push_back({reference_is_date(body) ? DATE_CONSTANT : STRING_CONSTANT, ""});
        } else if (digit(c)) {
            while (i < n && digit(s[i])) ++i;
            if (i < n && s[i] == '.') {
                ++i;
                while (i < n && digit(s[i])) ++i;
            }
            if (i < n && (s[i] == 'e' || s[i] == 'E')) {
                ++i;
                if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
                while (i < n && digit(s[i])) ++i;
            }
            out.push_back({NUMBER_CONSTANT, ""});
        } else if (letter(c) || c == '_') {
            std::size_t j = i + 1;
            while (j < n && word_byte(s[j])) ++j;
            out.push_back({TOKEN, s.substr(i, j - i)});
            i = j;
        } else {
            out.push_back({TOKEN, std::string(1, c)});
            ++i;
        }
    }
}

std::string reference_piece(const ReferenceToken& token) {
    switch (token.code) {
    case STRING_CONSTANT:
        return ":S";
    case NUMBER_CONSTANT:
        return ":N";
    case DATE_CONSTANT:
        return ":D";
    default: {
        std::string text;
        for (char c : token.text) text += upper(c);
        return text;
    }
    }
}

std::string reference_normalised(const std::vector<ReferenceToken>& tokens) {
    std::string text;
    for (const ReferenceToken& token : tokens) {
        if (!text.empty()) text += ' ';
        text += reference_piece(token);
    }
    return text;
}
