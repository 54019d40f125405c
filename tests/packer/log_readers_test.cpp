#include "packer/format_detect.h"
#include "packer/log_input.h"
#include "packer/pg_logs.h"

#include "tests/packer/packer_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// One record with what the metadata file says about it.
struct Row {
    std::int64_t line;
    std::string text;
    std::string duration_ms;
    std::string user;
    std::string database;
    std::string time;
    bool operator==(const Row& o) const {
        return line == o.line && text == o.text && duration_ms == o.duration_ms && user == o.user &&
               database == o.database && time == o.time;
    }
};
std::ostream& operator<<(std::ostream& os, const Row& r) {
    return os << r.line << " [" << r.text << "] " << r.duration_ms << "|" << r.user << "|"
              << r.database << "|" << r.time;
}

// Packs one input (its format detected) and pairs records with metadata.
std::vector<Row> rows_of(const std::string& name, const std::string& bytes, std::size_t chunk,
                         std::string* chosen) {
    PackRun run;
    run.chunk = chunk;
    Packed packed = pack({{name, bytes, FORMAT_AUTO}}, run);
    EXPECT_TRUE(packed.ok);
    EXPECT_TRUE(packed.warnings.empty()) << packed.warnings[0];
    EXPECT_EQ(packed.meta.size(), packed.records.size());
    std::vector<Row> rows;
    for (std::size_t i = 0; i < packed.records.size() && i < packed.meta.size(); ++i) {
        const std::vector<std::string>& m = packed.meta[i];
        EXPECT_EQ(m.size(), 7u);
        if (m.size() != 7) continue;
        EXPECT_EQ(m[0], std::to_string(packed.records[i].id));
        EXPECT_EQ(m[1], name);
        rows.push_back(Row{std::stoll(m[2]), packed.records[i].text, m[3], m[4], m[5], m[6]});
    }
    *chosen = packed.chosen.empty() ? "" : packed.chosen[0];
    return rows;
}

struct LogCase {
    const char* fixture;
    InputFormat format;
    std::vector<Row> rows;
};

