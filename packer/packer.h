// The packer: what litpack does between reading its inputs and writing its
// outputs. Each input is read in the format given (or the one its first
// lines show), cut into statements, and every statement litsieve can take
// becomes a record:
//
//   packer_init
//   for each input:  packer_begin, packer_feed ..., packer_end
//   packer_close     (the last buffered bytes go out)
//
// Records are the bytes litsieve reads (id and length as little-endian
// 32-bit values, then the text); the metadata file is a header line and one
// line per record (see meta_tsv.h). Both go out through the caller's write
// functions in blocks of PACKER_OUTPUT_BLOCK bytes, so memory stays bounded
// by the longest statement plus fixed buffers, and the caller decides where
// the bytes land and when an output counts as written.
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
extern const char* const SKIP_REASON_TEXTS[SKIP_REASONS];

enum PackError : std::uint8_t {
    PACK_OK,
    PACK_NO_MEMORY,          // a statement (or a line) does not fit in memory
    PACK_STATEMENT_TOO_LONG, // a statement of more than 2147483647 bytes
    PACK_IDS_EXHAUSTED,      // record ids ran past 2147483647
    PACK_RECORDS_REFUSED,    // the records' write function refused
    PACK_META_REFUSED,       // the metadata's write function refused
};

struct PackerOutput {
    void* context;
    // Writes all `length` bytes; false when they cannot be written.
    bool (*write)(void* context, const char* bytes, std::size_t length);
};

struct PackerEvents {
    void* context;
    // Something the user should know about `source` at `line`: a text of
    // SPLIT_WARNING_TEXTS or SKIP_REASON_TEXTS.
    void (*warning)(void* context, const char* source, std::int64_t line, const char* text);
    // FORMAT_AUTO chose `format` for `source`.
    void (*format_chosen)(void* context, const char* source, InputFormat format);
};

struct PackerOptions {
    Dialect dialect;       // for sql and lines input; logs use their server's dialect
    std::int64_t first_id; // a 32-bit value
    bool keep_all;         // pack statements litsieve would reject too
    PackerOutput records;
    PackerOutput meta; // write null: no metadata
    PackerEvents events;
};

constexpr std::size_t PACKER_OUTPUT_BLOCK = 64 * 1024;

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
    EntryMeta meta; // of the log entry being split
    ByteBuffer records_out;
    ByteBuffer meta_out;
    std::int64_t next_id;
    std::int64_t written;
    std::int64_t skipped[SKIP_REASONS];
    std::uint32_t formats_read; // bit 1 << format for each format read
    PackError error;
};

// Sets up the packer; the metadata header goes into its buffer.
void packer_init(Packer* p, const PackerOptions& options);

// Starts an input named `source` (the pointer is kept until packer_end).
bool packer_begin(Packer* p, const char* source, InputFormat format);

// The input's next bytes. False once an error is set.
bool packer_feed(Packer* p, const char* bytes, std::size_t length);

// The input's end: its last statements are packed.
bool packer_end(Packer* p);

// Writes what is still buffered. False when an error is set.
bool packer_close(Packer* p);

void packer_free(Packer* p);
