#include "packer/sql_splitter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

using Statements = std::vector<std::string>;

void collect(void* context, const char* text, std::size_t length) {
    static_cast<Statements*>(context)->emplace_back(text, length);
}

// Splits `sql` read `block_size` bytes at a time.
Statements split(const std::string& sql, std::size_t block_size, bool lines = false) {
    InputStream in;
    input_open_memory(&in, sql.data(), sql.size(), block_size);
    StatementText text;
    statement_start(&text);
    Statements out;
    if (lines) {
        split_lines(&in, &text, collect, &out);
    } else {
        split_statements(&in, &text, collect, &out);
    }
    statement_free(&text);
    input_close(&in);
    return out;
}

// Block sizes that cut the input everywhere: a byte at a time, sizes that
// split every two- and three-byte form, and one block for the whole.
const std::size_t BLOCK_SIZES[] = {1, 2, 3, 5, 64 * 1024};

/*
 * The splitter litpack had when it read each input whole, kept unchanged as
 * the reference the streamed one must agree with on every input.
 */
namespace reference {

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}
bool is_space(char c) {
    return is_blank(c) || c == '\n';
}

void emit(Statements* out, const std::string& text, std::size_t begin, std::size_t end) {
    while (begin < end && is_space(text[begin])) ++begin;
    while (end > begin && is_space(text[end - 1])) --end;
    if (begin < end) out->push_back(text.substr(begin, end - begin));
}

bool rest_of_line_blank(const std::string& text, std::size_t from) {
    while (from < text.size() && is_blank(text[from])) ++from;
    return from == text.size() || text[from] == '\n' ||
           (text[from] == '-' && from + 1 < text.size() && text[from + 1] == '-');
}

std::size_t end_of_line(const std::string& text, std::size_t from) {
    std::size_t stop = text.find('\n', from);
    return stop == std::string::npos ? text.size() : stop;
}

Statements split(const std::string& text) {
    Statements out;
    enum { BETWEEN, STATEMENT } where = BETWEEN;
    std::size_t start = 0;
    std::size_t i = 0;
    bool line_start = true;
    while (i < text.size()) {
        char c = text[i];
        if (line_start) {
            std::size_t j = i;
            while (j < text.size() && is_blank(text[j])) ++j;
            if (j < text.size() && text[j] == '/' && rest_of_line_blank(text, j + 1)) {
                if (where == STATEMENT) emit(&out, text, start, i);
                where = BETWEEN;
                i = end_of_line(text, j + 1);
                continue;
            }
        }
        line_start = false;
        if (c == '\n') {
            line_start = true;
            ++i;
            continue;
        }
        if (c == '-' && i + 1 < text.size() && text[i + 1] == '-') {
            i = end_of_line(text, i);
            continue;
        }
        if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
            std::size_t close = text.find("*/", i + 2);
            i = close == std::string::npos ? text.size() : close + 2;
            continue;
        }
        if (where == BETWEEN && !is_space(c)) {
            where = STATEMENT;
            start = i;
        }
        if (c == '\'' || c == '"') {
            std::size_t j = i + 1;
            for (;;) {
                j = text.find(c, j);
                if (j == std::string::npos) {
                    j = text.size();
                    break;
                }
                if (j + 1 < text.size() && text[j + 1] == c) {
                    j += 2;
                    continue;
                }
                ++j;
                break;
            }
            i = j;
            continue;
        }
        if (c == ';' && where == STATEMENT && rest_of_line_blank(text, i + 1)) {
            emit(&out, text, start, i);
            where = BETWEEN;
        }
        ++i;
    }
    if (where == STATEMENT) emit(&out, text, start, text.size());
    return out;
}

} // namespace reference

