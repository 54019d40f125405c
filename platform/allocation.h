// Checked allocation for the programs. Every block of the programs is
// taken through here (and so through sys.realloc / sys.calloc), so that an
// exhausted heap ends the run the same way everywhere, and so that a test can
// make the n-th allocation fail by swapping those entries of `sys`.
#pragma once

#include <cstddef>

// Messages of the two out-of-memory endings; both exit with status 1.
extern const char NOT_ENOUGH_MEMORY[];           // "Not enough memory\n"
extern const char NOT_ENOUGH_MEMORY_FOR_STATE[]; // "Not enough memory for State\n"

// Writes `message` to standard error and ends the process with status 1.
[[noreturn]] void out_of_memory(const char* message);

// realloc(block, size) that never returns null: a failure ends the process
// through out_of_memory(message). `size` must not be 0.
void* checked_realloc(void* block, std::size_t size, const char* message);

// calloc(count, size) that never returns null, for blocks that must start
// zeroed: fresh pages from the system are zero already and are not written
// a second time.
void* checked_calloc(std::size_t count, std::size_t size, const char* message);

// calloc(count, size) for a block the program can do without: null when it
// cannot be had, and the run goes on.
void* optional_calloc(std::size_t count, std::size_t size);

// realloc(block, size) for a caller that reports a refusal itself: null
// when the block cannot be had or grown, `block` then unchanged. `size` must
// not be 0.
void* optional_realloc(void* block, std::size_t size);

// Gives back a block from the functions above (null is allowed).
void release(void* block);
