// Readers of the PostgreSQL server log: the stderr format under any of the
// common log_line_prefix settings, and csvlog.
//
// Statements reach the log two ways, and both are read:
//
//   log_min_duration_statement   "duration: 1.204 ms  statement: SELECT ..."
//                                "duration: 0.311 ms  execute S_1: SELECT ... $1"
//   log_statement (+ log_duration) "statement: SELECT ..." first, then, from the
//                                same process, "duration: 1.204 ms" alone
//
// An execute message is followed by "DETAIL:  Parameters: $1 = '42', ..."
// (lower-case "parameters:" before PostgreSQL 13); the values are put in
// place of $1, $2, ... (outside quotes and comments), so the record reads as
// the statement that ran. Parse and bind messages are not statements (the
// execute is), nor are the STATEMENT lines after an error, which repeat a
// statement already logged or one that failed.
//
// A statement logged without a duration waits for its process's next
// message: a lone "duration:" completes it, an ERROR/FATAL/PANIC ends it
// without one (a failed statement has no duration), another statement ends
// it without one. So records follow the order in which statements
// complete, which for concurrent sessions can differ from the order of
// their first lines. At most PG_PENDING_MAX processes wait at once; beyond
// that the longest-waiting statement goes on without a duration.
//
// stderr lines: [prefix]SEVERITY:  text, with a message's further lines
// indented by one tab. The prefix is read for what the common forms give:
//
//   '%m [%p] '                            2024-03-05 14:02:11.532 UTC [4242] LOG:  ...
//   '%m [%p] %q%u@%d '                    ... [4242] app@shop LOG:  ...
//   '%t [%p]: [%l-1] user=%u,db=%d,...'   2024-03-05 14:02:11 UTC [4242]: [3-1] user=app,db=shop
//   LOG:  ...
//   '%t:%r:%u@%d:[%p]:'                   2024-03-05 14:02:11
//   UTC:10.0.0.7(5432):app@shop:[4242]:LOG:  ...
//
// time: the first "YYYY-MM-DD HH:MM:SS[.fff][ zone]"; process: the first
// all-digit [NNN] (or pid=NNN); user and database: user=, db= (database=),
// else the two sides of a user@database word.
//
// csvlog: one RFC 4180 record per message (quoted fields may hold line
// feeds); the columns read are log_time (1), user_name (2), database_name
// (3), process_id (4), error_severity (12), message (14) and detail (15),
// which PostgreSQL 13 to 16 all write in these places.
#pragma once

#include "packer/byte_buffer.h"
#include "packer/log_input.h"

#include <cstddef>
#include <cstdint>

enum PgSeverity : std::uint8_t {
    PG_NONE,
    PG_LOG,
    PG_ERROR,           // ERROR, FATAL, PANIC: the process's statement failed
    PG_OTHER_PRIMARY,   // WARNING, NOTICE, INFO, DEBUGn
    PG_DETAIL,          // DETAIL: belongs to the message before it
    PG_OTHER_SECONDARY, // HINT, CONTEXT, STATEMENT, QUERY, LOCATION
};

// One whole message, as both formats give it.
struct PgMessage {
    TextRef time;
    TextRef user;
    TextRef database;
    TextRef process;
    PgSeverity severity;
    TextRef text;      // the message, its further lines joined with line feeds
    TextRef detail;    // the DETAIL text, empty when none
    std::int64_t line; // line of the message's first byte
};

constexpr std::size_t PG_PENDING_MAX = 64;

// A statement logged without a duration, waiting for its process's next word.
struct PgPending {
    bool used;
    std::uint64_t order; // when it began waiting
    std::int64_t line;
    ByteBuffer process;
    ByteBuffer time;
    ByteBuffer user;
    ByteBuffer database;
    ByteBuffer text;
    ByteBuffer parameters;
};

// Turns messages into entries: the part both formats share.
struct PgTracker {
    EntrySink sink;
    PgPending pending[PG_PENDING_MAX];
    std::uint64_t order;
    ByteBuffer statement; // a statement with its parameters in place
    ByteBuffer duration;
    bool out_of_memory;
};

void pg_tracker_init(PgTracker* t, EntrySink sink);
bool pg_tracker_message(PgTracker* t, const PgMessage* m);
// Hands on every waiting statement, oldest first.
bool pg_tracker_finish(PgTracker* t);
void pg_tracker_free(PgTracker* t);

// Puts the values of a parameter list ("$1 = '42', $2 = NULL") in place of
// $1, $2, ... in `statement`, leaving quoted text, quoted identifiers,
// dollar quotes and comments alone. The result replaces `out`'s contents.
bool substitute_parameters(TextRef statement, TextRef parameters, ByteBuffer* out);

// The severity label of a stderr line ("LOG:  " and the like, after the
// prefix): where the label starts, and where its text starts.
bool pg_find_severity(const char* line, std::size_t length, std::size_t* label,
                      PgSeverity* severity, std::size_t* text);

// What a log_line_prefix says (fields left empty when it does not).
void pg_parse_prefix(TextRef prefix, TextRef* time, TextRef* process, TextRef* user,
                     TextRef* database);

// Length of the timestamp at p ("YYYY-MM-DD HH:MM:SS", optional fraction,
// optional zone), or 0 when none starts there.
std::size_t pg_timestamp_length(const char* p, std::size_t length);

struct PgLogReader {
    LineAssembler lines;
    PgTracker tracker;
    bool open;               // a message is being gathered
    std::uint8_t collecting; // which part further tab-indented lines extend
    PgSeverity severity;
    std::int64_t line;
    ByteBuffer time;
    ByteBuffer user;
    ByteBuffer database;
    ByteBuffer process;
    ByteBuffer text;
    ByteBuffer detail;
    bool out_of_memory;
};

void pg_log_init(PgLogReader* r, EntrySink sink);
bool pg_log_feed(PgLogReader* r, const char* bytes, std::size_t length);
bool pg_log_finish(PgLogReader* r);
void pg_log_free(PgLogReader* r);

// Columns of a csvlog record that are kept, in this order.
constexpr int PG_CSV_KEPT = 7;

struct PgCsvReader {
    PgTracker tracker;
    ByteBuffer fields[PG_CSV_KEPT];
    int column;         // column of the byte being read, from 0
    bool quoted;        // inside a quoted field
    bool quote_pending; // a quote inside a quoted field: doubled, or the field's end
    bool field_start;   // no byte of the current field read yet
    bool in_record;     // a byte of the current record was read
    std::int64_t line;  // line of the byte being read
    std::int64_t message_line;
    bool out_of_memory;
};

void pg_csv_init(PgCsvReader* r, EntrySink sink);
bool pg_csv_feed(PgCsvReader* r, const char* bytes, std::size_t length);
bool pg_csv_finish(PgCsvReader* r);
void pg_csv_free(PgCsvReader* r);
