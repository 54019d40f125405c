#include "output/output_file.h"

#include "output/output_platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

PendingFile* volatile pending_files = nullptr;

namespace {

// Bytes of the target's own name kept in the new file's name, so that the
// new name stays within the usual 255-byte limit of a directory entry.
constexpr std::size_t NAME_KEPT = 200;

// Names tried before giving up on a directory full of our leftovers.
constexpr int NAME_TRIES = 100;

unsigned long names_made = 0; // counter in new files' names

bool same_file(const FileIdentity& a, const FileIdentity& b) {
    return a.volume == b.volume && a.index == b.index;
}

bool is_an_input(const FileIdentity& identity, const FileIdentity* inputs, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (same_file(identity, inputs[i])) return true;
    }
    return false;
}

// Standard output and standard error by the names that mean them; -1 for
// any other name. They are written in place: renaming over /dev/stdout
// would replace the system's link, not the file behind it.
int standard_stream(const char* target) {
    if (std::strcmp(target, "-") == 0 || std::strcmp(target, "/dev/stdout") == 0) return 1;
    if (std::strcmp(target, "/dev/stderr") == 0) return 2;
    return -1;
}

bool is_separator(char c) {
#ifdef _WIN32
    return c == '/' || c == '\\' || c == ':';
#else
    return c == '/';
#endif
}

char* append(char* p, const char* text, std::size_t length) {
    std::memcpy(p, text, length);
    return p + length;
}

char* append_number(char* p, unsigned long value) {
    char digits[24];
    std::size_t n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0) *p++ = digits[--n];
    return p;
}

// A pending file for "DIR/.NAME.PID-N.tmp", with DIR/NAME the target; null
// when memory is short.
PendingFile* new_pending_file(const char* target) {
    std::size_t length = std::strlen(target);
    std::size_t base = length;
    while (base > 0 && !is_separator(target[base - 1])) --base;
    std::size_t name = length - base < NAME_KEPT ? length - base : NAME_KEPT;
    std::size_t size = sizeof(PendingFile) + base + 1 + name + 1 + 20 + 1 + 20 + 4 + 1;
    auto* file = static_cast<PendingFile*>(std::malloc(size));
    if (file == nullptr) return nullptr;
    file->next = nullptr;
    file->fd = -1;
    file->doomed = false;
    file->path = reinterpret_cast<char*>(file + 1);
    char* p = append(file->path, target, base);
    p = append(p, ".", 1);
    p = append(p, target + base, name);
    p = append(p, ".", 1);
    p = append_number(p, process_number());
    p = append(p, "-", 1);
    p = append_number(p, ++names_made);
    p = append(p, ".tmp", 4);
    *p = '\0';
    return file;
}

void add_pending(PendingFile* file) {
    file->next = pending_files;
    pending_files = file;
}

void remove_pending(PendingFile* file) {
    for (PendingFile* volatile* link = &pending_files; *link != nullptr; link = &(*link)->next) {
        if (*link == file) {
            *link = file->next;
            break;
        }
    }
    std::free(file);
}

// Creates the new file beside the target, trying further names while the
// ones made are taken.
OutputResult open_new_file(OutputFile* out) {
    for (int attempt = 0; attempt < NAME_TRIES; ++attempt) {
        PendingFile* file = new_pending_file(out->target);
        if (file == nullptr) {
            out->error = ENOMEM;
            return OUTPUT_CANT_OPEN;
        }
        // On the list before it exists, so that no signal can come between
        // its creation and its registration.
        add_pending(file);
        int error = 0;
        int fd = create_new_file(file, &error);
        if (fd >= 0) {
            out->fd = fd;
            out->pending = file;
            return OUTPUT_OK;
        }
        remove_pending(file);
        if (error != EEXIST) {
            out->error = error;
            return OUTPUT_CANT_OPEN;
        }
    }
    out->error = EEXIST;
    return OUTPUT_CANT_OPEN;
}

// Bytes of the directory part of `target` (up to and with its last
// separator).
std::size_t directory_length(const char* target) {
    std::size_t base = std::strlen(target);
    while (base > 0 && !is_separator(target[base - 1])) --base;
    return base;
}

