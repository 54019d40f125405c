#include "ranker/pattern.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>
#ifndef _WIN32
#include <regex.h>
#endif

namespace {

bool matches(const std::string& pattern, const std::string& text) {
    const char* error = nullptr;
    Pattern* p = compile_pattern(pattern.c_str(), &error);
    EXPECT_NE(p, nullptr) << pattern << ": " << (error != nullptr ? error : "");
    if (p == nullptr) return false;
    bool found = pattern_matches(p, text.data(), text.size());
    release_pattern(p);
    return found;
}

TEST(PatternTest, ExtendedSyntaxFoundAnywhere) {
    struct Case {
        const char* pattern;
        const char* text;
        bool expected;
    };
    const Case cases[] = {
        {"FROM ORDERS", "SELECT * FROM ORDERS WHERE ID = :N", true},
        {"from orders", "SELECT * FROM ORDERS", true}, // letters match either case
        {"^SELECT", "SELECT 1", true},
        {"^SELECT", "X SELECT 1", false},
        {":N$", "WHERE ID = :N", true},
        {":N$", "WHERE ID = :N )", false},
        {"^$", "", true},
        {"", "anything", true},
        {"A|B", "xxBxx", true},
        {"(AB)+C", "ABABC", true},
        {"(AB)+C", "AC", false},
        {"X{2,3}Y", "XXY", true},
        {"^X{2,3}Y", "XXXXY", false},
        {"X{2}", "X", false},
        {"X{2,}", "XXXXX", true},
        {"A?B", "B", true},
        {"[[:digit:]]+", "ID 42", true},
        {"[[:digit:]]", "NO DIGITS", false},
        {"[^A-Z ]", "ALL CAPS", false},
        {"[^A-Z ]", "ALL CAPS!", true},
        {"[]X]", "]", true},
        {"[A-]", "-", true},
        {"\\(", "IN ( :N )", true},
        {"\\.", "A.B", true},
        {"\\.", "AB", false},
        {"A.C", "ABC", true},
        {"IN \\( (:N , )*:N \\)$", "WHERE ID IN ( :N , :N , :N )", true},
        {"IN \\( (:N , )*:N \\)$", "WHERE ID IN ( :N , :S )", false},
        {"(A*)*B", "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAC", false}, // no blow-up
        {"caf\xC3\xA9", "CAF\xC3\xA9", true},                               // bytes, not locales
        {"\xC3\xA9", "\xC3\x89", false},                                    // no case beyond ASCII
    };
    for (const Case& c : cases) {
        EXPECT_EQ(matches(c.pattern, c.text), c.expected) << c.pattern << " in " << c.text;
    }
}

TEST(PatternTest, WhatIsNotAPatternSaysWhy) {
    struct Case {
        const char* pattern;
        const char* error;
    };
    const Case cases[] = {
        {"A(B", "a ( is not closed"},
        {"AB)", "a ) is not opened"},
        {"[AB", "a [ is not closed"},
        {"[[:nope:]]", "unknown character class"},
        {"*A", "a repetition repeats nothing"},
        {"A{3,1}", "a {m,n} repetition is not one (at most 255)"},
        {"A{300}", "a {m,n} repetition is not one (at most 255)"},
        {"A{2", "a {m,n} repetition is not one (at most 255)"},
        {"A\\", "the pattern ends in a backslash"},
        {"[Z-A]", "a range ends before it starts"},
        {"((((((((((A{255}){255}){255}))))))))",
         "the pattern is too large once its repetitions are spelt out"},
    };
    for (const Case& c : cases) {
        const char* error = nullptr;
        EXPECT_EQ(compile_pattern(c.pattern, &error), nullptr) << c.pattern;
        EXPECT_STREQ(error, c.error) << c.pattern;
    }
    std::string deep(200, '(');
    const char* error = nullptr;
    EXPECT_EQ(compile_pattern((deep + "A" + std::string(200, ')')).c_str(), &error), nullptr);
    EXPECT_STREQ(error, "parentheses nest too deep");
}

#ifndef _WIN32
// Against the C library's regexec (REG_EXTENDED | REG_ICASE, the "C"
// locale), the reference that tells the truth, on random patterns and texts
// over a small alphabet, so that they meet often. Fixed seed: the same cases
// every run.
TEST(PatternTest, AgreesWithTheSystemMatcher) {
    std::mt19937 random(20261207);
    const char* const atoms[] = {"A", "b", "C", ".", "[AB]", "[^a]", "(A|B)", "(AB|C)", "^", "$"};
    const char* const repeats[] = {"", "", "", "*", "+", "?", "{2}", "{1,2}", "{0,}"};
    const char alphabet[] = "ABCab ";
    int agreed = 0;
    for (int i = 0; i < 3000; ++i) {
        std::string pattern;
        int n = 1 + static_cast<int>(random() % 4);
        for (int k = 0; k < n; ++k) {
            std::string atom = atoms[random() % 10];
            pattern += atom;
            if (atom != "^" && atom != "$") pattern += repeats[random() % 9];
        }
        if (random() % 4 == 0) pattern = "(" + pattern + ")|" + atoms[random() % 8];
        std::string text;
        int length = static_cast<int>(random() % 8);
        for (int k = 0; k < length; ++k) text += alphabet[random() % 6];
        regex_t reference;
        ASSERT_EQ(regcomp(&reference, pattern.c_str(), REG_EXTENDED | REG_ICASE | REG_NOSUB), 0)
            << pattern;
        bool expected = regexec(&reference, text.c_str(), 0, nullptr, 0) == 0;
        regfree(&reference);
        EXPECT_EQ(matches(pattern, text), expected) << pattern << " in \"" << text << "\"";
        agreed += expected;
    }
    EXPECT_GT(agreed, 500) << "the cases match often enough to test both answers";
}
#endif

TEST(GlobTest, WholeNameMatches) {
    struct Case {
        const char* glob;
        const char* text;
        bool expected;
    };
    const Case cases[] = {
        {"app.log", "app.log", true},
        {"app.log", "app.log.1", false},
        {"*.log", "logs/app.log", true},
        {"*.log", "app.log.1", false},
        {"app?.log", "app1.log", true},
        {"app?.log", "app.log", false},
        {"*", "", true},
        {"?", "", false},
        {"[ab]*", "b.log", true},
        {"[!ab]*", "b.log", false},
        {"[a-c]x", "cx", true},
        {"\\*", "*", true},
        {"\\*", "x", false},
        {"*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaac", false},
        {"[x", "[x", true},
        {"*/pg-*.csv", "/var/log/pg-2026.csv", true},
    };
    for (const Case& c : cases) {
        std::string text = c.text;
        EXPECT_EQ(glob_matches(c.glob, text.data(), text.size()), c.expected)
            << c.glob << " on " << c.text;
    }
}

} // namespace
