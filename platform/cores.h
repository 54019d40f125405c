// How many threads litsieve and litrank may keep busy: one per core.
#pragma once

// The most threads either program starts, whatever the machine has: past
// that the one thread that files texts in input order is the limit anyway
// (README, "How it scales").
constexpr unsigned MOST_THREADS = 64;

// The environment variable that overrides the core count, for tests and
// benchmarks: LIT_THREADS=1 runs everything on the calling thread,
// LIT_THREADS=n (2 to MOST_THREADS) uses n threads whatever the machine has.
extern const char THREADS_VARIABLE[]; // "LIT_THREADS"

// The threads to use: LIT_THREADS when it is set to a count in range, else
// the cores the C++ runtime reports (1 when it cannot tell), at most
// MOST_THREADS.
unsigned usable_threads();
