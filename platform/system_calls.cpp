#include "platform/system_calls.h"

#include <cerrno>
#include <cstdlib>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

int runtime_open(const char* path, int flags, int mode) {
    return ::open(path, flags, mode);
}

long runtime_read(int fd, void* buffer, std::size_t count) {
#ifdef _WIN32
    return ::_read(fd, buffer, static_cast<unsigned>(count));
#else
    return static_cast<long>(::read(fd, buffer, count));
#endif
}

long runtime_write(int fd, const void* buffer, std::size_t count) {
#ifdef _WIN32
    return ::_write(fd, buffer, static_cast<unsigned>(count));
#else
    return static_cast<long>(::write(fd, buffer, count));
#endif
}

int runtime_close(int fd) {
    return ::close(fd);
}

[[noreturn]] void runtime_exit(int status) {
    std::exit(status);
}

void* runtime_realloc(void* block, std::size_t size) {
    return std::realloc(block, size);
}

void* runtime_calloc(std::size_t count, std::size_t size) {
    return std::calloc(count, size);
}

void runtime_free(void* block) {
    std::free(block);
}

} // namespace

const SystemCalls default_system_calls = {runtime_open,   runtime_read, runtime_write,
                                          runtime_close,  runtime_exit, runtime_realloc,
                                          runtime_calloc, runtime_free};
SystemCalls sys = default_system_calls;

bool write_all(int fd, const char* data, std::size_t length) {
    while (length > 0) {
        long written = sys.write(fd, data, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}