TEST(SqlSplitterTest, WorkedExamples) {
    struct Case {
        const char* name;
        std::string sql;
        Statements expected;
    };
    const Case cases[] = {
        {"ends at a ; that closes its line",
         "select 1;\nselect 2 ;  \r\nselect 3",
         {"select 1", "select 2", "select 3"}},
        {"a ; inside a line is text", "select 1; select 2;\n", {"select 1; select 2"}},
        {"a comment after the ; still ends it",
         "select 1; -- done\nselect 2;--\n",
         {"select 1", "select 2"}},
        {"a lone - after the ; does not", "select 1; -\nselect 2;", {"select 1; -\nselect 2"}},
        {"a - at the very end is kept", "select 1; -", {"select 1; -"}},
        {"quotes hide ; and doubled quotes stay inside",
         "select 'a;\n''b;''\n' x;\nselect \"q;\"\"\n\";\n",
         {"select 'a;\n''b;''\n' x", "select \"q;\"\"\n\""}},
        {"an open quote runs to the end",
         "select 'oops;\nselect 2;\n",
         {"select 'oops;\nselect 2;"}},
        {"comments before a statement are dropped, inside it kept",
         "-- head;\n/* block;\n */ select /* in; */ 1 -- tail;\n;\n",
         {"select /* in; */ 1 -- tail;"}},
        {"the opening star does not close a comment", "/*/ select 1; */ select 2;\n", {"select 2"}},
        {"a / line ends a statement",
         "begin\n  null; end;\n  /  -- run it\nselect 1\n/",
         {"begin\n  null; end", "select 1"}},
        {"a / line between statements is nothing", "/\n/\nselect 1;\n", {"select 1"}},
        {"/ followed by text begins a statement", "/ x;\n/-\n", {"/ x", "/-"}},
        {"/* at a line start is a comment", "  /* c;\n*/ select 1;\n", {"select 1"}},
        {"/ then a blank then * is text", "/ * from t;\n", {"/ * from t"}},
        {"empty statements are dropped", ";\n ;\n\n;;\n", {";"}},
        {"no statement at all", " \n\t\r\n-- c\n", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(reference::split(c.sql), c.expected) << c.name << " (reference)";
        for (std::size_t block : BLOCK_SIZES) {
            EXPECT_EQ(split(c.sql, block), c.expected) << c.name << ", blocks of " << block;
        }
    }
}

TEST(SqlSplitterTest, LinesAreStatements) {
    for (std::size_t block : BLOCK_SIZES) {
        EXPECT_EQ(split("select 1\n\n  \nselect 2;\r\n\tselect 3", block, true),
                  (Statements{"select 1", "select 2;", "select 3"}))
            << "blocks of " << block;
    }
}

// Random texts over the bytes the splitter reacts to, against the reference,
// each read with a random block size. A fixed seed keeps any failure
// reproducible.
TEST(SqlSplitterTest, AgreesWithTheReference) {
    static const char ALPHABET[] = "a ;/-*'\"\n\t\r ;/-\n";
    std::mt19937 random(20261207);
    std::uniform_int_distribution<std::size_t> length(0, 48);
    std::uniform_int_distribution<std::size_t> pick(0, sizeof ALPHABET - 2);
    std::uniform_int_distribution<std::size_t> block_pick(0, 4);
    for (int round = 0; round < 20000; ++round) {
        std::string sql(length(random), ' ');
        for (char& c : sql) c = ALPHABET[pick(random)];
        std::size_t block = BLOCK_SIZES[block_pick(random)];
        ASSERT_EQ(split(sql, block), reference::split(sql))
            << "input \"" << sql << "\", blocks of " << block;
    }
}

TEST(SqlSplitterTest, LongStatementsCrossManyBlocks) {
    // A statement many times the block, with a quote and a comment spanning
    // block boundaries: memory is the statement, whatever the block.
    std::string body(300000, 'x');
    std::string sql = "select '" + body + ";' /* " + body + " */;\nselect 2;\n";
    Statements expected = {"select '" + body + ";' /* " + body + " */", "select 2"};
    EXPECT_EQ(split(sql, 4096), expected);
    EXPECT_EQ(split(sql, 7), expected);
}

} // namespace
