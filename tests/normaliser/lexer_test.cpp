#include "normaliser/lexer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// "T:text" for a TOKEN, "S", "N", "D" for the literals.
// With `limit`, the lexer may read ahead up to the statement's NUL, as it
// does inside a parse; without it, it must find the NUL byte by byte.
std::vector<std::string> cut(const std::string& text, bool limit) {
    std::vector<std::string> tokens;
    input_cursor = text.c_str();
    input_limit = limit ? text.c_str() + text.size() + 1 : nullptr;
    for (int guard = 0; guard < 10000; ++guard) {
        int code = next_token();
        switch (code) {
        case END_OF_TEXT:
            // The end is sticky: every further call answers 0 again.
            EXPECT_EQ(next_token(), END_OF_TEXT);
            return tokens;
        case TOKEN:
            tokens.push_back("T:" + std::string(token_text, token_length));
            break;
        case STRING_CONSTANT:
            tokens.emplace_back("S");
            break;
        case NUMBER_CONSTANT:
            tokens.emplace_back("N");
            break;
        case DATE_CONSTANT:
            tokens.emplace_back("D");
            break;
        default:
            ADD_FAILURE() << "unexpected token code " << code;
            return tokens;
        }
    }
    ADD_FAILURE() << "lexer does not reach the end";
    return tokens;
}

std::vector<std::string> cut(const std::string& text) {
    std::vector<std::string> bytewise = cut(text, false);
    EXPECT_EQ(cut(text, true), bytewise) << "read-ahead changed the tokens of: " << text;
    input_limit = nullptr;
    return bytewise;
}

using Tokens = std::vector<std::string>;

struct LexCase {
    const char* text;
    Tokens tokens;
};

TEST(LexerTest, CutsWholeStatements) {
    const LexCase cases[] = {
        {"select a,b from t", {"T:select", "T:a", "T:,", "T:b", "T:from", "T:t"}},
        {"x<=-1.5e+3", {"T:x", "T:<", "T:=", "T:-", "N"}},
        {"3.14", {"N"}},
        {".5", {"T:.", "N"}},
        {"1.2.3", {"N", "T:.", "N"}},
        {"1e", {"N"}},
        {"1e+", {"N"}},
        {"1E-7x", {"N", "T:x"}},
        {"1else", {"N", "T:lse"}},
        {"1st", {"N", "T:st"}},
        {"0x1F", {"N", "T:x1F"}},
        {"LIKE like _tmp9", {"T:LIKE", "T:like", "T:_tmp9"}},
        {"v$sql", {"T:v", "T:$", "T:sql"}},
        {"a#b\"c\"", {"T:a", "T:#", "T:b", "T:\"", "T:c", "T:\""}},
        {"'It''s'", {"S"}},
        {"''", {"S"}},
        {"'abc", {"S"}},
        {"'a'''", {"S"}},
        {"'a' 'b'", {"S", "S"}},
        {"\\* hint *\\", {"T:\\* hint *", "T:\\"}},
        {"\\**\\", {"T:\\**", "T:\\"}},
        {"\\* a *\\* b *\\", {"T:\\* a *", "T:\\* b *", "T:\\"}},
        {"\\*multi\nline*\\", {"T:\\*multi\nline*", "T:\\"}},
        {"\\* never closed", {"T:\\* never closed"}},
        {"\\*", {"T:\\*"}},
        {"\\", {"T:\\"}},
        {"a\\b", {"T:a", "T:\\", "T:b"}},
        {"'", {"S"}},
        {"-- note", {"T:-", "T:-", "T:note"}},
        {"/* x */", {"T:/", "T:*", "T:x", "T:*", "T:/"}},
        {" \t\r\n\v\f", {}},
        {"", {}},
        {"caf\xE9", {"T:caf", "T:\xE9"}},
        {"\xA0x", {"T:\xA0", "T:x"}},
        {"\x01\x7F\x1F", {"T:\x01", "T:\x7F", "T:\x1F"}},
        {"{|}~:;", {"T:{", "T:|", "T:}", "T:~", "T::", "T:;"}},
        {"where id = :id", {"T:where", "T:id", "T:=", "T::", "T:id"}},
        {"x 'a\0b' y", {"T:x", "S"}}, // the first NUL ends the statement
    };
    for (const LexCase& c : cases) {
        EXPECT_EQ(cut(c.text), c.tokens) << "text: " << c.text;
    }
}

