#include "packer/input_stream.h"

#include "packer/failure.h"
#include "platform/allocation.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#ifndef O_BINARY
#define O_BINARY 0 // only Windows runtimes translate line ends
#endif

namespace {

long read_some(int fd, unsigned char* buffer, std::size_t count) {
#ifdef _WIN32
    unsigned chunk = count > (1u << 30) ? (1u << 30) : static_cast<unsigned>(count);
    return _read(fd, buffer, chunk);
#else
    return static_cast<long>(read(fd, buffer, count));
#endif
}

void start_blocks(InputStream* in, std::size_t block_size) {
    in->block_size = block_size > 0 ? block_size : 1;
    in->block = static_cast<unsigned char*>(
        checked_realloc(nullptr, in->block_size + INPUT_LOOKAHEAD_MAX, NOT_ENOUGH_MEMORY));
    in->pos = 0;
    in->used = 0;
    in->at_end = false;
}

} // namespace

bool input_open(InputStream* in, const char* name, std::size_t block_size) {
    in->name = name;
    in->memory = nullptr;
    in->memory_left = 0;
    in->owns_fd = std::strcmp(name, "-") != 0;
    if (in->owns_fd) {
        in->fd = open(name, O_RDONLY | O_BINARY);
        if (in->fd < 0) return false;
    } else {
        in->fd = 0;
#ifdef _WIN32
        _setmode(0, _O_BINARY);
#endif
    }
    struct stat st;
    if (fstat(in->fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        if (in->owns_fd) close(in->fd);
        in->fd = -1;
        errno = EISDIR;
        return false;
    }
    start_blocks(in, block_size);
    return true;
}

void input_open_memory(InputStream* in, const char* data, std::size_t length,
                       std::size_t block_size) {
    in->fd = -1;
    in->owns_fd = false;
    in->name = "memory";
    in->memory = data;
    in->memory_left = length;
    start_blocks(in, block_size);
}

int input_refill(InputStream* in, std::size_t ahead) {
    while (in->used - in->pos <= ahead && !in->at_end) {
        if (in->pos > 0) {
            std::memmove(in->block, in->block + in->pos, in->used - in->pos);
            in->used -= in->pos;
            in->pos = 0;
        }
        // Never more than a block at a time, so that tests with tiny blocks
        // cut the input where they ask; the look-ahead room is for the tail.
        std::size_t room = in->block_size + INPUT_LOOKAHEAD_MAX - in->used;
        if (room > in->block_size) room = in->block_size;
        long n;
        if (in->memory != nullptr) {
            n = static_cast<long>(in->memory_left < room ? in->memory_left : room);
            std::memcpy(in->block + in->used, in->memory, static_cast<std::size_t>(n));
            in->memory += n;
            in->memory_left -= static_cast<std::size_t>(n);
        } else {
            n = read_some(in->fd, in->block + in->used, room);
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            pack_fail_because(PACK_USAGE_INPUT_OR_MEMORY, "can't read ",
                              in->owns_fd ? in->name : "standard input", std::strerror(errno));
        }
        if (n == 0) in->at_end = true;
        in->used += static_cast<std::size_t>(n);
    }
    return in->used - in->pos > ahead ? in->block[in->pos + ahead] : -1;
}

void input_close(InputStream* in) {
    if (in->owns_fd && in->fd >= 0) close(in->fd);
    in->fd = -1;
    release(in->block);
    in->block = nullptr;
}
