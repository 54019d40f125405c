// The SQL splitter: cuts a stream of SQL text into statements, the way the
// database's own command-line client would send them to the server. It is
// fed byte chunks of any size and reports each statement with the line of
// its first byte, so memory stays bounded by the longest statement plus the
// chunk being scanned.
//
// A statement's text starts at its first byte that is neither white space
// nor part of a comment, and ends before its terminator with trailing white
// space removed; comments inside it are kept byte for byte. Statements with
// no text (";;") are dropped.
//
// What ends a statement, per dialect:
//
//   all         ';' outside quotes and comments (several per line)
//   generic     also a line holding only '/'
//   oracle      also a line holding only '/'; inside a PL/SQL unit only that
//   tsql        also a line holding only GO (any case, optional count); ';'
//               not inside BEGIN ... END / CASE ... END, nor in a CREATE
//               PROCEDURE/FUNCTION/TRIGGER batch, which runs to its GO
//   postgres    ';' not inside parentheses, nor inside BEGIN ... END of a
//               CREATE FUNCTION/PROCEDURE (SQL-standard bodies); '\;'
//   mysql       the current DELIMITER (';' until a DELIMITER line changes
//               it); '\g' and '\G'
//
// Quotes and comments:
//
//               generic postgres mysql oracle tsql
//   '...' ''       x       x       x     x     x
//   "..." ""       x       x       x     x     x
//   `...` ``       x               x
//   [...] ]]                                   x
//   $tag$...$tag$  x       x
//   E'...' (\)             x
//   \ in '' ""                     x
//   q'[...]'       x                     x
//   -- comment     x       x      x(1)   x     x
//   # comment                      x
//   /* */          x      x(2)    x(3)   x    x(2)
//   \* *\          x       x       x     x     x
//
//   (1) only when followed by white space or a control byte
//   (2) nested
//   (3) /*! ... */ holds code: its text is part of the statement and the
//       delimiter ends a statement inside it (dumps wrap DDL in it)
//
// PL/SQL units (CREATE [OR REPLACE] [EDITIONABLE|NONEDITIONABLE]
// PROCEDURE|FUNCTION|PACKAGE [BODY]|TRIGGER|TYPE BODY, and blocks opening
// with DECLARE or BEGIN) end only at a '/' line, so their inner ';' stay in
// the text (the unit's final "END;" included, as the client sends it). The
// oracle dialect takes every such opening as a unit. The generic dialect
// reads the text up to the first ';' first and takes it as a unit only when
// nothing else can be meant: a routine whose IS/AS is followed by code
// rather than a quoted body, a trigger with a BEGIN/DECLARE/COMPOUND body, a
// DECLARE that is no cursor and no @variable, a BEGIN that is no
// transaction. A unit still open at the end of the input is a warning.
//
// Client commands (only when `script` is set: files, not log entries):
//
//   psql (generic, postgres)   a backslash command runs to the end of its
//       line and is cut out of the text; \g \gx \gset \gexec \gdesc
//       \crosstabview \watch end the statement before them, \r drops it.
//       \if branches are not evaluated and \i files are not followed.
//   COPY ... FROM STDIN (generic, postgres, also \copy ... from stdin): the
//       data lines after the statement's line, up to a line "\.", belong to
//       no statement and are skipped; a block never closed is a warning.
//   mysql      a DELIMITER line between statements sets the delimiter.
//   SQL*Plus (oracle)  command lines between statements (SET, PROMPT, REM,
//       SPOOL, @file, ...; a trailing '-' continues one) are skipped.
//   sqlcmd (tsql)  :setvar, :r, ... and !! lines are cut out.
//
// An unterminated quote or comment is a warning naming the line where it
// opened; the text up to the end of the input is kept as one statement.
#pragma once

#include "packer/byte_buffer.h"

#include <cstddef>
#include <cstdint>

// ORDER DIALECT: DIALECT_NAMES is in step with this enumeration.
enum Dialect : std::uint8_t {
    DIALECT_GENERIC,
    DIALECT_POSTGRES,
    DIALECT_MYSQL,
    DIALECT_ORACLE,
    DIALECT_TSQL,
};
constexpr int DIALECT_COUNT = 5;
extern const char* const DIALECT_NAMES[DIALECT_COUNT]; // "generic", "postgres", ...

// The dialect named `name`; false when there is none.
bool dialect_from_name(const char* name, Dialect* dialect);

// ORDER SPLIT WARNING: SPLIT_WARNING_TEXTS is in step with this enumeration.
enum SplitWarning : std::uint8_t {
    SPLIT_OPEN_QUOTE,   // a quoted text or identifier is not closed
    SPLIT_OPEN_COMMENT, // a block comment is not closed
    SPLIT_OPEN_UNIT,    // a PL/SQL unit is not closed by a '/' line
    SPLIT_OPEN_COPY,    // COPY data is not closed by a "\." line
};
extern const char* const SPLIT_WARNING_TEXTS[4];

