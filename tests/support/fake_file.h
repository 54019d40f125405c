// A file in memory for tests that put it behind the system-call table:
// read at most `chunk` bytes at a time; a read that starts at or past
// `fail_at` fails with EIO. It counts its reads and notes its opening and
// closing; the tests' own open, read and close functions forward to it.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>

struct FakeFile {
    std::string bytes;
    std::size_t position = 0;
    std::size_t chunk = 1 << 30;
    std::size_t fail_at = std::string::npos;
    int reads = 0;
    bool opened = false;
    bool closed = false;

    long read(void* buffer, std::size_t count) {
        ++reads;
        if (position >= fail_at) {
            errno = EIO;
            return -1;
        }
        std::size_t n = std::min({count, chunk, bytes.size() - position});
        std::memcpy(buffer, bytes.data() + position, n);
        position += n;
        return static_cast<long>(n);
    }
};
