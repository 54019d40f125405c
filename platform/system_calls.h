// The seam between litsieve and litrank and the operating system. Every file
// operation, every heap block and the end of the process go through the
// function pointers of `sys`, which default to the C runtime, so that a test
// or a fuzz target can serve files from memory, refuse writes, make the n-th
// allocation fail, note every block, or turn the end of the process into a
// return, by swapping entries: nothing is wrapped at link time.
#pragma once

#include <cstddef>
#include <fcntl.h>

#ifndef O_BINARY
#define O_BINARY 0 // only Windows runtimes translate line ends
#endif

struct SystemCalls {
    int (*open)(const char* path, int flags, int mode);
    long (*read)(int fd, void* buffer, std::size_t count); // bytes read, 0 at end, -1 on error
    long (*write)(int fd, const void* buffer, std::size_t count); // bytes written or -1
    int (*close)(int fd);
    void (*exit)(int status); // must not return; [[noreturn]] cannot be said of a pointer
    void* (*realloc)(void* block, std::size_t size);      // null when refused
    void* (*calloc)(std::size_t count, std::size_t size); // null when refused
    void (*free)(void* block);
};

extern SystemCalls sys;

// The real C runtime calls, for restoring `sys` after a test swapped entries.
extern const SystemCalls default_system_calls;

// Writes the whole buffer, retrying partial writes and interruptions.
// Returns false when the descriptor refuses bytes (error or no progress).
bool write_all(int fd, const char* data, std::size_t length);
