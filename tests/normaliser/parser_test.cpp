#include "normaliser/lexer.h"
#include "normaliser/parser.h"
#include "normaliser/upper_case.h"
#include "platform/exit_statuses.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::string normalise(const std::string& text) {
    input_cursor = text.c_str();
    EXPECT_EQ(parse_statement(), 0);
    EXPECT_NE(normalized_text, nullptr);
    if (normalized_text == nullptr) return {};
    std::string result(normalized_text);
    EXPECT_EQ(result.size(), normalized_length);
    release_normalized_text();
    EXPECT_EQ(normalized_text, nullptr);
    return result;
}

struct NormaliseCase {
    const char* text;
    const char* normalised;
};

TEST(ParserTest, NormalisedTexts) {
    const NormaliseCase cases[] = {
        {"select name from emp where id = 10 and hired > '01-Jan-2003'",
         "SELECT NAME FROM EMP WHERE ID = :N AND HIRED > :D"},
        {"UPDATE t SET c='abc', d=3.5E+2 WHERE x<=-1",
         "UPDATE T SET C = :S , D = :N WHERE X < = - :N"},
        {"SELECT * FROM emp WHERE id=1", "SELECT * FROM EMP WHERE ID = :N"},
        {"select *  from EMP\nwhere ID = 42", "SELECT * FROM EMP WHERE ID = :N"},
        {"id = 1", "ID = :N"},
        {"id = '1'", "ID = :S"},
        {"d = '01-JAN-2003'", "D = :D"},
        {"d = 'x'", "D = :S"},
        {"select * from dual;", "SELECT * FROM DUAL ;"},
        {"a; b", "A ; B"},
        {"insert into t values ('It''s', 'x')", "INSERT INTO T VALUES ( :S , :S )"},
        {"where id = :id", "WHERE ID = : ID"},
        {"select \\* hint *\\ a from t", "SELECT \\* HINT * \\ A FROM T"},
        {"x", "X"},
        {"  \t x \n ", "X"},
        {"caf\xE9", "CAF \xE9"},
        {"\\* line one\n line two *\\", "\\* LINE ONE\n LINE TWO * \\"},
        {"_a1_z", "_A1_Z"},
        {"'never closed", ":S"},
        {"1 2.5 '3' '04-apr-04'", ":N :N :S :D"},
    };
    for (const NormaliseCase& c : cases) {
        EXPECT_EQ(normalise(c.text), c.normalised) << "text: " << c.text;
    }
}

TEST(ParserTest, ConsecutiveStatementsDoNotShareText) {
    EXPECT_EQ(normalise("a long first statement with many words"),
              "A LONG FIRST STATEMENT WITH MANY WORDS");
    EXPECT_EQ(normalise("b"), "B");
}

TEST(ParserTest, AppendTokenTextJoinsWithOneBlank) {
    input_cursor = "x";
    parse_statement();
    append_token_text("tail");
    append_token_text("");
    // Empty pieces still get their blank, exactly as "%s %s" would.
    std::string text(normalized_text, normalized_length);
    release_normalized_text();
    EXPECT_EQ(text, "X tail ");
}

std::string tokens(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += i % 2 == 0 ? "a " : "1 ";
    return text;
}

TEST(ParserTest, AcceptsTheMostTokensTheStacksHold) {
    std::string text = tokens(PARSER_STACK_DEPTH - 1);
    std::string normalised = normalise(text);
    EXPECT_EQ(normalised.size(), 2500u * 1 + 2499u * 2 + 4998u); // A, :N and the blanks
    EXPECT_EQ(normalised.substr(0, 8), "A :N A :");
    EXPECT_EQ(normalised.back(), 'A');
}

