// Output gathered into large writes to a descriptor through `sys`, shared by
// litsieve's report and litrank's listings. A refused write is remembered,
// and later output dropped, so that a writer checks once, at the close.
#pragma once

#include <cstddef>
#include <cstdint>

// With fd OUT_MEMORY the bytes are only gathered (the buffer grows), which
// is how tests and litrank's summary read what was written.
constexpr int OUT_MEMORY = -2;
constexpr std::size_t OUT_BUFFER_SIZE = 64 * 1024;

struct OutBuffer {
    int fd;
    char* data;
    std::size_t used;
    std::size_t capacity;
    bool failed; // a write was refused; later output is dropped
    bool owned;  // data was allocated by out_open and is freed by out_close
};

// A buffer of OUT_BUFFER_SIZE bytes from the heap.
void out_open(OutBuffer* out, int fd);
// A buffer over the caller's `storage`, for output that must not allocate
// once it has started (litsieve's report, after its file is created).
void out_open_on(OutBuffer* out, int fd, char* storage, std::size_t size);

void out_bytes(OutBuffer* out, const char* bytes, std::size_t length);
void out_text(OutBuffer* out, const char* text); // NUL-terminated
void out_number(OutBuffer* out, std::int64_t value);

// Room for `length` bytes (at most the buffer's size) at the end of the
// gathered bytes, writing out what is gathered first if need be. The caller
// lays its bytes down there and then advances out->used past them.
void out_make_room(OutBuffer* out, std::size_t length);
inline char* out_room(OutBuffer* out, std::size_t length) {
    if (out->capacity - out->used < length) out_make_room(out, length);
    return out->data + out->used;
}

// Writes what is gathered; false if any write was refused. Frees a buffer
// of out_open.
bool out_close(OutBuffer* out);
