// Records of the file litsieve reads (id and length as little-endian signed
// 32-bit values, then the text), gathered into large writes to an output.
#pragma once

#include "output/output_file.h"

#include <cstddef>
#include <cstdint>

constexpr std::size_t RECORD_BUFFER_SIZE = 64 * 1024;

struct RecordWriter {
    OutputFile* out;
    const char* name;     // the output's name for messages
    char* buffer;         // RECORD_BUFFER_SIZE bytes; owned
    std::size_t used;     // bytes gathered in buffer
    std::int64_t next_id; // id of the next record
    std::int64_t written; // records written so far
};

void records_start(RecordWriter* writer, OutputFile* out, const char* name, std::int64_t first_id);

// One record. Ends the run when the ids run past INT32_MAX or the output
// refuses bytes (status 2, "can't write NAME: ...").
void write_record(RecordWriter* writer, const char* text, std::size_t length);

// Writes what is gathered and frees the buffer; the caller commits.
void records_finish(RecordWriter* writer);
