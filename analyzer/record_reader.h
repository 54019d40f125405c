// The input record file: a flat sequence of records with no header, no
// trailer and no alignment. Each record:
//
//   offset 0   4 bytes   signed 32-bit little-endian   record id
//   offset 4   4 bytes   signed 32-bit little-endian   text length L
//   offset 8   L bytes                                 statement text, no terminator
//
// The file ends where a record id would begin and no byte follows.
#pragma once

#include "platform/messages.h"

#include <cstddef>
#include <cstdint>

constexpr std::size_t RECORD_HEADER_SIZE = 8;

// One input record while it is being processed.
struct StatementRecord {
    std::int32_t id;     // record id, reported unchanged
    std::int32_t length; // text length in bytes
    const char* text;    // the L bytes followed by an added NUL; owned by the reader
};

// Bytes the reader asks the system for at a time. Records that fit are cut
// out of this block in place; a longer one is gathered in a buffer of its
// own that grows only as its bytes actually arrive, so a huge announced
// length never allocates more than the file really holds.
constexpr std::size_t READ_BLOCK_SIZE = 1 << 20;

// Opens the file, hands every record's id and NUL-terminated text to
// `handle` in file order, and closes the file. Every failure ends the process
// with one message on standard error and status -1: the file cannot be
// opened or read, a record is cut short by the end of the file, or a record
// announces a negative length.
void read_records(const char* path, void (*handle)(const StatementRecord& record));

// Every record's statement normalised and filed under its group, in file
// order, on every core (statement_pipeline.h): litsieve's reading.
void read_statements(const char* path);

// The message of a bad record at file offset `offset`:
// "Record at offset N of PATH" followed by one of the two endings below.
void describe_bad_record(Message* m, const char* path, std::int64_t offset, const char* what);
extern const char RECORD_CUT_SHORT[];       // " file is cut short.\n"
extern const char RECORD_NEGATIVE_LENGTH[]; // " file has a negative length.\n"

// Little-endian signed 32-bit value assembled byte by byte.
inline std::int32_t read_int32_le(const unsigned char* p) {
    std::uint32_t v = std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
                      std::uint32_t{p[3]} << 24;
    return static_cast<std::int32_t>(v);
}

// A record's text longer than a block, gathered in a buffer that grows only
// as its bytes arrive, so that a huge announced length never allocates more
// than the file holds; there is always a byte for the NUL after the text.
struct LongText {
    char* text;           // owned by the caller once whole (release)
    std::size_t have;     // bytes gathered
    std::size_t length;   // bytes announced
    std::size_t capacity; // bytes allocated
};

// A buffer of `first_room` bytes (fewer when the text and its NUL need
// fewer) holding the `have` bytes at `start`. "Not enough memory" on failure.
LongText start_long_text(const char* start, std::size_t have, std::size_t length,
                         std::size_t first_room);

// Bytes the next read may place at text + have, the buffer grown when full
// (so `text` may move: read it after this call); only called while
// have < length.
std::size_t long_text_room(LongText* t);
