// Input formats, and telling them apart from an input's first lines.
#pragma once

#include <cstddef>
#include <cstdint>

// ORDER FORMAT: FORMAT_NAMES is in step with this enumeration.
enum InputFormat : std::uint8_t {
    FORMAT_AUTO,          // decided from the first lines
    FORMAT_SQL,           // a script, split by the dialect
    FORMAT_LINES,         // every non-blank line is one statement
    FORMAT_MYSQL_SLOW,    // MySQL/MariaDB slow query log
    FORMAT_MYSQL_GENERAL, // MySQL/MariaDB general query log
    FORMAT_PG_LOG,        // PostgreSQL stderr log
    FORMAT_PG_CSV,        // PostgreSQL csvlog
};
constexpr int FORMAT_COUNT = 7;
extern const char* const FORMAT_NAMES[FORMAT_COUNT]; // "auto", "sql", "lines", ...

bool format_from_name(const char* name, InputFormat* format);

// Bytes looked at before deciding with what is there.
constexpr std::size_t DETECT_WINDOW = 64 * 1024;

// The format of an input that starts with text[0..length): judged by its
// first significant line (blank lines, tab-indented lines and the lines a
// MySQL server writes when it opens a log are passed over):
//
//   "# Time:", "# User@Host:", "# Thread_id:", "# Query_time:"  mysql-slow
//   <time>\t <thread> <Command>\t...                            mysql-general
//   YYYY-MM-DD HH:MM:SS[.fff] zone,                             pg-csv
//   [prefix]LOG:  / ERROR:  / STATEMENT:  ...                   pg-log
//   anything else (a "--" or "/*" comment included)             sql
//
// Only the opening lines of a MySQL server: mysql-slow. FORMAT_AUTO while
// undecided: no significant complete line yet, `at_end` false and fewer
// than DETECT_WINDOW bytes.
InputFormat detect_format(const char* text, std::size_t length, bool at_end);
