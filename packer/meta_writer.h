// The metadata file: a header line, then one line per record saying where
// the record came from and what the log said about it:
//
//   id  source  line  duration_ms  user  database  time
//
// `source` is the input's name as given, `line` the statement's first line
// in it, `duration_ms` decimal milliseconds as exact as the log writes them,
// `time` as the log writes it; fields the input does not give are empty.
// Tab-separated, each field escaped as escape_tsv does (escape/escape.h),
// the escapes litrank's --tsv writes, so every byte can be recovered.
#pragma once

#include "packer/gathered_output.h"
#include "packer/log_input.h"

#include <cstdint>

// The header line, in step with write_meta_line.
extern const char META_HEADER[]; // "id\tsource\tline\tduration_ms\tuser\tdatabase\ttime\n"

struct MetaWriter {
    GatheredOutput out;
};

// Starts the file with its header line.
void meta_start(MetaWriter* writer, OutputFile* out, const char* name);

// The line of record `id`. A refused write ends the run as the records' does.
void write_meta_line(MetaWriter* writer, std::int32_t id, const char* source, std::int64_t line,
                     const EntryMeta& meta);

// Writes what is gathered and frees the buffer; the caller commits.
void meta_finish(MetaWriter* writer);
