// The one way the programs write an output file. An output appears only once
// it is whole, never overwrites an input and never writes through a link it
// did not expect:
//
//   output_open    a regular file, a symbolic link or nothing at the target:
//                  a new file (mode 0600) is created beside it, in the
//                  target's directory; standard output ("-", /dev/stdout), a
//                  FIFO or a character device is written directly
//   output_write   bytes to the new file (or the direct target)
//   output_commit  the new file is flushed, closed and renamed over the
//                  target in one step: a link at the target is replaced,
//                  never followed, and an existing file is replaced whole
//                  (so it takes the new file's mode)
//   output_abort   the new file is removed; the target is as it was
//
// A target that is the same file as an input (same device and inode, or
// same volume and file index on Windows; through a link, a hard link or
// another spelling of the path alike) is refused before anything is created.
//
// Any number of outputs may be open at once. Until it is committed or
// aborted, each new file is on a process-wide list: the process's exit
// (through exit()), and on POSIX systems SIGHUP, SIGINT, SIGPIPE, SIGTERM and
// SIGXFSZ, remove every file on it, so an interrupted or failed run leaves
// nothing behind (signals that were ignored when the first output opened
// stay ignored). On Windows the new file is marked for deletion from its
// creation until its commit, so the system removes it however the process
// ends. Only SIGKILL and power loss can leave one, named
// ".NAME.PID-N.tmp" beside NAME.
#pragma once

#include <cstddef>
#include <cstdint>

// What makes two names the same file.
struct FileIdentity {
    std::uint64_t volume; // st_dev; the volume serial number on Windows
    std::uint64_t index;  // st_ino; the file index on Windows
};

// The identity of the file `path` names (links followed), or of an open
// descriptor. False when there is none to compare: the name does not
// resolve, or the descriptor is a pipe, terminal or device, which no output
// can replace.
bool identity_of_path(const char* path, FileIdentity* identity);
bool identity_of_descriptor(int fd, FileIdentity* identity);

enum OutputResult {
    OUTPUT_OK,
    OUTPUT_IS_INPUT,   // the target is one of the inputs: nothing was created
    OUTPUT_CANT_OPEN,  // the target cannot be written: `error` says why
    OUTPUT_CANT_WRITE, // bytes were refused, or the commit failed: `error` says why
};

// A new file not yet committed: its name and descriptor, on the
// process-wide list that exit and the signal handlers clean up. Owned by the
// output module.
struct PendingFile;

// One output file, the caller's record.
struct OutputFile {
    const char* target;   // the name as given; not owned
    int fd;               // descriptor written to, -1 when closed
    bool direct;          // written in place: standard output, FIFO or device
    bool owns_fd;         // fd was opened here (false for standard output)
    PendingFile* pending; // the new file; null when direct or done
    int error;            // errno value of the last failure (Windows errors mapped)
};

// Opens `target` for writing as described above; `inputs` are the
// identities of every file the run reads. On failure nothing is left open
// or created and `out->fd` is -1.
OutputResult output_open(OutputFile* out, const char* target, const FileIdentity* inputs,
                         std::size_t input_count);

// Writes all `length` bytes, retrying short writes; false (with `error`) when
// the file refuses them.
bool output_write(OutputFile* out, const void* data, std::size_t length);

// Finishes the output: OUTPUT_OK, or OUTPUT_CANT_WRITE when the data could
// not be flushed, closed or put in place, in which case the new file is
// removed and the target is as it was. Either way the output is done.
OutputResult output_commit(OutputFile* out);

// Gives the output up: the new file is removed (a direct target keeps what
// was written to it). Does nothing for an output that is already done.
void output_abort(OutputFile* out);

// Whether two targets are one output, so that a run writing both would have
// one commit replace the other's file: the same standard stream, or the same
// directory entry (one directory, one name), however spelled. Two names of
// one file (hard links, a link and what it leads to) are two entries, each
// replaced on its own, and so two outputs.
bool same_output_target(const char* a, const char* b);

// Text for `error`, as strerror gives it.
const char* output_error_text(const OutputFile* out);
