// Exit statuses of litsieve and litrank, in one place. Every way out of
// either program ends with one of these through sys.exit (or, for a finished
// run, as the return value of run_litsieve and run_litrank).
#pragma once

constexpr int EXIT_OK = 0;
constexpr int EXIT_USAGE_OR_MEMORY = 1; // no arguments, a bad option, the heap is exhausted
constexpr int EXIT_REPORT_FILE = 2;     // the report (or page) cannot be opened or written
constexpr int EXIT_INPUT = -1;          // a bad input file or statement

// EXIT_INPUT as a parent process sees it: a POSIX parent gets the low eight
// bits (255), a Windows parent the whole value.
#ifdef _WIN32
constexpr int EXIT_INPUT_SEEN = -1;
#else
constexpr int EXIT_INPUT_SEEN = 255;
#endif
