// Bytes for an output file gathered into large writes: litpack's records
// and metadata lines are small, and a write per line would cost more than
// the line. A write the file refuses ends the run (status 2, "can't write
// NAME: ..."); the exit removes the output's new file (output/output_file.h).
#pragma once

#include "output/output_file.h"

#include <cstddef>

constexpr std::size_t GATHER_SIZE = 64 * 1024;

struct GatheredOutput {
    OutputFile* out;
    const char* name; // the output's name for messages
    char* buffer;     // GATHER_SIZE bytes; owned
    std::size_t used; // bytes gathered in buffer
};

void gather_start(GatheredOutput* g, OutputFile* out, const char* name);

// Writes what is gathered.
void gather_drain(GatheredOutput* g);

// Gathers `length` bytes; as many as the buffer holds or more go out
// directly, after what is gathered.
void gather(GatheredOutput* g, const char* data, std::size_t length);

// Room for `length` (at most GATHER_SIZE) bytes at the end of the gathered
// ones; the caller writes there and advances `used`.
inline char* gather_room(GatheredOutput* g, std::size_t length) {
    if (GATHER_SIZE - g->used < length) gather_drain(g);
    return g->buffer + g->used;
}

// Writes what is gathered and frees the buffer; the caller commits.
void gather_finish(GatheredOutput* g);
