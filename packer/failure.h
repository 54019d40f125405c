// How litpack ends a run that failed: one message on standard error,
// "litpack: " and the text, with the file name escaped as every message
// shows names (escape/escape.h), then exit with `status`. Pending output
// files are removed by the exit (output/output_file.h).
#pragma once

// Exit statuses of litpack.
constexpr int PACK_OK = 0;
constexpr int PACK_USAGE_INPUT_OR_MEMORY = 1; // bad arguments, an input, memory
constexpr int PACK_OUTPUT = 2;                // the output cannot be opened or written

// "litpack: BEFORE NAME AFTER\n"; `name` may be null (no name).
[[noreturn]] void pack_fail(int status, const char* before, const char* name, const char* after);

// "litpack: BEFORE NAME: REASON\n", the reason as strerror gives it.
[[noreturn]] void pack_fail_because(int status, const char* before, const char* name,
                                    const char* reason);
