// A text input read in blocks: bytes one at a time with a small look-ahead,
// in memory of one block whatever the input's size. A reader (the statement
// splitter) asks for the next byte or peeks up to INPUT_LOOKAHEAD_MAX bytes
// beyond it; the stream refills its block as those run out.
//
//   block:  [ consumed | pos .. used: bytes still to read | free ]
//
// A refill moves the unread tail to the front and reads into the rest, so a
// peek never fails for want of room, only at the end of the input.
#pragma once

#include <cstddef>

constexpr std::size_t INPUT_BLOCK_SIZE = 256 * 1024;
constexpr std::size_t INPUT_LOOKAHEAD_MAX = 64; // bytes a reader may peek beyond the next

struct InputStream {
    int fd;                 // -1 once closed
    bool owns_fd;           // false for standard input
    const char* name;       // the name as given ("-" for standard input); not owned
    unsigned char* block;   // block_size + INPUT_LOOKAHEAD_MAX bytes; owned
    std::size_t block_size; // bytes asked for at a time
    std::size_t pos;        // next byte to read
    std::size_t used;       // bytes in the block
    bool at_end;            // the descriptor reported its end
    const char* memory;     // input_open_memory: the bytes not yet handed to the block
    std::size_t memory_left;
};

// Opens `name` ("-": standard input) for reading in blocks of `block_size`
// bytes (at least 1). False with errno set when it cannot be opened or is a
// directory; ends the run when memory is short.
bool input_open(InputStream* in, const char* name, std::size_t block_size);

// Reads `length` bytes of memory as the input, `block_size` at a time (as a
// file would be read), for tests and for texts already in memory.
void input_open_memory(InputStream* in, const char* data, std::size_t length,
                       std::size_t block_size);

// Refills and returns the byte `ahead` bytes beyond the next, or -1 at the
// end. A read error ends the run (status 1, "can't read NAME: ...").
int input_refill(InputStream* in, std::size_t ahead);

// The byte `ahead` (0 to INPUT_LOOKAHEAD_MAX) bytes beyond the next one, or
// -1 when the input ends before it.
inline int input_peek(InputStream* in, std::size_t ahead) {
    if (in->used - in->pos > ahead) return in->block[in->pos + ahead];
    return input_refill(in, ahead);
}

// The next byte, consumed, or -1 at the end.
inline int input_get(InputStream* in) {
    if (in->pos < in->used) return in->block[in->pos++];
    int c = input_refill(in, 0);
    if (c >= 0) ++in->pos;
    return c;
}

// Closes the descriptor (not standard input) and frees the block.
void input_close(InputStream* in);
