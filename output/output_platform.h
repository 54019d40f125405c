// Inside the output module: what output_file.cpp asks of the system, with
// one implementation per platform (output_posix.cpp, output_windows.cpp).
// Every function reports failures as errno values.
#pragma once

#include "output/output_file.h"

struct PendingFile {
    PendingFile* next; // towards older pending files
    int fd;            // open descriptor of the new file, -1 once closed
    bool doomed;       // Windows: the system deletes the file when it is closed
    char* path;        // its name; stored in the same allocation, after the record
};

// Head of the list of pending files. Written only outside signal handlers,
// one pointer store at a time, so that a handler always finds a whole list.
extern PendingFile* volatile pending_files;

enum TargetKind {
    TARGET_NEW,     // nothing there (or the directory is missing: creating will say)
    TARGET_REPLACE, // a regular file, or a link, to be replaced by the new file
    TARGET_DIRECT,  // a FIFO or a character device, written in place
    TARGET_FAILED,  // cannot be an output: `error`
};

struct TargetInfo {
    TargetKind kind;
    int error;
    bool has_identity;
    FileIdentity identity; // of the file the name resolves to
};

TargetInfo inspect_target(const char* target);

// The identity of the directory `path` names (links followed); false when
// it names none.
bool identity_of_directory(const char* path, FileIdentity* identity);

// Opens a FIFO or device found by inspect_target; -1 with *error on failure.
int open_direct(const char* target, int* error);

// Creates file->path exclusively for writing, mode 0600, and sets file->fd;
// -1 with *error (EEXIST when the name is taken). Sets file->doomed where
// the platform can have the file deleted when it is closed.
int create_new_file(PendingFile* file, int* error);

// Writes the whole buffer, retrying short and interrupted writes.
bool write_fully(int fd, const void* data, std::size_t length, int* error);

// Flushes and closes the new file and renames it over the target.
bool put_in_place(PendingFile* file, const char* target, int* error);

// Closes (if open) and removes the new file; safe in a signal handler on
// POSIX systems.
void discard_file(PendingFile* file);

// Closes a descriptor opened by open_direct.
bool close_direct(int fd, int* error);

// Discards every pending file: at exit and on a signal.
void discard_all_pending();

// Registers the clean-up at exit (and of signals, where there are any).
void install_cleanup();

// Process id, for names of new files.
unsigned long process_number();
