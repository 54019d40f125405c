#include "ranker/ranking.h"

#include "normaliser/lexer.h"
#include "normaliser/parser.h"
#include "ranker/text_output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

struct Input {
    std::int32_t id;
    std::string text;
};

class RankingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_ranking();
        dictionary = create_dictionary();
    }
    void feed(const std::vector<Input>& inputs) {
        for (const Input& in : inputs) {
            StatementRecord record = {in.id, static_cast<std::int32_t>(in.text.size()),
                                      in.text.c_str()};
            rank_record(record, nullptr);
        }
    }
};

std::string text_of(const char* text, std::int32_t length) {
    return std::string(text, static_cast<std::size_t>(length));
}

std::vector<std::int32_t> order(const Ranking& ranking) {
    return std::vector<std::int32_t>(ranking.numbers, ranking.numbers + ranking.count);
}

std::string normalised_by_parser(const std::string& text) {
    input_cursor = text.c_str();
    parse_statement();
    std::string result(normalized_text, normalized_length);
    release_normalized_text();
    return result;
}

// Groups (dictionary numbers): 2 = "select a" x2 (17 bytes), 3 = long
// update x1 (58 bytes), 4 = "delete b" x3 (25 bytes), 5 = "commit" x2
// (12 bytes).
const std::vector<Input> MIXED = {
    {10, "select a"}, {11, "update t set c = 'a long string literal that counts bytes'"},
    {12, "delete b"}, {13, "SELECT  A"},
    {14, "commit"},   {15, "delete  B"},
    {16, "delete b"}, {17, "COMMIT"},
};

TEST_F(RankingTest, OrdersBySizeOrBytesWithTiesToTheEarlierGroup) {
    feed(MIXED);
    ASSERT_EQ(group_count(), 4);
    struct Case {
        RankKey key;
        std::int32_t count;
        std::vector<std::int32_t> expected;
    };
    const Case cases[] = {
        {RANK_BY_SIZE, 0, {4, 2, 5, 3}},  // sizes 3, 2, 2, 1: 2 before 5
        {RANK_BY_BYTES, 0, {3, 4, 2, 5}}, // bytes 58, 25, 17, 12
        {RANK_BY_SIZE, 2, {4, 2}},        {RANK_BY_BYTES, 1, {3}}, {RANK_BY_SIZE, 99, {4, 2, 5, 3}},
    };
    for (const Case& c : cases) {
        Ranking ranking = rank_groups(c.key, c.count);
        EXPECT_EQ(order(ranking), c.expected) << "key " << c.key << " count " << c.count;
        for (std::int32_t i = 0; i < ranking.count; ++i) {
            EXPECT_EQ(group_extra[ranking.numbers[i]].shown, i);
        }
        release_ranking(&ranking);
        for (std::int32_t n = 2; n <= group_table.last; ++n) EXPECT_EQ(group_extra[n].shown, -1);
    }
}

TEST_F(RankingTest, BytesSizesAndFirstMembersAreCountedPerGroup) {
    feed(MIXED);
    EXPECT_EQ(rank_totals.after.records, 8);
    std::int64_t bytes = 0;
    for (const Input& in : MIXED) bytes += static_cast<std::int64_t>(in.text.size());
    EXPECT_EQ(rank_totals.after.bytes, bytes);
    EXPECT_EQ(rank_totals.file_bytes, bytes + 8 * 8);
    EXPECT_EQ(group_extra[2].bytes, 17);
    EXPECT_EQ(group_extra[3].bytes, 58);
    EXPECT_EQ(group_extra[4].bytes, 25);
    EXPECT_EQ(group_extra[5].bytes, 12);
    // The example is the first member's own text, not a later one's.
    EXPECT_EQ(text_of(group_extra[4].example, group_extra[4].example_length), "delete b");
    EXPECT_EQ(text_of(group_extra[5].example, group_extra[5].example_length), "commit");
    EXPECT_EQ(group_table.base[5].first_member, 14);
    EXPECT_EQ(group_extra[5].first_id, 14);
    EXPECT_EQ(group_extra[4].size, group_table.base[4].size);
}

