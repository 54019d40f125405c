#include "packer/meta_tsv.h"
#include "packer/packer.h"
#include "packer/token_count.h"

#include "tests/packer/packer_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cstdlib>
#include <memory>
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

TEST(PackerTest, WritesRecordsAsLitsieveReadsThem) {
    PackRun run;
    run.first_id = -2;
    run.dialect = DIALECT_MYSQL;
    Packed packed = pack({{"a.sql", "select 'x\\';y';\nselect 2;", FORMAT_SQL},
                          {"b.txt", " one \n\n\ttwo\r\n", FORMAT_LINES}},
                         run);
    ASSERT_TRUE(packed.ok);
    // id -2, length 14 ("select 'x\';y'"), little-endian
    EXPECT_EQ(packed.record_bytes.substr(0, 8), std::string("\xfe\xff\xff\xff\x0e\x00\x00\x00", 8));
    EXPECT_EQ(
        packed.records,
        (std::vector<Record>{{-2, "select 'x\\';y'"}, {-1, "select 2"}, {0, "one"}, {1, "two"}}));
    std::vector<std::vector<std::string>> meta = {{"-2", "a.sql", "1", "", "", "", ""},
                                                  {"-1", "a.sql", "2", "", "", "", ""},
                                                  {"0", "b.txt", "1", "", "", "", ""},
                                                  {"1", "b.txt", "3", "", "", "", ""}};
    EXPECT_EQ(packed.meta, meta);
    EXPECT_EQ(packed.meta_bytes.substr(0, packed.meta_bytes.find('\n') + 1),
              "id\tsource\tline\tduration_ms\tuser\tdatabase\ttime\n");
}

TEST(PackerTest, StopsWhenIdsRunOut) {
    PackRun run;
    run.first_id = 2147483646;
    Packed packed = pack({{"a.sql", "select 1; select 2; select 3;", FORMAT_SQL}}, run);
    EXPECT_FALSE(packed.ok);
    EXPECT_EQ(packed.error, PACK_IDS_EXHAUSTED);
    EXPECT_EQ(packed.written, 2);
}

TEST(PackerTest, EscapesMetadataFieldsAsLitrankTsvDoes) {
    struct EscapeCase {
        std::string field;
        std::string written;
    };
    const EscapeCase cases[] = {
        {"plain text é", "plain text é"},
        {"a\tb\nc\rd\\e", "a\\tb\\nc\\rd\\\\e"},
        {std::string("\x01\x1b\x7f", 3), "\\x01\\x1B\\x7F"},
        {"\xc2\x9b[31m", "\\u{009B}[31m"}, // C1 CSI written as UTF-8
        {"\x9b\xff", "\\x9B\xff"},         // lone bytes: a C1 one escaped, others as they are
        {"\xe2\x80\xae", "\xe2\x80\xae"},  // U+202E: a character, its 80 byte no control
        {"\xe2\x80", "\xe2\\x80"},         // cut short: the 80 is a lone byte
    };
    for (const EscapeCase& c : cases) {
        ByteBuffer out{};
        ASSERT_TRUE(tsv_append_field(&out, c.field.data(), c.field.size()));
        EXPECT_EQ(std::string(out.data == nullptr ? "" : out.data, out.size), c.written) << c.field;
        buffer_free(&out);
    }
    Packed packed = pack({{"odd\tname\n.sql", "select 1;", FORMAT_SQL}}, PackRun{});
    ASSERT_EQ(packed.meta.size(), 1u);
    EXPECT_EQ(packed.meta[0][1], "odd\\tname\\n.sql");
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
    EXPECT_EQ(packed.written, 4 + 1 + 4);
}

bool refuse(void*, const char*, std::size_t) {
    return false;
}

bool keep(void* context, const char* bytes, std::size_t length) {
    static_cast<std::string*>(context)->append(bytes, length);
    return true;
}

TEST(PackerTest, ReportsARefusedWrite) {
    for (bool meta : {false, true}) {
        std::unique_ptr<Packer> p(new Packer);
        PackerOptions options{};
        options.first_id = 1;
        std::string records;
        options.records = PackerOutput{&records, meta ? keep : refuse};
        options.meta = meta ? PackerOutput{nullptr, refuse} : PackerOutput{nullptr, nullptr};
        options.events = PackerEvents{nullptr, [](void*, const char*, std::int64_t, const char*) {},
                                      [](void*, const char*, InputFormat) {}};
        packer_init(p.get(), options);
        ASSERT_TRUE(packer_begin(p.get(), "a.sql", FORMAT_SQL));
        ASSERT_TRUE(packer_feed(p.get(), "select 1;", 9));
        ASSERT_TRUE(packer_end(p.get()));
        EXPECT_FALSE(packer_close(p.get()));
        EXPECT_EQ(p->error, meta ? PACK_META_REFUSED : PACK_RECORDS_REFUSED);
        packer_free(p.get());
    }
}

// Refuses every allocation from the n-th on.
int allocations_left = 0;
void* failing_realloc(void* block, std::size_t bytes) {
    if (allocations_left-- <= 0) return nullptr;
    return std::realloc(block, bytes);
}

TEST(PackerTest, RunningOutOfMemoryIsAnErrorNotACrash) {
    // Every input format, and every allocation point along its way: the run
    // ends with PACK_NO_MEMORY (or succeeds, once enough was allowed).
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
        for (int allowed = 0; allowed < 200 && !succeeded; ++allowed) {
            allocations_left = allowed;
            buffer_realloc = failing_realloc;
            PackRun run;
            run.chunk = 5;
            Packed packed = pack({in}, run);
            buffer_realloc = std::realloc;
            succeeded = packed.ok;
            if (!succeeded) {
                EXPECT_EQ(packed.error, PACK_NO_MEMORY) << in.name << " after " << allowed;
            } else {
                EXPECT_EQ(packed.records, full.records) << in.name;
                EXPECT_EQ(packed.meta, full.meta) << in.name;
            }
        }
        EXPECT_TRUE(succeeded) << in.name;
    }
}

} // namespace
