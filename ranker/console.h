// What litrank asks of the console: whether a descriptor is a terminal, how
// wide standard output's terminal is, and the progress line on standard
// error while a large input is read.
#pragma once

#include <cstddef>
#include <cstdint>

bool is_terminal(int fd);

// Columns of the terminal on standard output, or 0 when standard output is
// not a terminal or its width cannot be learnt.
std::size_t terminal_columns();

// Starts the progress line for reading `path` (its size is taken now, for
// the percentage): from now on rank_progress redraws it, at most every
// PROGRESS_INTERVAL_MS, and any message on standard error first clears it.
// A file of PROGRESS_LARGE_INPUT bytes or more shows the line from its first
// records on; a smaller one, or one of unknown size, only once reading has
// taken PROGRESS_INTERVAL_MS, so that small inputs never show it.
// Call only when standard error is a terminal.
constexpr int PROGRESS_INTERVAL_MS = 200;
constexpr std::int64_t PROGRESS_LARGE_INPUT = 8 << 20;
void progress_start(const char* path);

// Clears the progress line, if one is shown, and stops further redraws.
void progress_end();

// The progress line for `done` of `total` bytes (total 0: unknown),
// NUL-terminated into `out` (at least PROGRESS_LINE_MAX bytes).
constexpr std::size_t PROGRESS_LINE_MAX = 160;
void format_progress(char* out, const char* path, std::int64_t done, std::int64_t total,
                     std::int64_t records);
