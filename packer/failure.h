// litpack's messages: one line on standard error, "litpack: " and the
// text, with the file name escaped as every message shows names
// (escape/escape.h). A failure then ends the run with `status`; pending
// output files are removed by the exit (output/output_file.h).
#pragma once

#include <cstdint>

// Exit statuses of litpack.
constexpr int PACK_OK = 0;
constexpr int PACK_USAGE_INPUT_OR_MEMORY = 1; // bad arguments, an input, memory
constexpr int PACK_OUTPUT = 2;                // an output cannot be opened or written

// "litpack: BEFORE NAME AFTER\n"; `name` may be null (no name).
[[noreturn]] void pack_fail(int status, const char* before, const char* name, const char* after);

// "litpack: BEFORE NAME: REASON\n", the reason as strerror gives it.
[[noreturn]] void pack_fail_because(int status, const char* before, const char* name,
                                    const char* reason);

// "litpack: BEFORE NAME AFTER\n", and the run goes on.
void pack_note(const char* before, const char* name, const char* after);

// "litpack: NAME:LINE: TEXT\n": something about a place in an input.
void pack_warn_at(const char* name, std::int64_t line, const char* text);
