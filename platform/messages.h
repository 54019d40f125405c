// The ends of a run with a message: the message goes to standard error
// exactly as given (no prefix, no added line break) and the process ends with
// the status, both through `sys`.
#pragma once

#include <cstddef>
#include <cstdint>

// Writes `message` to standard error and ends the process with `status`.
[[noreturn]] void fail(int status, const char* message);

// One message made of three parts, for messages that name a file:
// fail_naming(2, "Can't write ", path, " file.\n").
[[noreturn]] void fail_naming(int status, const char* before, const char* name, const char* after);

// "Can't open NAME file.\n" and `status`.
[[noreturn]] void fail_to_open(int status, const char* name);

// Message of a run without arguments (status 1).
extern const char MISSING_PARAMETERS[]; // "Error. Missing command line parameters.\n"

// A small text builder for messages that name files and offsets, so that no
// formatting function ever sees a null pointer. A message longer than the
// text is cut.
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