struct SplitterEvents {
    void* context;
    // One statement: text[0..length), never empty and never starting with
    // white space. text[length] is a NUL for the duration of the call (the
    // byte there is put back afterwards), so the text can be handed to the
    // lexer in place. `line` is the line of its first byte. Returning false
    // stops the splitter: every later feed returns false.
    bool (*statement)(void* context, char* text, std::size_t length, std::int64_t line);
    // Something the reader should know; `line` is where it began.
    void (*warning)(void* context, SplitWarning warning, std::int64_t line);
};

// Longest DELIMITER kept; a longer one is cut to this length.
constexpr std::size_t DELIMITER_MAX = 15;

// What a statement's leading and later words have said about where it ends.
// Filled in as words are read; reset when a statement opens.
struct StatementShape {
    std::uint8_t kind;        // SHAPE_* in splitter.cpp
    std::uint8_t lead;        // progress through CREATE [OR REPLACE] ... (LEAD_*)
    std::uint8_t candidate;   // for a possible unit in generic: what opened it
    std::uint8_t previous;    // the last word read (a WORD_* code)
    bool watching;            // words still matter: letters are looked at
    bool evidence;            // generic: what was read makes it a PL/SQL unit
    std::uint8_t after_is_as; // generic: IS or AS just read (its WORD_*); a quote next is a body
    bool ruled_out;           // generic: RETURNS, a cursor or BEGIN ATOMIC: no PL/SQL unit
    bool copy_from_stdin;     // COPY ... FROM STDIN: data lines follow
    bool undo_end;            // tsql: the last END closed a block (END CONVERSATION reopens)
    std::uint32_t words;      // words read (saturates)
    std::int32_t paren_depth;
    std::int32_t block_depth; // BEGIN/CASE ... END nesting where it matters
};

struct Splitter {
    Dialect dialect;
    bool script; // client commands apply (see above)
    SplitterEvents events;
    // Byte classes (CLASS_* in splitter.cpp) in code: one table while words
    // are watched (letters and parentheses stop the scan) and one for the
    // rest, where only the bytes that can change where a statement ends do.
    std::uint8_t code_class[256];
    std::uint8_t word_class[256];
    std::uint8_t
        delimiter_base_class; // class of the delimiter's first byte when no delimiter follows
    char delimiter[DELIMITER_MAX];
    std::size_t delimiter_length;
    // The bytes held: the open statement from `start` on, and the bytes fed
    // but not yet scanned. Always one byte of room beyond `text.size`.
    ByteBuffer text;
    std::size_t scan;  // next byte to look at
    std::size_t start; // first byte of the open statement, or NO_STATEMENT
    std::int64_t line; // line of the byte at `scan`
    std::int64_t start_line;
    std::int64_t open_line; // where the quote, comment or COPY data now open began
    std::uint8_t state;     // STATE_* in splitter.cpp: code, quote, comment, ...
    char close_quote;       // byte that closes the open quote
    bool quote_escapes;     // backslash escapes the next byte in the open quote
    std::int32_t comment_depth;
    std::size_t tag_offset; // open dollar quote: its tag, from `start` on ...
    std::size_t tag_length; // ... this many bytes (the '$'s not counted)
    bool line_start;        // `scan` is at the start of a line not yet checked
    bool line_checks;       // the dialect has line-level terminators or commands
    bool copy_pending;      // a COPY ... FROM STDIN ended: data from the next line
    bool exec_comment;      // mysql: inside /*! ... */
    bool skip_continues;    // a skipped command line ended in '-' so far
    bool finished;          // the end of the input is known: no byte will follow
    bool stopped;           // the statement event refused, or memory ran out
    bool out_of_memory;
    StatementShape shape;
};

constexpr std::size_t NO_STATEMENT = static_cast<std::size_t>(-1);

// Sets up an empty splitter. Nothing is allocated until bytes are fed.
void splitter_init(Splitter* s, Dialect dialect, bool script, SplitterEvents events);

// Starts a new input whose first byte is on `first_line`: drops whatever is
// held (without reporting it), forgets every open quote and comment, and
// puts the delimiter back to ';'.
void splitter_reset(Splitter* s, std::int64_t first_line);

// Scans `length` more bytes. False when the splitter stopped (the statement
// event refused, or memory for the open statement was refused: see
// `out_of_memory`).
bool splitter_feed(Splitter* s, const char* bytes, std::size_t length);

// The end of the input: reports what is still open and the last statement.
// The splitter then holds nothing; splitter_reset starts the next input.
bool splitter_finish(Splitter* s);

// Releases the storage.
void splitter_free(Splitter* s);
