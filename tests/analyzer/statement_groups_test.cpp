#include "analyzer/statement_groups.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class StatementGroupsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_statement_groups();
        dictionary = create_dictionary();
    }
};

struct Expected {
    std::int32_t id;
    std::int32_t number;
    std::int32_t size;
    std::int32_t first_member;
};

void expect_list(const std::vector<Expected>& expected) {
    ASSERT_EQ(record_list.last + 1, static_cast<std::int32_t>(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const ListedRecord& r = record_list.base[i];
        const StatementGroup& g = group_of(r);
        EXPECT_EQ(r.id, expected[i].id) << "entry " << i;
        EXPECT_EQ(g.number, expected[i].number) << "entry " << i;
        EXPECT_EQ(g.size, expected[i].size) << "entry " << i;
        EXPECT_EQ(g.first_member, expected[i].first_member) << "entry " << i;
    }
}

TEST_F(StatementGroupsTest, WorkedExample) {
    // X, Y, X, X, Z: the dictionary answers -2, -3, 2, 2, -4.
    process_statement(10, "select x from t where a = 1");
    process_statement(11, "delete from y");
    process_statement(12, "SELECT X FROM T WHERE A = 22");
    process_statement(13, "select   x from t\nwhere a=3");
    process_statement(14, "insert into z values ('q')");
    expect_list({{10, 2, 3, 10}, {11, 3, 1, 11}, {12, 2, 3, 10}, {13, 2, 3, 10}, {14, 4, 1, 14}});
    EXPECT_EQ(group_table.last, 4);
}

TEST_F(StatementGroupsTest, TextsThatDifferInAKeptByteGoToDifferentGroups) {
    process_statement(1, "a = 'x'");
    process_statement(2, "a = 1");
    process_statement(3, "a = '01-JAN-2003'");
    process_statement(4, "a <= 1");
    process_statement(5, "a\xE9");
    process_statement(6, "a \xC9");
    expect_list(
        {{1, 2, 1, 1}, {2, 3, 1, 2}, {3, 4, 1, 3}, {4, 5, 1, 4}, {5, 6, 1, 5}, {6, 7, 1, 6}});
}

TEST_F(StatementGroupsTest, NegativeAndRepeatedRecordIdsAreKeptAsGiven) {
    process_statement(-5, "x");
    process_statement(-5, "x");
    process_statement(INT32_MIN, "y");
    expect_list({{-5, 2, 2, -5}, {-5, 2, 2, -5}, {INT32_MIN, 3, 1, INT32_MIN}});
}

// Records 1..n; record i has text "t<i mod texts>". Checks every entry,
// so the growth of both tables must keep ids and groups intact.
void fill_and_check(int records, int texts) {
    for (int i = 1; i <= records; ++i) {
        std::string text = "t" + std::to_string(i % texts) + " = " + std::to_string(i);
        process_statement(i, text.c_str());
    }
    ASSERT_EQ(record_list.last + 1, records);
    ASSERT_GE(record_list.capacity, records);
    ASSERT_EQ(group_table.last, texts + 1);
    ASSERT_GE(group_table.capacity, texts + 2);
    for (int i = 1; i <= records; ++i) {
        const ListedRecord& r = record_list.base[i - 1];
        const StatementGroup& g = group_of(r);
        int text = i % texts;
        int first = text == 0 ? texts : text; // t0 first appears at record `texts`
        int number = first + 1;
        int size = records / texts + (text != 0 && text <= records % texts ? 1 : 0);
        ASSERT_EQ(r.id, i);
        ASSERT_EQ(g.number, number) << "record " << i;
        ASSERT_EQ(g.first_member, first) << "record " << i;
        ASSERT_EQ(g.size, size) << "record " << i;
    }
}

TEST_F(StatementGroupsTest, RecordListAcrossItsGrowthPoints) {
    // 1000 entries first, then more: cross 1000, 1001, 1020, 1021 and on.
    fill_and_check(1000, 7);
    SetUp();
    fill_and_check(1001, 7);
    SetUp();
    fill_and_check(1021, 7);
    SetUp();
    fill_and_check(5003, 13);
}

TEST_F(StatementGroupsTest, GroupTableAcrossItsGrowthPoints) {
    // 50 slots first (groups in slots 2..49), then more: groups 48, 49, 59, 60...
    for (int groups : {47, 48, 49, 58, 59, 60, 301}) {
        SetUp();
        fill_and_check(2 * groups + 1, groups);
    }
}

} // namespace
