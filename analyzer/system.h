// The analyzer reaches the operating system only through this table, so that
// tests can inject short reads, failing writes and the like. It defaults to
// the C runtime's descriptor I/O.
#pragma once

#include <cstddef>
#include <cstdint>
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
};

extern SystemCalls sys;

// The real C runtime calls, for restoring `sys` after a test swapped entries.
extern const SystemCalls default_system_calls;

// Exit statuses of litsieve. -1 shows as 255 to a POSIX parent.
constexpr int EXIT_OK = 0;
constexpr int EXIT_USAGE_OR_MEMORY = 1;
constexpr int EXIT_REPORT_FILE = 2;
constexpr int EXIT_INPUT = -1;

// Writes the whole buffer, retrying partial writes and interruptions.
// Returns false when the descriptor refuses bytes (error or no progress).
bool write_all(int fd, const char* data, std::size_t length);

// Writes `message` to standard error and ends the process with `status`.
[[noreturn]] void fail(int status, const char* message);

// One message made of three parts, for messages that name a file:
// fail_naming(2, "Can't open ", path, " file.\n").
[[noreturn]] void fail_naming(int status, const char* before, const char* name, const char* after);

// "Can't open NAME file.\n" and `status`.
[[noreturn]] void fail_to_open(int status, const char* name);

// Message of a run without arguments (status 1).
extern const char MISSING_PARAMETERS[]; // "Error. Missing command line parameters.\n"

// A small text builder for messages that name files and offsets, so that no
// formatting function ever sees a null pointer.
struct Message {
    char text[8192];
    std::size_t length;
};
void message_start(Message* m);
void message_add(Message* m, const char* text);
void message_add_number(Message* m, std::int64_t value);

// How messages show a file name. By default as given (litsieve's messages
// are held byte for byte); litrank points it at a function that escapes
// control and invisible characters, so that no name can act on a terminal.
extern void (*message_add_name)(Message* m, const char* name);

// Decimal digits of `value`, written backwards ending at `end`; returns the
// first digit (or the minus sign). Needs 20 bytes before `end`.
char* format_decimal(std::int64_t value, char* end);