TEST_F(RankingTest, LongTextsAreCutWithoutSplittingUtf8) {
    // "é" (C3 A9) straddles the example limit: the cut goes before it.
    std::string example = std::string(EXAMPLE_TEXT_MAX - 1, 'x') + "\xC3\xA9" + " tail";
    // A stray continuation byte at the limit is cut like any other byte.
    std::string stray = "y " + std::string(EXAMPLE_TEXT_MAX - 2, 'y') + "\xA9\xA9 z";
    // 3000 tokens "ab": a normalised text of 8999 bytes.
    std::string tokens;
    for (int i = 0; i < 3000; ++i) tokens += "ab ";
    feed({{1, example}, {2, stray}, {3, tokens}});
    EXPECT_EQ(group_extra[2].example_length, static_cast<std::int32_t>(EXAMPLE_TEXT_MAX - 1));
    EXPECT_EQ(group_extra[2].example_full, static_cast<std::int32_t>(example.size()));
    EXPECT_EQ(group_extra[3].example_length, static_cast<std::int32_t>(EXAMPLE_TEXT_MAX));

    Ranking ranking = rank_groups(RANK_BY_SIZE, 0);
    recover_normalised_texts();
    const GroupExtra& long_text = group_extra[4];
    EXPECT_EQ(long_text.normalised_full, 8999);
    EXPECT_EQ(long_text.normalised_length, static_cast<std::int32_t>(NORMALISED_TEXT_MAX));
    EXPECT_EQ(std::string(long_text.normalised, 6), "AB AB ");
    release_ranking(&ranking);
}

// The texts shown must be the normaliser's texts: checked against a fresh
// parse of every group's first statement. The statements come from a few
// shapes that make the trie split, branch and chain (texts that are
// prefixes of others, shared beginnings, bytes of 0x80 and above); some are
// longer than the kept example, so that their texts must come from the
// walk over the trie, and some hold a NUL that ends the statement early.
TEST_F(RankingTest, RecoveredTextsAreTheNormalisersTexts) {
    std::mt19937 random(20261207); // fixed seed: the same statements every run
    const char* const words[] = {"select",    "a",  "ab",   "abc",          "from", "t",
                                 "'x'",       "42", "\xE9", "\\* note *\\", ",",    "'01-JAN-2003'",
                                 "b\xC3\xA9", ";"};
    std::vector<Input> inputs;
    for (std::int32_t id = 1; id <= 3000; ++id) {
        std::string text;
        int n = 1 + static_cast<int>(random() % 7);
        if (random() % 10 == 0) n += 300; // beyond EXAMPLE_TEXT_MAX
        for (int i = 0; i < n; ++i) {
            text += words[random() % (sizeof words / sizeof words[0])];
            text += random() % 3 == 0 ? "  " : " ";
        }
        if (random() % 20 == 0) text += std::string("\0 junk", 6);
        inputs.push_back({id, text});
    }
    feed(inputs);
    std::map<std::int32_t, std::string> first_text;
    for (const Input& in : inputs) first_text[in.id] = in.text;
    ASSERT_GT(group_count(), 500);

    std::int32_t walked = 0;
    for (std::int32_t top : {0, 7}) {
        Ranking ranking = rank_groups(RANK_BY_BYTES, top);
        walked += recover_normalised_texts();
        for (std::int32_t i = 0; i < ranking.count; ++i) {
            std::int32_t number = ranking.numbers[i];
            const GroupExtra& extra = group_extra[number];
            ASSERT_NE(extra.normalised, nullptr) << "group " << number;
            std::string expected =
                normalised_by_parser(first_text[group_table.base[number].first_member]);
            std::size_t kept = utf8_cut(expected.data(), expected.size(), NORMALISED_TEXT_MAX);
            EXPECT_EQ(text_of(extra.normalised, extra.normalised_length), expected.substr(0, kept))
                << "group " << number;
            EXPECT_EQ(extra.normalised_full, static_cast<std::int32_t>(expected.size()));
        }
        release_ranking(&ranking);
    }
    EXPECT_GT(walked, 100) << "the long statements' texts come from the walk";
}

TEST_F(RankingTest, EmptyInputRanksNothing) {
    Ranking ranking = rank_groups(RANK_BY_BYTES, 20);
    EXPECT_EQ(ranking.count, 0);
    recover_normalised_texts();
    release_ranking(&ranking);
}

TEST(ShareTest, RoundsHundredthsOfAPercent) {
    struct Case {
        std::int64_t part, whole, expected;
    };
    const Case cases[] = {{1, 3, 3333},  {2, 3, 6667},  {1, 8, 1250}, {0, 0, 0},
                          {5, 5, 10000}, {1, 20000, 1}, {1, 20001, 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(share_basis_points(c.part, c.whole), c.expected) << c.part << "/" << c.whole;
    }
}

} // namespace
