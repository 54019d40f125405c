// A growable byte buffer that reports a refused allocation to its caller:
// every statement-sized piece of text in the packer lives in one, so that a
// statement too large for memory stops the packer, and the program ends the
// run with its message. Blocks come from the system-call seam
// (platform/allocation.h), where tests make the n-th allocation fail.
#pragma once

#include <cstddef>

struct ByteBuffer {
    char* data;           // owned bytes, or null before the first growth
    std::size_t size;     // bytes in use
    std::size_t capacity; // bytes allocated
};

// A view of bytes owned by someone else.
struct TextRef {
    const char* data;
    std::size_t length;
};

// Makes room for at least `total` bytes (contents kept); false when the
// allocation is refused, with the buffer unchanged.
bool buffer_reserve(ByteBuffer* buffer, std::size_t total);

// Appends `length` bytes; false (buffer unchanged) when refused.
bool buffer_append(ByteBuffer* buffer, const char* bytes, std::size_t length);

// Replaces the contents with `length` bytes.
bool buffer_assign(ByteBuffer* buffer, const char* bytes, std::size_t length);

// Releases the storage; the buffer is empty and usable again.
void buffer_free(ByteBuffer* buffer);

inline TextRef text_of(const ByteBuffer& buffer) {
    return TextRef{buffer.data, buffer.size};
}