TEST(LogReadersTest, EachServersLogGivesStatementsDurationsUsersDatabasesAndLines) {
    const LogCase cases[] = {
        {"mysql8-slow.log",
         FORMAT_MYSQL_SLOW,
         {{9, "SELECT id, name FROM customer WHERE email = 'a;b@example.com'", "4.211", "app",
           "shop", "2024-03-05T14:02:11.532871Z"},
          {14, "UPDATE orders\n   SET status = 'shipped'\n WHERE created < NOW() - INTERVAL 7 DAY",
           "1250.000", "app", "shop", "2024-03-05T14:02:12.001200Z"},
          {22, "INSERT INTO log_entry (msg) VALUES ('start; of run'), ('it\\'s # here')", "0.300",
           "batch", "reports", "2024-03-05T14:02:12.101000Z"},
          // A statement that is a SET timestamp, and one that is a use, stay statements.
          {32, "SET timestamp=1709647000", "0.050", "app", "reports",
           "2024-03-05T14:02:14.500000Z"},
          {38, "use archive", "2.000", "app", "archive", "2024-03-05T14:02:15.002000Z"},
          {43, "SELECT 1", "0.400", "app", "archive", "2024-03-05T14:02:16.000000Z"},
          {43, "SELECT 2", "0.400", "app", "archive", "2024-03-05T14:02:16.000000Z"}}},
        {"mariadb-slow.log",
         FORMAT_MYSQL_SLOW,
         {{10, "SELECT id, name FROM customer WHERE email = 'a@example.com'", "4.211", "app",
           "shop", "240305 14:02:11"},
          // No "# Time:" line: the time of the entry before holds.
          {19, "DELETE FROM cart WHERE updated < '2024-03-01'", "120.000", "app", "shop",
           "240305 14:02:11"},
          // An empty Schema: the use line names the database.
          {27, "SELECT day, SUM(total)\n  FROM sales\n GROUP BY day", "2500.000", "report",
           "reports", "240305  9:05:00"},
          {35, "SELECT day, SUM(total) FROM sales GROUP BY day", "0.100", "report", "reports",
           "240305  9:05:00"}}},
        {"mysql8-general.log",
         FORMAT_MYSQL_GENERAL,
         {{5, "SET NAMES utf8mb4", "", "app", "shop", "2024-03-05T14:02:10.100500Z"},
          {6, "SELECT id, name\nFROM customer\nWHERE email = 'a;b@example.com'", "", "app", "shop",
           "2024-03-05T14:02:11.532871Z"},
          {11, "INSERT INTO log_entry (msg) VALUES ('a')", "", "batch", "reports",
           "2024-03-05T14:02:11.700000Z"},
          {11, "INSERT INTO log_entry (msg) VALUES ('b')", "", "batch", "reports",
           "2024-03-05T14:02:11.700000Z"},
          {15, "SELECT 1", "", "", "", "2024-03-05T14:02:12.100000Z"}}},
        {"mariadb-general.log",
         FORMAT_MYSQL_GENERAL,
         {{5, "SELECT 1", "", "app", "shop", "240305 14:02:10"},
          {6, "SELECT 2", "", "app", "shop", "240305 14:02:11"}}},
        {"postgres-stderr.log",
         FORMAT_PG_LOG,
         {{1, "SELECT id, name FROM customer WHERE email = 'a@example.com'", "0.412", "app", "shop",
           "2024-03-05 14:02:11.532 UTC"},
          {2,
           "UPDATE orders\n   SET status = 'shipped'\n WHERE created < now() - interval '7 days'",
           "12.015", "app", "shop", "2024-03-05 14:02:11.540 UTC"},
          // The execute, with its parameters in place; parse and bind are no statements.
          {8, "SELECT * FROM orders WHERE id = '42' AND note = 'it''s $1'", "0.210", "app", "shop",
           "2024-03-05 14:02:11.602 UTC"},
          {13, "BEGIN", "0.102", "app", "shop", "2024-03-05 14:02:14.000 UTC"},
          {13, "SELECT 1", "0.102", "app", "shop", "2024-03-05 14:02:14.000 UTC"},
          {13, "COMMIT", "0.102", "app", "shop", "2024-03-05 14:02:14.000 UTC"}}},
        {"postgres-statement-duration.log",
         FORMAT_PG_LOG,
         // In the order the durations arrive; the failed statement has none.
         {{2, "INSERT INTO log_entry (msg)\nVALUES ('two\nlines')", "0.311", "batch", "reports",
           "2024-03-05 14:02:11 UTC"},
          {1, "SELECT pg_sleep(0.5)", "501.220", "app", "shop", "2024-03-05 14:02:11 UTC"},
          {7, "SELECT * FROM missing", "", "app", "shop", "2024-03-05 14:02:12 UTC"},
          {12, "SELECT name FROM customer WHERE id = '7'", "0.180", "app", "shop",
           "2024-03-05 14:02:13 UTC"},
          {15, "SELECT 'never finished'", "", "app", "shop", "2024-03-05 14:02:14 UTC"}}},
        {"postgres-custom-prefix.log",
         FORMAT_PG_LOG,
         {{1, "SELECT 1", "0.412", "app", "shop", "2024-03-05 14:02:11 UTC"},
          {3, "UPDATE t SET a = NULL, b = 'ten' WHERE id = '5'", "3.001", "app", "shop",
           "2024-03-05 14:02:12 UTC"},
          {5, "SELECT $$a;b$$", "0.020", "batch", "reports", "2024-03-05 14:02:13 UTC"}}},
        {"postgres-csvlog.csv",
         FORMAT_PG_CSV,
         {{1, "SELECT id, name FROM customer WHERE note = 'say \"hi\"'", "0.412", "app", "shop",
           "2024-03-05 14:02:11.532 UTC"},
          {2,
           "UPDATE orders\n   SET status = 'shipped'\n WHERE created < now() - interval '7 days'",
           "12.015", "app", "shop", "2024-03-05 14:02:11.540 UTC"},
          {5, "SELECT * FROM orders WHERE id = '42'", "0.210", "app", "shop",
           "2024-03-05 14:02:11.602 UTC"},
          // A PostgreSQL 13 record (24 columns), its duration logged alone.
          {8, "INSERT INTO log_entry (msg) VALUES ('a,b\nc')", "0.650", "batch", "reports",
           "2024-03-05 14:02:14.000 UTC"}}},
    };
    for (const LogCase& c : cases) {
        SCOPED_TRACE(c.fixture);
        std::string bytes = fixture(c.fixture);
        std::string chosen;
        EXPECT_EQ(rows_of(c.fixture, bytes, 0, &chosen), c.rows);
        EXPECT_EQ(chosen, std::string(c.fixture) + ": " + FORMAT_NAMES[c.format]);
        for (std::size_t chunk : {1u, 7u, 64u}) {
            EXPECT_EQ(rows_of(c.fixture, bytes, chunk, &chosen), c.rows) << "chunks of " << chunk;
        }
    }
}

