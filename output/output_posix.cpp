// The output module on POSIX systems: lstat decides what the target is,
// rename(2) puts the new file in place (replacing a link at the target, not
// following it), and a handler of the terminating signals removes pending
// files before the signal takes its usual course.
#include "output/output_platform.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef O_BINARY
#define O_BINARY 0 // only Windows runtimes translate line ends
#endif

namespace {

FileIdentity identity_of(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

// The signals that end a process by default and that a user or a pipeline
// sends to a run: hang-up, Ctrl-C, a reader gone, kill's default, a file
// size limit.
const int CLEANUP_SIGNALS[] = {SIGHUP, SIGINT, SIGPIPE, SIGTERM, SIGXFSZ};

extern "C" void on_terminating_signal(int signal_number) {
    int saved = errno;
    discard_all_pending();
    // The handler was installed with SA_RESETHAND: the signal, raised again,
    // is delivered once this handler returns and ends the process as it
    // would have without us.
    raise(signal_number);
    errno = saved;
}

extern "C" void at_exit_cleanup() {
    discard_all_pending();
}

bool cleanup_installed = false;

} // namespace

bool identity_of_path(const char* path, FileIdentity* identity) {
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    *identity = identity_of(st);
    return true;
}

bool identity_of_directory(const char* path, FileIdentity* identity) {
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    *identity = identity_of(st);
    return true;
}

bool identity_of_descriptor(int fd, FileIdentity* identity) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    *identity = identity_of(st);
    return true;
}

TargetInfo inspect_target(const char* target) {
    TargetInfo info = {TARGET_NEW, 0, false, {0, 0}};
    struct stat entry;
    if (lstat(target, &entry) != 0) {
        if (errno != ENOENT) {
            info.kind = TARGET_FAILED;
            info.error = errno;
        }
        return info;
    }
    struct stat resolved = entry;
    if (S_ISLNK(entry.st_mode) && stat(target, &resolved) != 0) {
        info.kind = TARGET_REPLACE; // a dangling link: replaced like any other
        return info;
    }
    if (S_ISREG(resolved.st_mode)) {
        info.kind = TARGET_REPLACE;
        info.has_identity = true;
        info.identity = identity_of(resolved);
    } else if (S_ISDIR(resolved.st_mode)) {
        info.kind = TARGET_FAILED;
        info.error = EISDIR;
    } else {
        info.kind = TARGET_DIRECT;
    }
    return info;
}

int open_direct(const char* target, int* error) {
    int fd = open(target, O_WRONLY | O_NOCTTY | O_CLOEXEC | O_BINARY);
    if (fd < 0) {
        *error = errno;
        return -1;
    }
    // Replaced by a regular file since it was inspected: such a file is
    // never written in place, so the run fails (a run started again takes
    // the new-file way).
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISREG(st.st_mode)) {
        close(fd);
        *error = EAGAIN;
        return -1;
    }
    return fd;
}

int create_new_file(PendingFile* file, int* error) {
    int fd =
        open(file->path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_BINARY, 0600);
    if (fd < 0) {
        *error = errno;
        return -1;
    }
    file->fd = fd;
    return fd;
}

bool write_fully(int fd, const void* data, std::size_t length, int* error) {
    const char* p = static_cast<const char*>(data);
    while (length > 0) {
        ssize_t n = write(fd, p, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *error = n < 0 ? errno : EIO;
            return false;
        }
        p += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

/*
 * 1. The data reach the disk before the name does (fsync), so that after a
 *    crash the target is the old file or the whole new one. File systems
 *    that cannot sync (EINVAL, EROFS: pseudo file systems) are not failures.
 * 2. close reports the write errors some file systems keep until then.
 * 3. rename replaces whatever the target's entry is, in one step.
 * 4. The directory is synced so that the rename itself survives a crash;
 *    best effort.
 */
bool put_in_place(PendingFile* file, const char* target, int* error) {
    int fd = file->fd;
    file->fd = -1;
    if (fsync(fd) != 0 && errno != EINVAL && errno != EROFS) { // 1.
        *error = errno;
        close(fd);
        return false;
    }
    if (close(fd) != 0) { // 2.
        *error = errno;
        return false;
    }
    if (std::rename(file->path, target) != 0) { // 3.
        *error = errno;
        return false;
    }
    std::size_t base = std::strlen(target); // 4.
    while (base > 0 && target[base - 1] != '/') --base;
    char* directory = static_cast<char*>(std::malloc(base + 2));
    if (directory != nullptr) {
        std::memcpy(directory, base > 0 ? target : ".", base > 0 ? base : 1);
        directory[base > 0 ? base : 1] = '\0';
        int dir = open(directory, O_RDONLY | O_CLOEXEC);
        if (dir >= 0) {
            fsync(dir);
            close(dir);
        }
        std::free(directory);
    }
    return true;
}

void discard_file(PendingFile* file) {
    if (file->fd >= 0) {
        close(file->fd);
        file->fd = -1;
    }
    unlink(file->path);
}

bool close_direct(int fd, int* error) {
    if (close(fd) != 0) {
        *error = errno;
        return false;
    }
    return true;
}

void install_cleanup() {
    if (cleanup_installed) return;
    cleanup_installed = true;
    std::atexit(at_exit_cleanup);
    for (int signal_number : CLEANUP_SIGNALS) {
        struct sigaction old;
        if (sigaction(signal_number, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) continue;
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = on_terminating_signal;
        action.sa_flags = static_cast<int>(SA_RESETHAND); // an unsigned constant in glibc
        sigemptyset(&action.sa_mask);
        // The other terminating signals wait while pending files are removed.
        for (int other : CLEANUP_SIGNALS) sigaddset(&action.sa_mask, other);
        sigaction(signal_number, &action, nullptr);
    }
}

unsigned long process_number() {
    return static_cast<unsigned long>(getpid());
}
