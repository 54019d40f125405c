// The cost side of the ranker: durations as the metadata file writes them,
// its escapes undone, folding, rankings by time and mean, percentiles, the
// record filter and the diff's sections.
#include "ranker/diff.h"
#include "ranker/folding.h"
#include "ranker/meta_file.h"
#include "ranker/ranking.h"

#include "platform/allocation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

TEST(MetaFieldTest, DurationsInMicroseconds) {
    struct Case {
        const char* text;
        std::int64_t expected;
    };
    const Case cases[] = {
        {"", -1},
        {"0", 0},
        {"12", 12000},
        {"0.123", 123},
        {"1.5", 1500},
        {"3.", 3000},
        {".5", 500},
        {"0.0004", 0},
        {"0.0005", 1},
        {"2.9995", 3000},
        {"0.12349", 123},
        {"999999999999999", 999999999999999000},
        {"1,5", -2},
        {"-1", -2},
        {"1e3", -2},
        {".", -2},
        {" 1", -2},
        {"1 ", -2},
        {"1000000000000000", -2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parse_duration_us(c.text, std::strlen(c.text)), c.expected) << c.text;
    }
}

TEST(MetaFieldTest, EscapesUndone) {
    struct Case {
        std::string text;
        std::string expected; // "!" for a bad escape
    };
    const Case cases[] = {
        {"plain", "plain"},
        {"a\\tb\\nc\\rd\\\\e", "a\tb\nc\rd\\e"},
        {"\\x00\\x1B\\x7f\\x9B", std::string("\x00\x1B\x7F\x9B", 4)},
        {"\\u{0085}", "\xC2\x85"},
        {"\\u{20AC}", "\xE2\x82\xAC"},
        {"\\u{1F600}", "\xF0\x9F\x98\x80"},
        {"caf\xC3\xA9", "caf\xC3\xA9"}, // other bytes as they are
        {"\\", "!"},
        {"\\q", "!"},
        {"\\x4", "!"},
        {"\\xG0", "!"},
        {"\\u{85}", "!"},
        {"\\u{0085", "!"},
        {"\\u{D800}", "!"},
        {"\\u{110000}", "!"},
    };
    for (const Case& c : cases) {
        std::vector<char> out(c.text.size() + 1);
        std::int64_t n = unescape_field(c.text.data(), c.text.size(), out.data());
        std::string got = n < 0 ? "!" : std::string(out.data(), static_cast<std::size_t>(n));
        EXPECT_EQ(got, c.expected) << c.text;
    }
}

std::string folded(const std::string& text, unsigned flags) {
    FoldBuffer buffer = {nullptr, 0};
    std::size_t n = fold_text(text.data(), text.size(), flags, &buffer);
    std::string result(buffer.data, n);
    release(buffer.data);
    return result;
}

TEST(FoldingTest, ListsAndComments) {
    struct Case {
        const char* text;
        unsigned flags;
        const char* expected;
    };
    const Case cases[] = {
        {"WHERE ID IN ( :N , :N , :N )", FOLD_LISTS, "WHERE ID IN ( :N , ... )"},
        {"WHERE ID IN ( :N )", FOLD_LISTS, "WHERE ID IN ( :N , ... )"},
        {"WHERE ID NOT IN ( :S , :S )", FOLD_LISTS, "WHERE ID NOT IN ( :S , ... )"},
        {"IN ( - :N , - :N ) AND B IN ( ? , ? )", FOLD_LISTS,
         "IN ( - :N , ... ) AND B IN ( ? , ... )"},
        {"IN ( $ :N , $ :N , $ :N )", FOLD_LISTS, "IN ( $ :N , ... )"},
        {"IN ( :N , :S )", FOLD_LISTS, "IN ( :N , :S )"},         // kinds mixed
        {"IN ( :N , A )", FOLD_LISTS, "IN ( :N , A )"},           // a column
        {"IN ( : ID , : ID )", FOLD_LISTS, "IN ( : ID , : ID )"}, // named binds
        {"IN ( SELECT :N )", FOLD_LISTS, "IN ( SELECT :N )"},
        {"IN ( :N , :N", FOLD_LISTS, "IN ( :N , :N"}, // never closed
        {"IN", FOLD_LISTS, "IN"},
        {"JOIN ( :N , :N )", FOLD_LISTS, "JOIN ( :N , :N )"},
        {"SELECT \\* APP=WEB * \\ A", FOLD_COMMENTS, "SELECT A"},
        {"SELECT A \\* X * \\", FOLD_COMMENTS, "SELECT A"},
        {"\\* X * \\ \\* Y * \\ SELECT", FOLD_COMMENTS, "SELECT"},
        {"SELECT \\* A * B * \\ C", FOLD_COMMENTS, "SELECT C"},
        {"SELECT \\* NEVER CLOSED", FOLD_COMMENTS, "SELECT"},
        {"\\* ONLY * \\", FOLD_COMMENTS, "\\* ONLY * \\"}, // stays whole
        {"A \\ * B", FOLD_COMMENTS, "A \\ * B"},           // not a comment
        {"IN ( :N , \\* X * \\ :N )", FOLD_LISTS | FOLD_COMMENTS, "IN ( :N , ... )"},
        {"SELECT 1", 0, "SELECT 1"},
        // An unclosed comment keeps its blanks, the last ones too (found by
        // the fuzzer: each fold dropped one of them).
        {"SELECT \\* OPEN  ", FOLD_LISTS, "SELECT \\* OPEN  "},
        {"A \\* X * \\ \\* OPEN  ", FOLD_COMMENTS | FOLD_LISTS, "A"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(folded(c.text, c.flags), c.expected) << c.text;
    }
}

class CostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_ranking();
        dictionary = create_dictionary();
        rank_costs = true;
    }
    void TearDown() override { reset_ranking(); }
    void feed(std::int32_t id, const std::string& text, std::int64_t us, const char* user = "u",
              Workload workload = AFTER) {
        RecordMeta meta = {us,   "app.log",         7,    10 * std::int64_t{id},
                           user, std::strlen(user), "db", 2};
        StatementRecord record = {id, static_cast<std::int32_t>(text.size()), text.c_str()};
        if (workload == AFTER) {
            rank_record(record, &meta);
        } else {
            rank_before_record(record, &meta);
        }
    }
    static std::vector<std::int32_t> order(const Ranking& ranking) {
        return std::vector<std::int32_t>(ranking.numbers, ranking.numbers + ranking.count);
    }
};

