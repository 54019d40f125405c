#include "ranker/console.h"

#include "platform/digits.h"
#include "platform/system_calls.h"
#include "ranker/ranking.h"

#include <chrono>
#include <cstring>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

bool is_terminal(int fd) {
#ifdef _WIN32
    return _isatty(fd) != 0;
#else
    return isatty(fd) != 0;
#endif
}

std::size_t terminal_columns() {
    if (!is_terminal(1)) return 0;
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 0;
    int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return columns > 0 ? static_cast<std::size_t>(columns) : 0;
#else
    struct winsize size;
    if (ioctl(1, TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
#endif
}

namespace {

// Process-wide: there is one input and one standard error.
struct Progress {
    const char* path;
    std::int64_t total; // file size, 0 if unknown
    std::size_t shown;  // columns of the line on screen now, 0 if none
    std::chrono::steady_clock::time_point next_draw;
};
Progress progress = {nullptr, 0, 0, {}};

long (*plain_write)(int fd, const void* buffer, std::size_t count) = nullptr;

void clear_line() {
    if (progress.shown == 0) return;
    char blanks[PROGRESS_LINE_MAX + 2];
    std::size_t n = progress.shown;
    blanks[0] = '\r';
    std::memset(blanks + 1, ' ', n);
    blanks[n + 1] = '\r';
    progress.shown = 0;
    std::size_t left = n + 2;
    const char* p = blanks;
    while (left > 0) {
        long written = plain_write(2, p, left);
        if (written <= 0) return;
        p += written;
        left -= static_cast<std::size_t>(written);
    }
}

// Every write to standard error (the messages of fail) clears the line first.
long write_clearing(int fd, const void* buffer, std::size_t count) {
    if (fd == 2) clear_line();
    return plain_write(fd, buffer, count);
}

void draw() {
    auto now = std::chrono::steady_clock::now();
    if (now < progress.next_draw) return;
    progress.next_draw = now + std::chrono::milliseconds(PROGRESS_INTERVAL_MS);
    char line[2 * PROGRESS_LINE_MAX + 1];
    line[0] = '\r';
    format_progress(line + 1, progress.path, rank_totals.file_bytes, progress.total,
                    rank_totals.before.records_read > 0 ? rank_totals.before.records_read
                                                        : rank_totals.after.records_read);
    std::size_t n = std::strlen(line + 1);
    if (progress.shown > n) { // blanks over the rest of a longer old line
        std::memset(line + 1 + n, ' ', progress.shown - n);
        n = progress.shown;
    }
    plain_write(2, line, n + 1);
    progress.shown = n;
}

std::int64_t file_size(const char* path) {
#ifdef _WIN32
    struct _stati64 st;
    if (_stati64(path, &st) != 0) return 0;
#else
    struct stat st;
    if (stat(path, &st) != 0) return 0;
#endif
    return (st.st_mode & S_IFMT) == S_IFREG ? static_cast<std::int64_t>(st.st_size) : 0;
}

void append(char* out, std::size_t* at, const char* text) {
    std::size_t n = std::strlen(text);
    if (n > PROGRESS_LINE_MAX - 1 - *at) n = PROGRESS_LINE_MAX - 1 - *at;
    std::memcpy(out + *at, text, n);
    *at += n;
    out[*at] = '\0';
}

void append_number(char* out, std::size_t* at, std::int64_t value) {
    char digits[24];
    digits[23] = '\0';
    append(out, at, format_decimal(value, digits + 23));
}

} // namespace

void format_progress(char* out, const char* path, std::int64_t done, std::int64_t total,
                     std::int64_t records) {
    std::size_t at = 0;
    out[0] = '\0';
    append(out, &at, "litrank: reading ");
    // A long path is shown by its end, which names the file.
    std::size_t length = std::strlen(path);
    if (length > 60) {
        append(out, &at, "...");
        path += length - 57;
    }
    append(out, &at, path);
    append(out, &at, ": ");
    append_number(out, &at, records);
    append(out, &at, " records, ");
    append_number(out, &at, done / (1024 * 1024));
    append(out, &at, " MiB");
    if (total > 0) {
        append(out, &at, " of ");
        append_number(out, &at, total / (1024 * 1024));
        append(out, &at, " MiB (");
        append_number(out, &at, done >= total ? 100 : done * 100 / total);
        append(out, &at, "%)");
    }
}

void progress_start(const char* path) {
    progress.path = path;
    progress.total = file_size(path);
    progress.shown = 0;
    progress.next_draw = std::chrono::steady_clock::now();
    if (progress.total < PROGRESS_LARGE_INPUT) {
        progress.next_draw += std::chrono::milliseconds(PROGRESS_INTERVAL_MS);
    }
    plain_write = sys.write;
    sys.write = write_clearing;
    rank_progress = draw;
}

void progress_end() {
    if (plain_write == nullptr) return;
    clear_line();
    rank_progress = nullptr;
    sys.write = plain_write;
    plain_write = nullptr;
}
