#include "ranker/report_check.h"

#include "platform/exit_statuses.h"
#include "ranker/ranking.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

// Records 5, 7, 9, 12: 5, 9 and 12 share a text, 7 is alone (group 2).
void feed_example() {
    reset_ranking();
    dictionary = create_dictionary();
    const struct {
        std::int32_t id;
        const char* text;
    } records[] = {{5, "select * from t where a = 1"},
                   {7, "select * from u"},
                   {9, "SELECT *  FROM T\nWHERE A = 42"},
                   {12, "select * from t where a=3"}};
    for (const auto& r : records) {
        rank_record(StatementRecord{r.id, static_cast<std::int32_t>(std::strlen(r.text)), r.text}, nullptr);
    }
}

const char SHARED[] = "5\t1\t3\t5\r\n9\t1\t3\t5\r\n12\t1\t3\t5\r\n";
const char FULL[] = "5\t1\t3\t5\r\n7\t2\t1\t7\r\n9\t1\t3\t5\r\n12\t1\t3\t5\r\n";
const char BANNER[] = "Literal Sieve version 1.2\nCopyright line\n\n";
// The banner with CR LF line ends, as a text-mode write or a conversion makes it.
const char CRLF_BANNER[] = "Literal Sieve version 1.2\r\nCopyright line\r\n\r\n";

std::string write_file(const std::string& name, const std::string& bytes) {
    std::string path = ::testing::TempDir() + "report_check_" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

// Runs the check in a child; it ends with status 0 when the check returned.
void check_and_exit(const std::string& path) {
    check_report(path.c_str(), "in.rec");
    std::exit(0);
}

TEST(ReportCheckDeathTest, ReportsOfThisInputPass) {
    const std::string reports[] = {SHARED, FULL, std::string(BANNER) + SHARED,
                                   std::string(BANNER) + FULL, std::string(CRLF_BANNER) + SHARED};
    int i = 0;
    for (const std::string& report : reports) {
        std::string path = write_file("good" + std::to_string(i++), report);
        EXPECT_EXIT((feed_example(), check_and_exit(path)), ::testing::ExitedWithCode(0), "^$")
            << report;
    }
}

TEST(ReportCheckDeathTest, EmptyInputTakesOnlyAnEmptyReport) {
    auto empty_input = [] {
        reset_ranking();
        dictionary = create_dictionary();
    };
    for (const char* report : {"", BANNER}) {
        std::string path = write_file("empty", report);
        EXPECT_EXIT((empty_input(), check_and_exit(path)), ::testing::ExitedWithCode(0), "^$");
    }
    std::string path = write_file("empty", "5\t1\t3\t5\r\n");
    EXPECT_EXIT((empty_input(), check_and_exit(path)), ::testing::ExitedWithCode(EXIT_INPUT_SEEN),
                "line 1 should be the end of the file");
}

TEST(ReportCheckDeathTest, FirstMismatchingLineIsNamed) {
    struct Case {
        const char* name;
        std::string report;
        const char* message; // regex
    };
    const Case cases[] = {
        {"wrong group number", "5\t1\t3\t5\r\n9\t2\t3\t5\r\n12\t1\t3\t5\r\n",
         "line 2 should be \"9.t1.t3.t5.r.n\" but is \"9.t2.t3.t5.r.n\""},
        {"wrong size", "5\t1\t2\t5\r\n", "line 1 should be \"5.t1.t3.t5.r.n\" but is"},
        {"records swapped", "9\t1\t3\t5\r\n5\t1\t3\t5\r\n12\t1\t3\t5\r\n", "line 1 should be"},
        {"line missing", "5\t1\t3\t5\r\n12\t1\t3\t5\r\n", "line 2 should be \"9"},
        {"cut short", "5\t1\t3\t5\r\n9\t1\t3\t5\r\n",
         "line 3 should be \"12.t1.t3.t5.r.n\" but is the end of the file"},
        {"line added", std::string(SHARED) + "13\t1\t3\t5\r\n",
         "line 4 should be the end of the file but is \"13"},
        {"LF line ends", "5\t1\t3\t5\n9\t1\t3\t5\n12\t1\t3\t5\n", "line 1 should be"},
        {"full report missing a line", "5\t1\t3\t5\r\n7\t2\t1\t7\r\n12\t1\t3\t5\r\n",
         "line 3 should be \"9"},
        {"a line of another report", "5\t1\t3\t5\r\n9\t1\t3\t5\r\n12\t2\t1\t12\r\n", "line 3"},
        {"banner, then mismatch", std::string(BANNER) + "5\t1\t3\t6\r\n", "line 4 should be"},
        {"no line end at all", std::string(300, 'x'), "line 1 should be .* but is \"xxxx"},
        {"banner without its empty line", "Literal Sieve version 1.2\nCopyright line\n",
         "its banner .line 1. has no empty line after it"},
        {"CR LF banner, then mismatch", std::string(CRLF_BANNER) + "5\t1\t3\t6\r\n",
         "line 4 should be"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = write_file("bad", c.report);
        std::string expected =
            std::string("Report .*report_check_bad does not belong to in.rec: ") + c.message;
        EXPECT_EXIT((feed_example(), check_report(path.c_str(), "in.rec")),
                    ::testing::ExitedWithCode(EXIT_INPUT_SEEN), expected);
    }
}

TEST(ReportCheckDeathTest, MissingReportIsABadInput) {
    EXPECT_EXIT((feed_example(), check_report("no/such/report.txt", "in.rec")),
                ::testing::ExitedWithCode(EXIT_INPUT_SEEN),
                "^Can't open no/such/report.txt file.\n$");
}

} // namespace
