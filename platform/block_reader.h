// A file read a large block at a time through `sys`: one loop for
// interrupted and short reads, and one message for a read that fails,
// shared by litsieve's record reader and litrank's report check.
#pragma once

#include <cstddef>
#include <cstdint>

struct BlockReader {
    const char* path; // named in messages; the caller's
    int fd;
    char* block;               // capacity bytes, and one more a user may put a terminator in
    std::size_t capacity;      // bytes one fill may hold
    std::size_t begin;         // first unconsumed byte in block
    std::size_t end;           // one past the last byte read into block
    std::int64_t block_offset; // file offset of block[0]
    bool at_end;               // the file has no more bytes
};

// Opens `path` and allocates the block. A file that cannot be opened ends
// the process with "Can't open PATH file.\n" and status -1.
void open_block_reader(BlockReader* r, const char* path, std::size_t capacity);

// Closes the file and frees the block.
void close_block_reader(BlockReader* r);

// Unconsumed bytes, [block + begin, block + end).
inline std::size_t unconsumed(const BlockReader& r) {
    return r.end - r.begin;
}

// File offset of the first unconsumed byte.
inline std::int64_t consumed_offset(const BlockReader& r) {
    return r.block_offset + static_cast<std::int64_t>(r.begin);
}

// Moves the unconsumed bytes to the front of the block and reads until the
// block holds at least `want` (at most capacity) of them or the file ends.
// A read that fails ends the process with "Can't read PATH file at offset
// N.\n" and status -1, N being the offset the read was to start at.
void fill_block(BlockReader* r, std::size_t want);

// For data too long for the block: counts every byte in the block as
// consumed, then reads what the system gives into [to, to + room), counted
// as consumed too. Returns the byte count, 0 at the end of the file; a read
// that fails ends the process as fill_block does.
std::size_t read_past_block(BlockReader* r, char* to, std::size_t room);
