#include "packer/packer.h"
#include "packer/token_count.h"

#include "tests/packer/packer_test_support.h"
#include "tests/support/allocation_faults.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::string tokens(int count) { // "x x x ...": `count` one-letter tokens
    std::string text = "x";
    for (int k = 1; k < count; ++k) text += " x";
    return text;
}

const char NO_TOKEN[] =
    "statement without a token skipped (litsieve would stop with \"syntax error\")";
const char TOO_MANY[] = "statement of 5000 tokens or more skipped (litsieve would stop with "
                        "\"yacc stack overflow\")";

TEST(PackerTest, SkipsWhatLitsieveWouldRejectAndSaysWhere) {
    std::string sql = "select 1;\n" + std::string("\0x y;\n", 6) + tokens(TOKEN_LIMIT - 1) + ";\n" +
                      tokens(TOKEN_LIMIT) + ";\nselect 2;\n";
    Packed packed = pack({{"w.sql", sql, FORMAT_SQL}}, PackRun{});
    ASSERT_TRUE(packed.ok);
    ASSERT_EQ(packed.records.size(), 3u);
    EXPECT_EQ(packed.records[0], (Record{1, "select 1"}));
    EXPECT_EQ(packed.records[1], (Record{2, tokens(TOKEN_LIMIT - 1)})); // 4999 tokens: accepted
    EXPECT_EQ(packed.records[2], (Record{3, "select 2"}));
    EXPECT_EQ(packed.warnings, (std::vector<std::string>{std::string("w.sql:2: ") + NO_TOKEN,
                                                         std::string("w.sql:4: ") + TOO_MANY}));
    EXPECT_EQ(packed.skipped[SKIP_NO_TOKEN], 1);
    EXPECT_EQ(packed.skipped[SKIP_TOO_MANY_TOKENS], 1);
    EXPECT_EQ(packed.meta.size(), 3u);

    PackRun keep;
    keep.keep_all = true;
    Packed all = pack({{"w.sql", sql, FORMAT_SQL}}, keep);
    EXPECT_EQ(all.records.size(), 5u);
    EXPECT_TRUE(all.warnings.empty());
    EXPECT_EQ(all.records[1].text, std::string("\0x y", 4)); // bytes after the NUL kept too
}

TEST(PackerTest, CountsTokensAsTheLexerCutsThem) {
    struct CountCase {
        std::string text;
        int tokens;
    };
    const CountCase cases[] = {
        {"select 1", 2},
        {"SELECT 'a;b' || x FROM t", 7}, // the string is one token, | and | two
        {"a \\* comment *\\ b", 4},      // the comment is a token, its closing backslash another
        {std::string("ab\0cd", 5), 1},   // the lexer stops at the NUL
        {std::string("\0ab", 3), 0},
        {tokens(6000), TOKEN_LIMIT}, // counting stops at the limit
    };
    for (const CountCase& c : cases) {
        EXPECT_EQ(count_tokens(c.text.c_str(), c.text.size(), TOKEN_LIMIT), c.tokens) << c.text;
    }
}

TEST(PackerTest, ReadsEachInputInItsFormatAndDialect) {
    PackRun run;
    run.dialect = DIALECT_MYSQL;
    Packed packed = pack({{"a.sql", "select 'x\\';y';\nselect 2;", FORMAT_SQL},
                          {"b.txt", " one \n\n\ttwo;\r\n", FORMAT_LINES},
                          {"c.sql", "\n\nselect 3", FORMAT_SQL}},
                         run);
    ASSERT_TRUE(packed.ok);
    EXPECT_EQ(
        packed.records,
        (std::vector<Record>{
            {1, "select 'x\\';y'"}, {2, "select 2"}, {3, "one"}, {4, "two;"}, {5, "select 3"}}));
    std::vector<std::vector<std::string>> meta = {{"1", "a.sql", "1", "", "", "", ""},
                                                  {"2", "a.sql", "2", "", "", "", ""},
                                                  {"3", "b.txt", "1", "", "", "", ""},
                                                  {"4", "b.txt", "3", "", "", "", ""},
                                                  {"5", "c.sql", "3", "", "", "", ""}};
    EXPECT_EQ(packed.meta, meta);
}

TEST(PackerTest, AutoDetectionSaysWhatItChoseForEachInput) {
    Packed packed = pack({{"a.log", fixture("mariadb-slow.log"), FORMAT_AUTO},
                          {"b.sql", "select 1;", FORMAT_AUTO},
                          {"c.log", fixture("postgres-csvlog.csv"), FORMAT_PG_CSV},
                          {"empty", "", FORMAT_AUTO}},
                         PackRun{});
    ASSERT_TRUE(packed.ok);
    EXPECT_EQ(packed.chosen,
              (std::vector<std::string>{"a.log: mysql-slow", "b.sql: sql", "empty: sql"}));
    EXPECT_EQ(packed.packed, 4 + 1 + 4);
}

TEST(PackerTest, RunningOutOfMemoryIsAnErrorNotACrash) {
    // Every input format, and every allocation point along its way: the
    // packer stops, out of memory, or succeeds once enough was allowed, and
    // then hands on exactly what it does with all the memory it wants.
    const Input inputs[] = {
        {"a.sql", fixture("pg_dump.sql"), FORMAT_SQL},
        {"b.log", fixture("mysql8-slow.log"), FORMAT_AUTO},
        {"c.log", fixture("mysql8-general.log"), FORMAT_MYSQL_GENERAL},
        {"d.log", fixture("postgres-statement-duration.log"), FORMAT_PG_LOG},
        {"e.csv", fixture("postgres-csvlog.csv"), FORMAT_PG_CSV},
        {"f.txt", "a\nb\n", FORMAT_LINES},
    };
    for (const Input& in : inputs) {
        Packed full = pack({in}, PackRun{});
        ASSERT_TRUE(full.ok) << in.name;
        bool succeeded = false;
        for (long fail_at = 1; fail_at < 200 && !succeeded; ++fail_at) {
            PackRun run;
            run.chunk = 5;
            fail_allocations_from(fail_at);
            Packed packed = pack({in}, run);
            stop_failing_allocations();
            succeeded = packed.ok;
            if (!succeeded) {
                EXPECT_TRUE(packed.out_of_memory) << in.name << ", allocation " << fail_at;
            } else {
                EXPECT_EQ(packed.records, full.records) << in.name;
                EXPECT_EQ(packed.meta, full.meta) << in.name;
            }
        }
        EXPECT_TRUE(succeeded) << in.name;
    }
}

} // namespace
