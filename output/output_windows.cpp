// The output module on Windows: the target is opened without following a
// reparse point to learn what it is, the new file is marked for deletion
// from its creation until its commit (so the system removes it however the
// process ends), and MoveFileExA puts it in place, replacing a link at the
// target rather than following it.
#include "output/output_platform.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace {

// Win32 errors as the errno values the messages show.
struct ErrorMapping {
    DWORD win32;
    int posix;
};
const ErrorMapping ERROR_MAP[] = {
    {ERROR_FILE_NOT_FOUND, ENOENT},
    {ERROR_PATH_NOT_FOUND, ENOENT},
    {ERROR_INVALID_NAME, ENOENT},
    {ERROR_BAD_PATHNAME, ENOENT},
    {ERROR_INVALID_DRIVE, ENOENT},
    {ERROR_ACCESS_DENIED, EACCES},
    {ERROR_SHARING_VIOLATION, EACCES},
    {ERROR_LOCK_VIOLATION, EACCES},
    {ERROR_WRITE_PROTECT, EROFS},
    {ERROR_DISK_FULL, ENOSPC},
    {ERROR_HANDLE_DISK_FULL, ENOSPC},
    {ERROR_FILE_EXISTS, EEXIST},
    {ERROR_ALREADY_EXISTS, EEXIST},
    {ERROR_NOT_ENOUGH_MEMORY, ENOMEM},
    {ERROR_OUTOFMEMORY, ENOMEM},
    {ERROR_DIRECTORY, ENOTDIR},
    {ERROR_BROKEN_PIPE, EPIPE},
    {ERROR_NO_DATA, EPIPE},
    {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG},
};

int posix_error(DWORD error) {
    for (const ErrorMapping& m : ERROR_MAP) {
        if (m.win32 == error) return m.posix;
    }
    return EIO;
}

constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

FileIdentity identity_of(const BY_HANDLE_FILE_INFORMATION& info) {
    return {info.dwVolumeSerialNumber,
            static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
}

// The identity of an open handle to a regular file on a disk.
bool identity_of_handle(HANDLE handle, FileIdentity* identity) {
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return false;
    }
    *identity = identity_of(info);
    return true;
}

// Marks the file for deletion at its last close, or clears the mark.
bool set_doomed(HANDLE handle, bool doomed) {
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = doomed ? TRUE : FALSE;
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

extern "C" void at_exit_cleanup() {
    discard_all_pending();
}

bool cleanup_installed = false;

} // namespace

bool identity_of_path(const char* path, FileIdentity* identity) {
    HANDLE handle = CreateFileA(path, 0, SHARE_ALL, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    bool known = identity_of_handle(handle, identity);
    CloseHandle(handle);
    return known;
}

bool identity_of_directory(const char* path, FileIdentity* identity) {
    // Only with backup semantics does CreateFile open a directory.
    HANDLE handle = CreateFileA(path, 0, SHARE_ALL, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool known = GetFileInformationByHandle(handle, &info) &&
                 (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    CloseHandle(handle);
    if (known) *identity = identity_of(info);
    return known;
}

bool identity_of_descriptor(int fd, FileIdentity* identity) {
    auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    return handle != INVALID_HANDLE_VALUE && identity_of_handle(handle, identity);
}

/*
 * 1. The name itself, a reparse point (a link) not followed. Nothing there:
 *    a new file (a missing directory shows when the file is created).
 * 2. Not on a disk (NUL, CON, a pipe): written in place.
 * 3. A link: what it leads to decides only whether it is an input or a
 *    device; the link itself is replaced.
 * 4. A directory cannot be an output.
 */
TargetInfo inspect_target(const char* target) {
    TargetInfo info = {TARGET_NEW, 0, false, {0, 0}};
    HANDLE handle = CreateFileA(target, 0, SHARE_ALL, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                nullptr); // 1.
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            info.kind = TARGET_FAILED;
            info.error = posix_error(error);
        }
        return info;
    }
    BY_HANDLE_FILE_INFORMATION entry;
    if (GetFileType(handle) != FILE_TYPE_DISK) { // 2.
        CloseHandle(handle);
        info.kind = TARGET_DIRECT;
        return info;
    }
    if (!GetFileInformationByHandle(handle, &entry)) {
        info.kind = TARGET_FAILED;
        info.error = posix_error(GetLastError());
        CloseHandle(handle);
        return info;
    }
    CloseHandle(handle);
    info.kind = TARGET_REPLACE;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) { // 3.
        HANDLE resolved = CreateFileA(target, 0, SHARE_ALL, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (resolved != INVALID_HANDLE_VALUE) {
            if (GetFileType(resolved) != FILE_TYPE_DISK) info.kind = TARGET_DIRECT;
            info.has_identity = identity_of_handle(resolved, &info.identity);
            CloseHandle(resolved);
        }
        return info;
    }
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) { // 4.
        info.kind = TARGET_FAILED;
        info.error = EISDIR;
        return info;
    }
    info.has_identity = true;
    info.identity = identity_of(entry);
    return info;
}

int open_direct(const char* target, int* error) {
    HANDLE handle = CreateFileA(target, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = posix_error(GetLastError());
        return -1;
    }
    if (GetFileType(handle) == FILE_TYPE_DISK) { // replaced since inspected: never in place
        CloseHandle(handle);
        *error = EAGAIN;
        return -1;
    }
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        *error = EMFILE;
        CloseHandle(handle);
    }
    return fd;
}

int create_new_file(PendingFile* file, int* error) {
    // DELETE access and FILE_SHARE_DELETE let the deletion mark be set and
    // cleared through this handle. The new file takes the permissions the
    // directory gives new files.
    HANDLE handle =
        CreateFileA(file->path, GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = posix_error(GetLastError());
        return -1;
    }
    file->doomed = set_doomed(handle, true);
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        if (!file->doomed) DeleteFileA(file->path);
        *error = EMFILE;
        return -1;
    }
    file->fd = fd;
    return fd;
}

bool write_fully(int fd, const void* data, std::size_t length, int* error) {
    const char* p = static_cast<const char*>(data);
    while (length > 0) {
        unsigned chunk = length > (1u << 30) ? (1u << 30) : static_cast<unsigned>(length);
        int n = _write(fd, p, chunk);
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
 * 1. The data reach the disk before the name does.
 * 2. The deletion mark is cleared only now: until here any ending of the
 *    process removes the file.
 * 3. MoveFileExA replaces the target's entry (a link too) with the new file.
 */
bool put_in_place(PendingFile* file, const char* target, int* error) {
    auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(file->fd));
    if (!FlushFileBuffers(handle) || (file->doomed && !set_doomed(handle, false))) { // 1. 2.
        *error = posix_error(GetLastError());
        return false;
    }
    file->doomed = false;
    int fd = file->fd;
    file->fd = -1;
    if (_close(fd) != 0) {
        *error = errno;
        return false;
    }
    if (!MoveFileExA(file->path, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        *error = posix_error(GetLastError()); // 3.
        return false;
    }
    return true;
}

void discard_file(PendingFile* file) {
    if (file->fd >= 0) {
        _close(file->fd);
        file->fd = -1;
    }
    if (!file->doomed) DeleteFileA(file->path);
}

bool close_direct(int fd, int* error) {
    if (_close(fd) != 0) {
        *error = errno;
        return false;
    }
    return true;
}

void install_cleanup() {
    if (cleanup_installed) return;
    cleanup_installed = true;
    std::atexit(at_exit_cleanup);
}

unsigned long process_number() {
    return GetCurrentProcessId();
}
