// Records of the file litsieve reads (id and length as little-endian signed
// 32-bit values, then the text), gathered into large writes to an output.
#pragma once

#include "packer/gathered_output.h"

#include <cstddef>
#include <cstdint>

// Longest text a record can carry (its length is a signed 32-bit value).
constexpr std::size_t RECORD_TEXT_MAX = 2147483647;

struct RecordWriter {
    GatheredOutput out;
    std::int64_t next_id; // id of the next record
    std::int64_t written; // records written so far
};

void records_start(RecordWriter* writer, OutputFile* out, const char* name, std::int64_t first_id);

// One record; returns its id. Ends the run when the ids run past INT32_MAX
// or the text is too long for a record (status 1), or the output refuses
// bytes (status 2, "can't write NAME: ...").
std::int32_t write_record(RecordWriter* writer, const char* text, std::size_t length);

// Writes what is gathered and frees the buffer; the caller commits.
void records_finish(RecordWriter* writer);
