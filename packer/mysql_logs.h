// Readers of the MySQL and MariaDB query logs.
//
// Slow query log: an entry is a group of '#' header lines, then the lines
// the server adds before the statement, then the statement text with a ';'
// after it (MySQL 8, MariaDB 10 and later, Percona Server):
//
//   # Time: 2024-03-05T14:02:11.532871Z              MySQL 8 (MariaDB: 240305 14:02:11,
//   # User@Host: app[app] @ web1 [10.0.0.7]  Id: 31        written once per second)
//   # Thread_id: 31  Schema: shop  QC_hit: No         MariaDB, Percona (Schema)
//   # Query_time: 0.004211  Lock_time: 0.000103 Rows_sent: 1  Rows_examined: 120
//   use shop;                                        only when the database changed
//   SET timestamp=1709647331;                        also SET insert_id=5,timestamp=...;
//   SELECT ... ;
//
// The header lines, the "use" line and the SET line belong to the entry:
// Query_time gives the duration, User@Host the user, a non-empty Schema the
// database; otherwise the last "use" line does (it holds for the entries
// that follow). The entry's text runs from the line after the SET line to
// the next entry's first header line ("# Time:", "# User@Host:",
// "# Thread_id:", "# Schema:" or "# Query_time:"), so a statement that is
// itself a SET or a use is still one. The lines a server writes when it
// opens the file ("... Version: ... started with:", "Tcp port: ...",
// "Time  Id Command  Argument") are skipped. The time of an entry is the
// last "# Time:" line's text.
//
// General query log: one line per client command; only Query entries give
// text, which continues on the following lines up to the next entry:
//
//   2024-03-05T14:02:11.532871Z\t   31 Query\tSELECT ...        MySQL 5.7 and later
//   240305 14:02:11\t   31 Query\tSELECT ...                     MariaDB, older MySQL
//   \t\t   31 Query\tSELECT ...                                 same second as the last
//
// Connect entries ("app@web1 on shop using TCP/IP") give a thread's user
// and database, Init DB entries change the database, Quit forgets the
// thread. A line without a time takes the last time written.
#pragma once

#include "packer/byte_buffer.h"
#include "packer/log_input.h"

#include <cstddef>
#include <cstdint>

struct SlowLogReader {
    EntrySink sink;
    LineAssembler lines;
    std::uint8_t state;      // SLOW_* in mysql_logs.cpp
    ByteBuffer time;         // text of the last "# Time:" line
    ByteBuffer user;         // this entry's user
    ByteBuffer schema;       // this entry's schema when a header names one
    ByteBuffer use_database; // database of the last "use" line
    ByteBuffer duration;     // this entry's Query_time in milliseconds
    bool out_of_memory;
};

void slow_log_init(SlowLogReader* r, EntrySink sink);
// False when the sink refused or memory was refused (out_of_memory).
bool slow_log_feed(SlowLogReader* r, const char* bytes, std::size_t length);
bool slow_log_finish(SlowLogReader* r);
void slow_log_free(SlowLogReader* r);

// Threads remembered at once; a thread whose id falls on the slot of a
// later one loses its user and database (thread ids rise, so only threads
// this many connections apart meet).
constexpr std::size_t GENERAL_THREAD_SLOTS = 1024;

struct GeneralThread {
    std::uint64_t id;
    bool used;
    ByteBuffer user;
    ByteBuffer database;
};

struct GeneralLogReader {
    EntrySink sink;
    LineAssembler lines;
    GeneralThread threads[GENERAL_THREAD_SLOTS];
    ByteBuffer time; // the last time written
    bool in_query;   // a Query entry's text is being handed on
    bool out_of_memory;
};

void general_log_init(GeneralLogReader* r, EntrySink sink);
bool general_log_feed(GeneralLogReader* r, const char* bytes, std::size_t length);
bool general_log_finish(GeneralLogReader* r);
void general_log_free(GeneralLogReader* r);

// One line of the general log, cut into its parts (the argument runs to the
// line's end, line feed included).
struct GeneralEntry {
    TextRef time; // empty on a line that starts with two tabs
    std::uint64_t thread;
    TextRef command;
    TextRef argument;
};

// Whether `line` (with its line feed) is an entry line; fills `entry`.
bool parse_general_entry(const char* line, std::size_t length, GeneralEntry* entry);

// Whether `body` (no line feed) is one of the lines a server writes when it
// opens a log file.
bool is_mysql_banner_line(const char* body, std::size_t length);

// Whether `body` is a slow log header line that starts an entry.
bool is_slow_entry_header(const char* body, std::size_t length);