// Groups: 2 = "select a" (3 records: 5, 5, 5 ms), 3 = "select b" (1 record:
// 40 ms), 4 = "select c" (2 records: 7 and 9 ms), 5 = "select d" (no
// duration).
TEST_F(CostTest, RanksByTotalAndMeanTime) {
    feed(1, "select a", 5000);
    feed(2, "select b", 40000);
    feed(3, "select a", 5000);
    feed(4, "select c", 7000);
    feed(5, "select d", -1);
    feed(6, "select c", 9000);
    feed(7, "select a", 5000);
    struct Case {
        RankKey key;
        std::vector<std::int32_t> expected;
    };
    const Case cases[] = {
        {RANK_BY_TIME, {3, 4, 2, 5}}, // 40, 16, 15, 0 ms
        {RANK_BY_MEAN, {3, 4, 2, 5}}, // 40, 8, 5 ms, no duration last
        {RANK_BY_SIZE, {2, 4, 3, 5}}, // 3, 2, 1, 1 records
    };
    for (const Case& c : cases) {
        Ranking ranking = rank_groups(c.key, 0);
        EXPECT_EQ(order(ranking), c.expected) << rank_key_name(c.key);
        release_ranking(&ranking);
    }
    EXPECT_EQ(key_value(RANK_BY_MEAN, 4), 8000);
    EXPECT_EQ(key_value(RANK_BY_MEAN, 5), -1);
    EXPECT_EQ(group_cost[2].max_us, 5000);
    EXPECT_EQ(group_cost[4].timed, 2);
    EXPECT_EQ(rank_totals.after.timed, 6);
    EXPECT_EQ(rank_totals.after.total_us, 71000);
    EXPECT_EQ(source_name(group_cost[3].source).length, 7);
    EXPECT_EQ(group_cost[3].line, 20);
}

TEST_F(CostTest, MeansCompareExactlyBeyondSixtyFourBits) {
    // Means of 2^55 and 2^55 + 1/2 microseconds (a millennium): compared as
    // products, where doubles, 8 apart at that size, would call them equal.
    const std::int64_t big = std::int64_t{1} << 55;
    feed(1, "select a", big);
    feed(2, "select b", big + 1);
    feed(3, "select a", big);
    feed(4, "select b", big);
    Ranking ranking = rank_groups(RANK_BY_MEAN, 0);
    EXPECT_EQ(order(ranking), (std::vector<std::int32_t>{3, 2}));
    release_ranking(&ranking);
}

TEST(PercentileTest, NearestRank) {
    const std::int64_t sorted[] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10,
                                   11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
    struct Case {
        std::int32_t n;
        int percent;
        std::int64_t expected;
    };
    const Case cases[] = {
        {1, 50, 1}, {1, 95, 1},   {2, 50, 1},   {2, 95, 2},   {3, 50, 2},
        {4, 50, 2}, {20, 95, 19}, {20, 50, 10}, {19, 95, 19}, {20, 100, 20},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(nearest_rank(sorted, c.n, c.percent), c.expected) << c.n << " " << c.percent;
    }
}