// Whether two entry names are one: Windows folds case (of ASCII letters
// here, which is what names written on a command line mostly differ by).
bool same_name(const char* a, const char* b) {
#ifdef _WIN32
    for (;; ++a, ++b) {
        char x = *a >= 'A' && *a <= 'Z' ? static_cast<char>(*a - 'A' + 'a') : *a;
        char y = *b >= 'A' && *b <= 'Z' ? static_cast<char>(*b - 'A' + 'a') : *b;
        if (x != y) return false;
        if (x == '\0') return true;
    }
#else
    return std::strcmp(a, b) == 0;
#endif
}

// The identity of the directory part of `target`, "." when it has none; a
// drive prefix ("C:") names the drive's current directory.
bool identity_of_parent(const char* target, FileIdentity* identity) {
    std::size_t length = directory_length(target);
    char* directory = static_cast<char*>(std::malloc(length + 2));
    if (directory == nullptr) return false;
    std::memcpy(directory, target, length);
    if (length == 0 || target[length - 1] == ':') directory[length++] = '.';
    directory[length] = '\0';
    bool known = identity_of_directory(directory, identity);
    std::free(directory);
    return known;
}

} // namespace

bool same_output_target(const char* a, const char* b) {
    int stream_a = standard_stream(a);
    int stream_b = standard_stream(b);
    if (stream_a >= 0 || stream_b >= 0) return stream_a == stream_b;
    if (std::strcmp(a, b) == 0) return true;
    if (!same_name(a + directory_length(a), b + directory_length(b))) return false;
    FileIdentity parent_a;
    FileIdentity parent_b;
    // A directory that cannot be found makes that output fail when it opens.
    return identity_of_parent(a, &parent_a) && identity_of_parent(b, &parent_b) &&
           same_file(parent_a, parent_b);
}

OutputResult output_open(OutputFile* out, const char* target, const FileIdentity* inputs,
                         std::size_t input_count) {
    out->target = target;
    out->fd = -1;
    out->direct = false;
    out->owns_fd = false;
    out->pending = nullptr;
    out->error = 0;

    int stream = standard_stream(target);
    if (stream >= 0) {
        FileIdentity identity;
        if (identity_of_descriptor(stream, &identity) &&
            is_an_input(identity, inputs, input_count)) {
            return OUTPUT_IS_INPUT;
        }
        out->fd = stream;
        out->direct = true;
        return OUTPUT_OK;
    }
    if (*target == '\0') {
        out->error = ENOENT;
        return OUTPUT_CANT_OPEN;
    }

    TargetInfo info = inspect_target(target);
    if (info.has_identity && is_an_input(info.identity, inputs, input_count)) {
        return OUTPUT_IS_INPUT;
    }
    switch (info.kind) {
    case TARGET_FAILED:
        out->error = info.error;
        return OUTPUT_CANT_OPEN;
    case TARGET_DIRECT:
        out->fd = open_direct(target, &out->error);
        if (out->fd < 0) return OUTPUT_CANT_OPEN;
        out->direct = true;
        out->owns_fd = true;
        return OUTPUT_OK;
    case TARGET_NEW:
    case TARGET_REPLACE:
        break;
    }
    install_cleanup();
    return open_new_file(out);
}

bool output_write(OutputFile* out, const void* data, std::size_t length) {
    if (out->fd < 0) {
        out->error = EBADF;
        return false;
    }
    return write_fully(out->fd, data, length, &out->error);
}

OutputResult output_commit(OutputFile* out) {
    bool done = true;
    if (out->pending != nullptr) {
        done = put_in_place(out->pending, out->target, &out->error);
        if (!done) discard_file(out->pending);
        remove_pending(out->pending);
        out->pending = nullptr;
    } else if (out->owns_fd) {
        done = close_direct(out->fd, &out->error);
    }
    out->fd = -1;
    out->owns_fd = false;
    return done ? OUTPUT_OK : OUTPUT_CANT_WRITE;
}

void output_abort(OutputFile* out) {
    if (out->pending != nullptr) {
        discard_file(out->pending);
        remove_pending(out->pending);
        out->pending = nullptr;
    } else if (out->owns_fd) {
        int ignored;
        close_direct(out->fd, &ignored);
    }
    out->fd = -1;
    out->owns_fd = false;
}

void discard_all_pending() {
    for (PendingFile* file = pending_files; file != nullptr; file = file->next) discard_file(file);
}

const char* output_error_text(const OutputFile* out) {
    return std::strerror(out->error);
}