// The most text one statement can make: every byte a token, half of them
// one-digit numbers that become a blank and ":N" (three bytes for one).
TEST(ParserTest, DensestStatementOfTheMostTokens) {
    std::string text;
    for (int i = 0; i < PARSER_STACK_DEPTH - 1; ++i) text += i % 2 == 0 ? '1' : '(';
    std::string normalised = normalise(text);
    ASSERT_EQ(normalised.size(), 2500u * 2 + 2499u * 1 + 4998u);
    EXPECT_EQ(normalised.substr(0, 9), ":N ( :N (");
    EXPECT_EQ(normalised.substr(normalised.size() - 4), "( :N");
    // A word that ends the statement is upper-cased to its last byte, and the
    // next statement starts a text of its own.
    EXPECT_EQ(normalise("select abcdefghijklmnopq"), "SELECT ABCDEFGHIJKLMNOPQ");
    EXPECT_EQ(normalise("x"), "X");
}

// Identifiers are upper-cased eight bytes at a time: every identifier byte,
// at every position of a word, for lengths around the word size, followed
// by bytes that must neither change the identifier nor be changed.
TEST(ParserTest, IdentifiersUpperCasedWhateverFollows) {
    const std::string identifier_bytes =
        "_0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    const std::string afters[] = {"", " ", "\xff\xe0\x80", "`{@[", "'x'", "\x7f~"};
    for (std::size_t length = 1; length <= 19; ++length) {
        for (std::size_t start = 0; start < identifier_bytes.size(); start += 7) {
            std::string word = "w";
            for (std::size_t i = 1; i < length; ++i) {
                word += identifier_bytes[(start + i) % identifier_bytes.size()];
            }
            std::string upper = word;
            for (char& c : upper) {
                if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            }
            for (const std::string& after : afters) {
                // Once as the first token, once in the token loop.
                std::string text = "x " + word + after;
                std::string expected = "X " + upper;
                if (after == " " || after.empty()) {
                } else if (after[0] == '\'') {
                    expected += " :S";
                } else {
                    for (char c : after) expected += std::string(" ") + c;
                }
                EXPECT_EQ(normalise(text), expected) << "[" << text << "]";
                EXPECT_EQ(normalise(word + after).substr(0, upper.size()), upper);
            }
        }
    }
}

// Every combination of the parse's shortcuts, all on first.
const ParseShortcuts shortcut_combinations[] = {
    {true, true}, {true, false}, {false, true}, {false, false}};

std::string named(const ParseShortcuts& s) {
    return std::string("token loop ") + (s.token_loop ? "on" : "off") + ", reduction chains " +
           (s.reduction_chains ? "on" : "off");
}

// A statement of random tokens of every kind, with the spacing, letter case
// and lengths (around the eight-byte word) that the shortcuts treat apart.
std::string random_statement(std::mt19937& random) {
    static const char* const pieces[] = {"select",
                                         "FROM",
                                         "Where",
                                         "_x1",
                                         "abcdefg",
                                         "abcdefgh",
                                         "abcdefghi",
                                         "a",
                                         "Z",
                                         "t9_z",
                                         "1",
                                         "23.5e+2",
                                         "7.",
                                         "'x'",
                                         "'it''s'",
                                         "'01-Jan-2003'",
                                         "'31-dec-99 1:2'",
                                         "'",
                                         "\\* hint *\\",
                                         "\\* open",
                                         "(",
                                         ")",
                                         ",",
                                         "=",
                                         "<",
                                         ";",
                                         ":",
                                         "*",
                                         "-",
                                         "\xE9",
                                         "\xFF",
                                         "caf\xE9",
                                         "\x7F"};
    static const char* const gaps[] = {"", " ", "  ", "\t", "\n", "\r\n "};
    std::uniform_int_distribution<std::size_t> piece(0, sizeof pieces / sizeof *pieces - 1);
    std::uniform_int_distribution<std::size_t> gap(0, sizeof gaps / sizeof *gaps - 1);
    std::uniform_int_distribution<int> count(1, 60);
    std::string text;
    for (int n = count(random); n > 0; --n) {
        text += gaps[gap(random)];
        text += pieces[piece(random)];
    }
    return text;
}

// The shortcuts change how fast the text is made, never the text: each
// combination of them, down to the plain table loop with one reduction per
// step, gives the same bytes on random statements and on the statement of
// the most tokens.
TEST(ParserTest, ShortcutsAgreeWithThePlainPath) {
    std::mt19937 random(20261207); // fixed seed: reproducible
    std::vector<std::string> texts = {tokens(PARSER_STACK_DEPTH - 1), "x", "x y", "'a' b"};
    for (int i = 0; i < 3000; ++i) texts.push_back(random_statement(random));
    const ParseShortcuts all_on = parse_shortcuts;
    for (const std::string& text : texts) {
        std::string expected = normalise(text);
        for (const ParseShortcuts& shortcuts : shortcut_combinations) {
            parse_shortcuts = shortcuts;
            ASSERT_EQ(normalise(text), expected) << named(shortcuts) << ": [" << text << "]";
        }
        parse_shortcuts = all_on;
    }
}

using ParserDeathTest = ::testing::Test;

TEST(ParserDeathTest, StatementWithoutTokensIsASyntaxError) {
    const char* texts[] = {"", " \t\r\n", "\0select"};
    for (const char* text : texts) {
        input_cursor = text;
        EXPECT_EXIT(parse_statement(), ::testing::ExitedWithCode(EXIT_INPUT_SEEN), "^syntax error$")
            << "text: [" << text << "]";
    }
}

TEST(ParserDeathTest, FiveThousandTokensOverflowTheStack) {
    std::string text = tokens(PARSER_STACK_DEPTH);
    for (const ParseShortcuts& shortcuts : shortcut_combinations) {
        parse_shortcuts = shortcuts;
        input_cursor = text.c_str();
        EXPECT_EXIT(parse_statement(), ::testing::ExitedWithCode(EXIT_INPUT_SEEN),
                    "^yacc stack overflow$")
            << named(shortcuts);
    }
    parse_shortcuts = shortcut_combinations[0];
}

// Identifiers upper-cased a word at a time against the plain byte-by-byte
// copy: every identifier byte at every place of a word, lengths around the
// word size, and every distance to the statement's end, down to the one
// where a word no longer fits and the plain copy takes over. Past the copy
// the word store may leave changed bytes, but only within WORD_SLACK.
TEST(UpperCaseTest, IdentifierWordsAgreeWithThePlainCopy) {
    const std::string identifier_bytes =
        "_0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    for (std::size_t length = 1; length <= 25; ++length) {
        for (std::size_t start = 0; start < identifier_bytes.size(); ++start) {
            std::string text;
            for (std::size_t i = 0; i < length; ++i) {
                text += identifier_bytes[(start + 5 * i) % identifier_bytes.size()];
            }
            for (std::size_t after = 0; after <= 9; ++after) {
                std::string statement = text + std::string(after, '\xff');
                statement += '\0'; // the limit is one past the NUL
                const char* limit = statement.data() + statement.size();
                std::string plain(length + WORD_SLACK, '#');
                std::string words(length + WORD_SLACK, '#');
                copy_upper(&plain[0], statement.data(), length);
                char* end = copy_identifier_upper(&words[0], statement.data(), length, limit);
                ASSERT_EQ(end, &words[0] + length);
                ASSERT_EQ(words.substr(0, length), plain.substr(0, length))
                    << "[" << text << "], " << after << " bytes after it";
                ASSERT_EQ(words[length + WORD_SLACK - 1], '#') << "a store past the slack";
            }
        }
    }
}

TEST(ParserDeathTest, FatalErrorWritesTheMessageAlone) {
    EXPECT_EXIT(fatal_error("any words"), ::testing::ExitedWithCode(EXIT_INPUT_SEEN),
                "^any words$");
}

} // namespace
