#include "analyzer/report.h"

#include "analyzer/statement_groups.h"
#include "platform/system_calls.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

struct FakeOutput {
    std::string bytes;
    std::size_t most = 1 << 30; // largest write accepted at once
    std::size_t refuse_after = std::string::npos;
    int calls = 0;
};
FakeOutput output;

long fake_write(int fd, const void* buffer, std::size_t count) {
    EXPECT_EQ(fd, 9);
    ++output.calls;
    if (output.bytes.size() >= output.refuse_after) {
        errno = ENOSPC;
        return -1;
    }
    std::size_t n = std::min(count, output.most);
    output.bytes.append(static_cast<const char*>(buffer), n);
    return static_cast<long>(n);
}

class ReportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_statement_groups();
        dictionary = create_dictionary();
        output = FakeOutput();
        full_report = 0;
        sys.write = fake_write;
    }
    void TearDown() override {
        sys = default_system_calls;
        full_report = 0;
    }
};

TEST_F(ReportTest, FormatsExtremeValues) {
    char line[REPORT_LINE_MAX];
    std::size_t n = format_report_line(line, INT32_MIN, INT32_MAX, 0, -1);
    EXPECT_EQ(std::string(line, n), "-2147483648\t2147483647\t0\t-1\r\n");
    n = format_report_line(line, INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN);
    EXPECT_EQ(n, REPORT_LINE_MAX);
    EXPECT_EQ(std::string(line, n), "-2147483648\t-2147483648\t-2147483648\t-2147483648\r\n");
}

TEST_F(ReportTest, FormatsEveryDigitCountBoundary) {
    char line[REPORT_LINE_MAX];
    std::int64_t power = 1;
    for (int digits = 1; digits <= 10; ++digits, power *= 10) {
        for (std::int64_t v : {power - 1, power, power + 1, -power, 1 - power}) {
            if (v > INT32_MAX || v < INT32_MIN) continue;
            auto value = static_cast<std::int32_t>(v);
            std::size_t n = format_report_line(line, value, 0, value, 7);
            std::string expected =
                std::to_string(value) + "\t0\t" + std::to_string(value) + "\t7\r\n";
            EXPECT_EQ(std::string(line, n), expected) << value;
        }
    }
}

TEST_F(ReportTest, ReportsOnlySharedTextsUnlessFull) {
    // Ids 5, 7, 9, 12: 5, 9 and 12 share a text, 7 has its own.
    process_statement(5, "select * from t where a = 1");
    process_statement(7, "select * from u");
    process_statement(9, "SELECT * FROM T WHERE A = 2");
    process_statement(12, "select * from t where a = 3");
    ASSERT_TRUE(write_report(9));
    EXPECT_EQ(output.bytes, "5\t1\t3\t5\r\n9\t1\t3\t5\r\n12\t1\t3\t5\r\n");
    output = FakeOutput();
    full_report = 1;
    ASSERT_TRUE(write_report(9));
    EXPECT_EQ(output.bytes, "5\t1\t3\t5\r\n7\t2\t1\t7\r\n9\t1\t3\t5\r\n12\t1\t3\t5\r\n");
}

TEST_F(ReportTest, PartialWritesAreContinuedAndLargeReportsBatched) {
    for (int i = 0; i < 20000; ++i) process_statement(i, "x");
    std::string expected;
    for (int i = 0; i < 20000; ++i) expected += std::to_string(i) + "\t1\t20000\t0\r\n";
    for (std::size_t most : {std::size_t{1} << 30, std::size_t{1000}, std::size_t{7}}) {
        output = FakeOutput();
        output.most = most;
        ASSERT_TRUE(write_report(9));
        EXPECT_EQ(output.bytes, expected) << "writes of at most " << most;
    }
}

TEST_F(ReportTest, RefusedWriteIsReported) {
    for (int i = 0; i < 20000; ++i) process_statement(i, "x");
    output.refuse_after = 70000;
    EXPECT_FALSE(write_report(9));
    output = FakeOutput();
    output.refuse_after = 0;
    EXPECT_FALSE(write_report(9));
}

// More groups than the writer keeps formatted lines for, visited out of
// order, then a second run in the same process whose groups have the same
// numbers but other sizes and first members: every line must still be its
// own group's.
TEST_F(ReportTest, LinesOfManyGroupsInterleaved) {
    for (int run = 0; run < 2; ++run) {
        reset_statement_groups();
        dictionary = create_dictionary();
        const int groups = 9000 + run * 10;
        const int copies = 2 + run; // every group is shared, so every record is reported
        std::vector<int> text_of;
        for (int c = 0; c < copies; ++c) {
            for (int g = 0; g < groups; ++g) text_of.push_back((g * 7919 + c) % groups);
        }
        std::map<int, std::pair<int, int>> groups_of; // text -> (group number, first member)
        std::string expected;
        for (std::size_t i = 0; i < text_of.size(); ++i) {
            int id = static_cast<int>(i) * 3 + run;
            std::string text = "select c" + std::to_string(text_of[i]) + " from t";
            process_statement(id, text.c_str());
            auto found = groups_of.emplace(
                text_of[i], std::make_pair(static_cast<int>(groups_of.size()) + 1, id));
            const auto& [number, first] = found.first->second;
            expected += std::to_string(id) + "\t" + std::to_string(number) + "\t" +
                        std::to_string(copies) + "\t" + std::to_string(first) + "\r\n";
        }
        output = FakeOutput();
        ASSERT_TRUE(write_report(9));
        ASSERT_EQ(output.bytes, expected) << "run " << run;
    }
}

// The report formats each group's tail once and copies it; the plain path
// formats every line whole (format_report_line). On groups past the number
// of cached tails, whose sizes and first members change from one report to
// the next in the same process, with ids of every length, both give the
// same bytes.
TEST_F(ReportTest, CachedGroupTailsAgreeWithWholeLines) {
    std::mt19937 random(20261207); // fixed seed: reproducible
    std::uniform_int_distribution<std::int32_t> any_id(INT32_MIN, INT32_MAX);
    for (int run = 0; run < 3; ++run) {
        reset_statement_groups();
        dictionary = create_dictionary();
        std::uniform_int_distribution<int> text_of(0, 6000 + 1000 * run);
        for (int i = 0; i < 30000; ++i) {
            std::int32_t id = i % 3 == 0 ? any_id(random) : i * 7 - run;
            process_statement(id, ("select c" + std::to_string(text_of(random))).c_str());
        }
        for (int full = 0; full <= 1; ++full) {
            full_report = full;
            std::string plain;
            char line[REPORT_LINE_MAX];
            for (std::int32_t i = 0; i <= record_list.last; ++i) {
                const ListedRecord& record = record_list.base[i];
                const StatementGroup& group = group_of(record);
                if (group.size <= 1 && !full) continue;
                plain.append(line, format_report_line(line, record.id,
                                                      reported_group_number(group.number),
                                                      group.size, group.first_member));
            }
            output = FakeOutput();
            ASSERT_TRUE(write_report(9));
            ASSERT_EQ(output.bytes, plain) << "run " << run << (full ? ", -full" : "");
        }
    }
}

TEST_F(ReportTest, EmptyReportWritesNothing) {
    process_statement(1, "a");
    process_statement(2, "b");
    ASSERT_TRUE(write_report(9));
    EXPECT_EQ(output.bytes, "");
}

} // namespace
