// litpack's metadata file, read in step with the record file it describes.
//
// A header line, then one line per record, in the record file's order, with
// seven tab-separated fields:
//
//   id  source  line  duration_ms  user  database  time
//
// id is the record's id (decimal), line a decimal line number, duration_ms
// a decimal number of milliseconds with any number of fraction digits, or
// empty; the other fields are text, empty when the log had nothing. Texts
// carry the escapes of litrank's --tsv, undone here: \\ \t \n \r, \xNN for
// one byte, \u{NNNN} for a C1 control (U+0080..U+009F) written as UTF-8.
//
// The header check: the first line must begin with those seven names,
// tab-separated, in that order. Further columns after "time", in the header
// and in every line, are allowed and ignored, so that a later litpack may
// add some; a CR before a line's LF is ignored too.
//
// Every failure ends the process with one message and status -1 (a bad
// input): a file that cannot be opened or read, a header that is not the
// metadata header, a line with fewer than seven fields, a bad number or
// escape, and a file that does not belong to the record file: a line whose
// id is not the record's at its place, a file that ends before the records
// do, or one with lines after the last record. The message names the first
// such line.
#pragma once

#include "platform/block_reader.h"
#include "ranker/ranking.h"

#include <cstddef>
#include <cstdint>

// Longest line accepted; a longer one is no line litpack writes.
constexpr std::size_t META_LINE_MAX = 1 << 20;

constexpr int META_FIELDS = 7;

struct MetaField {
    char* data; // unescaped bytes, grown as needed
    std::size_t capacity;
};

struct MetaFile {
    BlockReader file;
    const char* input_path; // the record file, named in messages; the caller's
    std::int64_t line;      // number of the last line read
    MetaField source;
    MetaField user;
    MetaField database;
    RecordMeta meta; // the last record's; its texts valid until the next line
};

// Opens the file and checks its header line.
void open_meta(MetaFile* m, const char* path, const char* input_path);

// The next line, which must be the record `id`'s.
const RecordMeta* next_meta(MetaFile* m, std::int32_t id);

// After the last record: the file must end here. Closes it.
void close_meta(MetaFile* m);

// Milliseconds as written ("12", "0.123", "1.5", "") in microseconds,
// rounded half up past three fraction digits: -1 for an empty text, -2 for
// one that is not such a number (or above 10^15 ms).
std::int64_t parse_duration_us(const char* text, std::size_t length);

// Undoes the field escapes of text[0..length) into `out` (at least length
// bytes: no escape lengthens); returns the length, or -1 for a bad escape.
std::int64_t unescape_field(const char* text, std::size_t length, char* out);