// Percentiles per shown group from the kept durations, against a plain sort
// of each group's durations (fixed seed).
TEST_F(CostTest, PercentilesOfTheShownGroups) {
    std::mt19937 random(20261207);
    std::vector<std::vector<std::int64_t>> durations(12);
    for (std::int32_t id = 1; id <= 3000; ++id) {
        std::size_t g = random() % 12;
        std::int64_t us = static_cast<std::int64_t>(random() % 100000);
        if (random() % 10 == 0) us = -1;
        feed(id, "select c" + std::to_string(g), us);
        if (us >= 0) durations[g].push_back(us);
    }
    Ranking ranking = rank_groups(RANK_BY_TIME, 5);
    Percentiles* p = shown_percentiles(ranking);
    for (std::int32_t i = 0; i < ranking.count; ++i) {
        // Group numbers follow first appearance; find the group by its example.
        const GroupExtra& extra = group_extra[ranking.numbers[i]];
        std::size_t g = std::stoul(
            std::string(extra.example + 8, static_cast<std::size_t>(extra.example_length) - 8));
        std::vector<std::int64_t> d = durations[g];
        std::sort(d.begin(), d.end());
        auto n = static_cast<std::size_t>(d.size());
        EXPECT_EQ(p[i].p50_us, d[(n * 50 + 99) / 100 - 1]);
        EXPECT_EQ(p[i].p95_us, d[(n * 95 + 99) / 100 - 1]);
    }
    release(p);
    release_ranking(&ranking);
}

bool only_user_b(const RecordMeta& meta) {
    return meta.user_length == 1 && meta.user[0] == 'b';
}

TEST_F(CostTest, FilteredRecordsCountOnlyAsRead) {
    rank_select = only_user_b;
    feed(1, "select a", 1000, "a");
    feed(2, "select a", 2000, "b");
    feed(3, "select b", 3000, "a");
    feed(4, "select a", 4000, "b");
    EXPECT_EQ(rank_totals.after.records_read, 4);
    EXPECT_EQ(rank_totals.after.records, 2);
    EXPECT_EQ(group_extra[2].size, 2);
    EXPECT_EQ(group_extra[2].first_id, 2) << "the first record the filter keeps";
    EXPECT_EQ(group_cost[2].total_us, 6000);
    EXPECT_EQ(group_extra[3].size, 0);
    Ranking ranking = rank_groups(RANK_BY_SIZE, 0);
    EXPECT_EQ(order(ranking), (std::vector<std::int32_t>{2}));
    release_ranking(&ranking);
    EXPECT_EQ(group_table.base[2].size, 3) << "litsieve's own counts are all records";
}

TEST_F(CostTest, DiffSectionsByTheMeasure) {
    rank_diff = true;
    // After: a x3, b x1, c x2. Before: a x1, c x4, d x2.
    const char* after[] = {"select a", "select b", "select a", "select c", "select a", "select c"};
    const char* before[] = {"select c", "select d", "select a", "select c",
                            "select c", "select d", "select c"};
    std::int32_t id = 1;
    for (const char* t : after) feed(id++, t, 1000);
    std::int32_t last_input = group_count() + 1;
    for (const char* t : before) feed(id++, t, 3000, "u", BEFORE);
    Diff diff = diff_groups(RANK_BY_SIZE, 0, last_input);
    auto numbers = [&](SectionKind k) {
        const DiffSection& s = diff.sections[k];
        return std::vector<std::int32_t>(s.numbers, s.numbers + s.count);
    };
    EXPECT_EQ(numbers(SECTION_NEW), (std::vector<std::int32_t>{3}));    // b
    EXPECT_EQ(numbers(SECTION_GONE), (std::vector<std::int32_t>{5}));   // d, numbered after
    EXPECT_EQ(numbers(SECTION_GREW), (std::vector<std::int32_t>{2}));   // a 1 -> 3
    EXPECT_EQ(numbers(SECTION_SHRANK), (std::vector<std::int32_t>{4})); // c 4 -> 2
    EXPECT_EQ(diff.unchanged, 0);
    EXPECT_EQ(group_extra[5].first_id, 8) << "a gone group's example comes from BEFORE";
    release_diff(&diff);
    // By time every group of both sides moved: a 3 -> 3 ms is unchanged.
    diff = diff_groups(RANK_BY_TIME, 1, last_input);
    EXPECT_EQ(diff.unchanged, 1);
    EXPECT_EQ(diff.sections[SECTION_SHRANK].total, 1);
    EXPECT_EQ(diff.sections[SECTION_SHRANK].count, 1);
    release_diff(&diff);
}

} // namespace
