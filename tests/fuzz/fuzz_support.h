// What every fuzz target needs to run litsieve's code in-process, input after
// input, although that code ends the process on every failure and never frees
// its dictionary. All of it goes through the entries of the system-call seam
// (platform/system_calls.h), which the targets swap; nothing is wrapped at
// link time:
//
//  - exits become returns. While a body runs in run_guarded, sys.exit jumps
//    back there; outside it the process exits as usual, which libFuzzer
//    relies on;
//  - messages are captured. Standard error, written through sys.write, is
//    collected in captured_stderr while a body runs; other descriptors go to
//    the sys.write that was there before;
//  - memory is reclaimed. Between start_tracking and free_tracked,
//    sys.realloc, sys.calloc and sys.free note every block the code holds,
//    and free_tracked releases what is still held, so that a dictionary
//    abandoned on purpose (or by an exit half way) does not pile up.
#pragma once

#include "platform/exit_statuses.h"

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

// What was written to standard error while a body ran in run_guarded.
extern std::string captured_stderr;

// Runs body(context). Returns true when it returned; false when it tried to
// end the process, with the exit status in *status. Not re-entrant.
bool run_guarded(void (*body)(void* context), void* context, int* status);

// Notes every block sys.realloc or sys.calloc hands out from now on.
void start_tracking();

// Frees the noted blocks that were not freed meanwhile, stops noting and puts
// back the allocation entries of sys. A block that was allocated before
// start_tracking and grown during it would be freed behind its owner's back,
// so that aborts the run instead.
void free_tracked();

// Makes the normaliser's reused text buffer large enough for any input of
// up to `longest_input` bytes, so that it is never grown while tracking.
void reserve_normaliser_buffer(std::size_t longest_input);