TEST(LexerTest, UnterminatedStringLeavesCursorOnTheEnd) {
    std::string text = "x = 'abc";
    input_cursor = text.c_str();
    EXPECT_EQ(next_token(), TOKEN);
    EXPECT_EQ(next_token(), TOKEN);
    EXPECT_EQ(next_token(), STRING_CONSTANT);
    EXPECT_EQ(input_cursor, text.c_str() + text.size());
    EXPECT_EQ(next_token(), END_OF_TEXT);
}

TEST(LexerTest, CommentLeavesClosingBackslashForNextToken) {
    std::string text = "\\* c *\\x";
    input_cursor = text.c_str();
    EXPECT_EQ(next_token(), TOKEN);
    EXPECT_EQ(*input_cursor, '\\');
}

TEST(LexerTest, LongIdentifierHasNoLimit) {
    std::string word(100000, 'q');
    EXPECT_EQ(cut(word + " z"), (Tokens{"T:" + word, "T:z"}));
}

struct DateCase {
    const char* body;
    bool is_date;
};

TEST(LexerTest, DateBodies) {
    const DateCase cases[] = {
        {"01-JAN-2003", true},
        {"1-jan-03", true},
        {"31-Dec-1999 23:59:59", true},
        {" 7-MAY-2001", true},
        {"01-JAN- 2003", true},
        {"0-JAN-1", true},
        {"+5-feb-+99", true},
        {"-0-Mar--1", true},
        {"\t\n9-sep-2", true},
        {"0031-oct-1", true},
        {"12-NOV-2003 trailing text", true},
        {"32-JAN-2003", false},
        {"-1-JAN-2003", false},
        {"99999999999999999999-JAN-1", false},
        {"01-JANUARY-2003", false},
        {"2003-01-01", false},
        {"01-JAN-", false},
        {"01-JAN", false},
        {"01 -JAN-2003", false},
        {"01- JAN-2003", false},
        {"01-JUX-2003", false},
        {"01-JAN-x2003", false},
        {"01-JAN-+", false},
        {"+-1-JAN-1", false},
        {"- 1-JAN-1", false},
        {"x01-JAN-2003", false},
        {"", false},
        {"01", false},
    };
    for (const DateCase& c : cases) {
        EXPECT_EQ(is_date_literal(c.body), c.is_date) << "body: " << c.body;
        std::string literal = std::string("'") + c.body + "'";
        EXPECT_EQ(cut(literal), Tokens{c.is_date ? "D" : "S"}) << "literal: " << literal;
    }
}

TEST(LexerTest, DateBodyWithQuotedApostropheInTheYearPart) {
    EXPECT_EQ(cut("'01-JAN-2003''s'"), Tokens{"D"});
    EXPECT_EQ(cut("'01-JAN-''2003'"), Tokens{"S"});
}

TEST(LexerTest, MonthAbbreviationsFoldOnlyAsciiLetters) {
    for (const char* month : month_abbreviations) {
        std::string lower = month;
        for (char& c : lower) c = static_cast<char>(c - 'A' + 'a');
        EXPECT_TRUE(is_month_abbreviation(month)) << month;
        EXPECT_TRUE(is_month_abbreviation(lower.c_str())) << lower;
    }
    const char* not_months[] = {"JA", "JANU", "", "J\xC1N", "JAN ", " JAN", "MAI"};
    for (const char* text : not_months) {
        EXPECT_FALSE(is_month_abbreviation(text)) << text;
    }
    EXPECT_TRUE(is_month_abbreviation("mAy"));
}

} // namespace