TEST(LogReadersTest, DetectsTheFormatFromTheFirstSignificantLine) {
    struct DetectCase {
        const char* text;
        bool at_end;
        InputFormat format;
    };
    const DetectCase cases[] = {
        {"", true, FORMAT_SQL},
        {"select 1;\n", true, FORMAT_SQL},
        {"-- LOG:  not a log\nselect 1;\n", true, FORMAT_SQL},
        {"\n\n# Time: 2024-03-05T14:02:11.532871Z\n", true, FORMAT_MYSQL_SLOW},
        {"# Query_time: 0.1  Lock_time: 0.0\n", true, FORMAT_MYSQL_SLOW},
        {"/usr/sbin/mysqld, Version: 8.0.36 (x). started with:\nTcp port: 3306  Unix socket: s\n"
         "Time                 Id Command    Argument\n",
         true, FORMAT_MYSQL_SLOW},
        {"/usr/sbin/mysqld, Version: 8.0.36 (x). started with:\nTcp port: 3306  Unix socket: s\n"
         "Time                 Id Command    Argument\n"
         "2024-03-05T14:02:10.100000Z\t   31 Connect\tapp@web1 on shop using TCP/IP\n",
         true, FORMAT_MYSQL_GENERAL},
        {"\t\t   31 Query\tSELECT 1\n", true, FORMAT_MYSQL_GENERAL},
        {"2024-03-05 14:02:11.532 UTC [4242] LOG:  statement: select 1\n", true, FORMAT_PG_LOG},
        {"LOG:  statement: select 1\n", true, FORMAT_PG_LOG},
        {"\tcontinued from a rotated file\n2024-03-05 14:02:11 UTC:h(1):u@d:[7]:ERROR:  x\n", true,
         FORMAT_PG_LOG},
        {"2024-03-05 14:02:11.532 UTC,\"app\",\"shop\",4242,", true, FORMAT_PG_CSV},
        // Undecided: no complete significant line yet, more may follow.
        {"# Time: 2024-03-05", false, FORMAT_AUTO},
        {"\n\n", false, FORMAT_AUTO},
    };
    for (const DetectCase& c : cases) {
        EXPECT_EQ(detect_format(c.text, std::strlen(c.text), c.at_end), c.format) << c.text;
    }
    const char* scripts[] = {"pg_dump.sql",        "psql_script.sql",   "mysqldump.sql",
                             "sqlplus_script.sql", "sqlcmd_script.sql", "migration.sql"};
    for (const char* name : scripts) {
        std::string bytes = fixture(name);
        EXPECT_EQ(detect_format(bytes.data(), bytes.size(), true), FORMAT_SQL) << name;
    }
}

