// The metadata file: one line per record, saying where the record came from
// and what the log said about it. Tab-separated, with the escapes litrank's
// --tsv writes, so every byte of a field can be recovered:
//
//   \\  \t  \n  \r      backslash, tab, line feed, carriage return
//   \xNN                any other C0 control byte, DEL, and a byte 80..9F
//                       that is not part of well-formed UTF-8
//   \u{NNNN}            a C1 control written as UTF-8 (U+0080..U+009F)
//
// Every other byte is written as it is.
#pragma once

#include "packer/byte_buffer.h"
#include "packer/log_input.h"

#include <cstddef>
#include <cstdint>

// The header line, in step with meta_append_row.
extern const char META_HEADER[]; // "id\tsource\tline\tduration_ms\tuser\tdatabase\ttime\n"

// Appends text[0..length) escaped as one field.
bool tsv_append_field(ByteBuffer* out, const char* text, std::size_t length);

// Appends one line: id, source, line, then the entry's metadata.
bool meta_append_row(ByteBuffer* out, std::int32_t id, TextRef source, std::int64_t line,
                     const EntryMeta& meta);
