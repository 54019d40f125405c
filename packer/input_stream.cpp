#include "packer/input_stream.h"

#include "packer/failure.h"
#include "platform/allocation.h"

#include <cerrno>
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

long read_some(int fd, char* buffer, std::size_t count) {
#ifdef _WIN32
    unsigned chunk = count > (1u << 30) ? (1u << 30) : static_cast<unsigned>(count);
    return _read(fd, buffer, chunk);
#else
    return static_cast<long>(read(fd, buffer, count));
#endif
}

} // namespace

bool input_open(InputStream* in, const char* name, std::size_t block_size) {
    in->name = name;
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
    in->block_size = block_size > 0 ? block_size : 1;
    in->block = static_cast<char*>(checked_realloc(nullptr, in->block_size, NOT_ENOUGH_MEMORY));
    return true;
}

std::size_t input_read(InputStream* in) {
    for (;;) {
        long n = read_some(in->fd, in->block, in->block_size);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno == EINTR) continue;
        pack_fail_because(PACK_USAGE_INPUT_OR_MEMORY, "can't read ",
                          in->owns_fd ? in->name : "standard input", std::strerror(errno));
    }
}

void input_close(InputStream* in) {
    if (in->owns_fd && in->fd >= 0) close(in->fd);
    in->fd = -1;
    release(in->block);
    in->block = nullptr;
}