TEST(LogReadersTest, ReadsTheCommonLogLinePrefixes) {
    struct PrefixCase {
        const char* prefix;
        const char* time;
        const char* process;
        const char* user;
        const char* database;
    };
    const PrefixCase cases[] = {
        {"2024-03-05 14:02:11.532 UTC [4242] ", "2024-03-05 14:02:11.532 UTC", "4242", "", ""},
        {"2024-03-05 14:02:11.532 CET [4242] app@shop ", "2024-03-05 14:02:11.532 CET", "4242",
         "app", "shop"},
        {"2024-03-05 14:02:11 UTC [4242]: [3-1] user=app,db=shop,app=psql,client=10.0.0.7 ",
         "2024-03-05 14:02:11 UTC", "4242", "app", "shop"},
        {"2024-03-05 14:02:11 UTC:10.0.0.7(51234):app@shop:[4242]:", "2024-03-05 14:02:11 UTC",
         "4242", "app", "shop"},
        {"2024-03-05 14:02:11 UTC::@:[61]:", "2024-03-05 14:02:11 UTC", "61", "", ""},
        {"2024-03-05 14:02:11+01 pid=77 database=shop user=app ", "2024-03-05 14:02:11+01", "77",
         "app", "shop"},
        {"[4242] ", "", "4242", "", ""},
        {"", "", "", "", ""},
    };
    for (const PrefixCase& c : cases) {
        TextRef time{};
        TextRef process{};
        TextRef user{};
        TextRef database{};
        pg_parse_prefix(TextRef{c.prefix, std::strlen(c.prefix)}, &time, &process, &user,
                        &database);
        EXPECT_EQ(std::string(time.data, time.length), c.time) << c.prefix;
        EXPECT_EQ(std::string(process.data, process.length), c.process) << c.prefix;
        EXPECT_EQ(std::string(user.data, user.length), c.user) << c.prefix;
        EXPECT_EQ(std::string(database.data, database.length), c.database) << c.prefix;
    }
}

TEST(LogReadersTest, PutsParametersInPlaceOutsideQuotesAndComments) {
    struct SubstituteCase {
        const char* statement;
        const char* parameters;
        const char* result;
    };
    const SubstituteCase cases[] = {
        {"select $1, $2", "$1 = '42', $2 = NULL", "select '42', NULL"},
        {"select $10 + $1", "$1 = '1', $10 = 'ten'", "select 'ten' + '1'"},
        {"select '$1', \"$1\", $$ $1 $$, $q$ $1 $q$ -- $1\n /* $1 /* $1 */ */ $1", "$1 = 'x'",
         "select '$1', \"$1\", $$ $1 $$, $q$ $1 $q$ -- $1\n /* $1 /* $1 */ */ 'x'"},
        {"select E'\\'$1', $1", "$1 = 'x'", "select E'\\'$1', 'x'"},
        {"select a$1, $3", "$1 = 'x'", "select a$1, $3"},
        {"select $1", "$1 = 'it''s, $2 = ''no'''", "select 'it''s, $2 = ''no'''"},
    };
    for (const SubstituteCase& c : cases) {
        ByteBuffer out{};
        ASSERT_TRUE(substitute_parameters(TextRef{c.statement, std::strlen(c.statement)},
                                          TextRef{c.parameters, std::strlen(c.parameters)}, &out));
        EXPECT_EQ(std::string(out.data, out.size), c.result) << c.statement;
        buffer_free(&out);
    }
}

