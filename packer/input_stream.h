// A text input read a block at a time, in memory of one block whatever the
// input's size: the packer is fed each block as it arrives.
#pragma once

#include <cstddef>

constexpr std::size_t INPUT_BLOCK_SIZE = 256 * 1024;

struct InputStream {
    int fd;                 // -1 once closed
    bool owns_fd;           // false for standard input
    const char* name;       // the name as given ("-" for standard input); not owned
    char* block;            // block_size bytes; owned
    std::size_t block_size; // bytes asked for at a time
};

// Opens `name` ("-": standard input) for reading in blocks of `block_size`
// bytes (at least 1). False with errno set when it cannot be opened or is a
// directory; ends the run when memory is short.
bool input_open(InputStream* in, const char* name, std::size_t block_size);

// Reads the next bytes, at most a block, into the block: their count, 0 at
// the end. A read error ends the run (status 1, "can't read NAME: ...").
std::size_t input_read(InputStream* in);

// Closes the descriptor (not standard input) and frees the block.
void input_close(InputStream* in);
