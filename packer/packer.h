// The packer: what litpack does between reading its inputs and writing its
// outputs. Each input is read in the format given (or the one its first
// lines show) and cut into statements; every statement litsieve can take is
// handed to the caller, who writes its record and metadata line
// (record_writer.h, meta_writer.h):
//
//   packer_init
//   for each input:  packer_begin, packer_feed ..., packer_end
//   packer_free
//
// Memory is the longest statement (or log line) plus fixed tables; a
// refused allocation stops the packer (`out_of_memory`) rather than the
// process, so that the caller decides how the run ends.
#pragma once
#include "packer/byte_buffer.h"
#include "packer/format_detect.h"
#include "packer/log_input.h"
#include "packer/mysql_logs.h"
#include "packer/pg_logs.h"
#include "packer/splitter.h"

#include <cstddef>
#include <cstdint>

// ORDER SKIP: SKIP_REASON_TEXTS is in step with this enumeration.
enum SkipReason : std::uint8_t {
    SKIP_NO_TOKEN,        // litsieve would stop with "syntax error"
    SKIP_TOO_MANY_TOKENS, // litsieve would stop with "yacc stack overflow"
};
constexpr int SKIP_REASONS = 2;
extern const char* const SKIP_REASON_TEXTS[SKIP_REASONS]; // the warning's text
extern const char* const SKIP_REASON_NAMES[SKIP_REASONS]; // "without a token", ...: the summary's

struct PackerEvents {
    void* context;
    // A statement to pack: text[0..length), a NUL at text[length]; `line` is
    // its first line in `source`, `meta` what the log says of its entry
    // (empty fields for scripts).
    void (*statement)(void* context, const char* text, std::size_t length, std::int64_t line,
                      const EntryMeta& meta);
    // Something the user should know about `source` at `line`: a text of
    // SPLIT_WARNING_TEXTS or SKIP_REASON_TEXTS.
    void (*warning)(void* context, const char* source, std::int64_t line, const char* text);
    // FORMAT_AUTO chose `format` for `source`.
    void (*format_chosen)(void* context, const char* source, InputFormat format);
};

struct PackerOptions {
    Dialect dialect; // for sql and lines input; logs use their server's dialect
    bool keep_all;   // hand on statements litsieve would reject too
    PackerEvents events;
};

// Large (the readers' tables): keep one in static storage or on the heap.
struct Packer {
    PackerOptions options;
    const char* source;   // name of the input being read, as given
    InputFormat format;   // of the input being read; FORMAT_AUTO while undecided
    ByteBuffer detect;    // the first bytes, while the format is undecided
    Splitter splitter;    // sql input, and log entries
    LineAssembler lines;  // lines input
    ByteBuffer line_text; // one line of lines input, NUL-terminated for the lexer
    SlowLogReader slow;
    GeneralLogReader general;
    PgLogReader pg_log;
    PgCsvReader pg_csv;
    EntryMeta meta;                     // of the log entry being split
    std::int64_t packed;                // statements handed on
    std::int64_t skipped[SKIP_REASONS]; // statements left out, by reason
    std::uint32_t formats_read;         // bit 1 << format for each format read
    bool out_of_memory;                 // an allocation was refused: the packer stopped
};

// Sets up the packer; nothing is allocated until bytes are fed.
void packer_init(Packer* p, const PackerOptions& options);

// Starts an input named `source` (the pointer is kept until packer_end).
bool packer_begin(Packer* p, const char* source, InputFormat format);

// The input's next bytes. False once the packer stopped.
bool packer_feed(Packer* p, const char* bytes, std::size_t length);

// The input's end: its last statements are handed on.
bool packer_end(Packer* p);

void packer_free(Packer* p);