TEST(LogReadersTest, SecondsBecomeMillisecondsWithoutRounding) {
    const char* cases[][2] = {
        {"0.000123", "0.123"},
        {"1.250000", "1250.000"},
        {"12.5", "12500"},
        {"3", "3000"},
        {"0.0004211", "0.4211"},
        {"007.1", "7100"},
        {"0.000000", "0.000"},
        {"x", ""},
        {"1.2.3", ""},
        {".5", ""},
        {"12.", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        char out[64];
        std::size_t n = seconds_to_ms(TextRef{c[0], std::strlen(c[0])}, out, sizeof out);
        EXPECT_EQ(std::string(out, n), c[1]) << c[0];
    }
    char small[4];
    EXPECT_EQ(seconds_to_ms(TextRef{"12.5", 4}, small, sizeof small), 0u) << "does not fit";
}

std::vector<std::string> texts(const Packed& packed) {
    std::vector<std::string> t;
    for (const Record& r : packed.records) t.push_back(r.text);
    return t;
}

TEST(LogReadersTest, ServerRestartInsideASlowLogEndsTheEntry) {
    std::string log =
        "# Time: 2024-03-05T14:02:11.532871Z\n# Query_time: 0.1  Lock_time: 0.0\n"
        "SET timestamp=1;\nSELECT 1\n"
        "/usr/sbin/mysqld, Version: 8.0.36 (x). started with:\n"
        "Tcp port: 3306  Unix socket: s\nTime                 Id Command    Argument\n"
        "# Time: 2024-03-05T14:09:00.000000Z\n# Query_time: 0.2  Lock_time: 0.0\n"
        "SET timestamp=2;\nSELECT 2;\n";
    Packed packed = pack({{"s.log", log, FORMAT_MYSQL_SLOW}}, PackRun{});
    EXPECT_EQ(texts(packed), (std::vector<std::string>{"SELECT 1", "SELECT 2"}));
}

TEST(LogReadersTest, GeneralLogForgetsThreadsThatQuit) {
    std::string log = "2024-03-05T14:02:10.000000Z\t    7 Connect\tapp@h on shop using TCP/IP\n"
                      "2024-03-05T14:02:10.100000Z\t    7 Quit\t\n"
                      "2024-03-05T14:02:10.200000Z\t    7 Query\tSELECT 1\n"
                      "2024-03-05T14:02:10.300000Z\t 1031 Connect\tother@h on misc using TCP/IP\n"
                      "2024-03-05T14:02:10.400000Z\t    7 Query\tSELECT 2\n";
    Packed packed = pack({{"g.log", log, FORMAT_MYSQL_GENERAL}}, PackRun{});
    ASSERT_EQ(packed.meta.size(), 2u);
    EXPECT_EQ(packed.meta[0][4], ""); // thread 7 quit: no user any more
    EXPECT_EQ(packed.meta[1][4], ""); // thread 1031 shares its slot, not its user
    EXPECT_EQ(packed.meta[1][5], "");
}

TEST(LogReadersTest, WaitingStatementsPairOnlyWithTheirOwnProcess) {
    std::string log;
    // More processes wait than the tracker holds: the oldest go on without
    // a duration, in order, and every later duration finds its own.
    const int processes = static_cast<int>(PG_PENDING_MAX) + 2;
    for (int p = 0; p < processes; ++p) {
        log += "2024-03-05 14:02:11 UTC [" + std::to_string(1000 + p) +
               "] LOG:  statement: select " + std::to_string(p) + ";\n";
    }
    for (int p = processes - 1; p >= 0; --p) {
        log += "2024-03-05 14:02:12 UTC [" + std::to_string(1000 + p) +
               "] LOG:  duration: " + std::to_string(p) + ".5 ms\n";
    }
    Packed packed = pack({{"p.log", log, FORMAT_PG_LOG}}, PackRun{});
    ASSERT_EQ(packed.records.size(), static_cast<std::size_t>(processes));
    for (int k = 0; k < processes; ++k) {
        // The first two were pushed out without a duration; the rest arrive
        // in the order of their durations, last process first.
        int p = k < 2 ? k : processes - 1 - (k - 2);
        EXPECT_EQ(packed.records[static_cast<std::size_t>(k)].text, "select " + std::to_string(p));
        EXPECT_EQ(packed.meta[static_cast<std::size_t>(k)][3],
                  k < 2 ? "" : std::to_string(p) + ".5");
    }
}

} // namespace
