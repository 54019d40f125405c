// What every fuzz target needs to run litsieve's code in-process, input after
// input, although that code ends the process on every failure and never frees
// its dictionary:
//
//  - exits become returns. The fuzzers link with -Wl,--wrap=exit, so every
//    exit (the normaliser's fatal_error and out_of_memory call it directly,
//    the analyzer through sys.exit) jumps back into run_guarded while a body
//    runs there; outside it, exit is the real one, which libFuzzer relies on;
//  - messages are captured. fputs to stderr (how the normaliser writes its
//    messages) is wrapped as well and collected in captured_stderr;
//  - memory is reclaimed. realloc, calloc and free are wrapped; between
//    start_tracking and free_tracked every block the code allocates is noted,
//    and free_tracked releases what is still held, so that a dictionary
//    abandoned on purpose (or by an exit half way) does not pile up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// Fails the fuzz run: prints the check and aborts, which libFuzzer reports as
// a crash together with the input that caused it.
#define FUZZ_CHECK(condition, what)                                                                \
    do {                                                                                           \
        if (!(condition)) fuzz_failure(__FILE__, __LINE__, #condition, what);                      \
    } while (0)

[[noreturn]] void fuzz_failure(const char* file, int line, const char* condition,
                               const std::string& what);

// What fputs wrote to stderr while a body ran in run_guarded.
extern std::string captured_stderr;

// Runs body(context). Returns true when it returned; false when it tried to
// end the process, with the exit status in *status. Not re-entrant.
bool run_guarded(void (*body)(void* context), void* context, int* status);

// An exit that returns to run_guarded, for the analyzer's sys.exit entry.
[[noreturn]] void guarded_exit(int status);

// Notes every block realloc or calloc hands out from now on.
void start_tracking();

// Frees the noted blocks that were not freed meanwhile and stops noting.
// A block that was allocated before start_tracking and grown during it
// would be freed behind its owner's back, so that aborts the run instead.
void free_tracked();

// Makes the normaliser's reused text buffer large enough for any input of
// up to `longest_input` bytes, so that it is never grown while tracking.
void reserve_normaliser_buffer(std::size_t longest_input);

// Status of a process that ended with exit(-1), as the C runtime passes it.
constexpr int FATAL_STATUS = -1;
