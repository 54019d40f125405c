// Checked allocation for litsieve. Every allocation of the program goes
// through here, so that an exhausted heap ends the run the same way
// everywhere and so that tests can make the n-th allocation fail.
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
// cannot be had (or an injected failure says so), and the run goes on.
void* optional_calloc(std::size_t count, std::size_t size);

// Allocation fault injection. While `allocation_fail_at` is n > 0, the n-th
// allocation counted from when it was set fails (and every later one too,
// as a real exhausted heap would). 0 disables it. Test builds only set it.
extern long allocation_fail_at;
extern long allocation_count;
