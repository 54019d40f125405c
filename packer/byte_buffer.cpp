#include "packer/byte_buffer.h"

#include "platform/allocation.h"

#include <cstring>

bool buffer_reserve(ByteBuffer* buffer, std::size_t total) {
    if (total <= buffer->capacity) return true;
    // Doubling keeps appends linear in the bytes appended; the first block
    // is large enough that short texts never grow twice.
    std::size_t capacity = buffer->capacity < 256 ? 256 : buffer->capacity;
    while (capacity < total) {
        if (capacity > static_cast<std::size_t>(-1) / 2) {
            capacity = total;
            break;
        }
        capacity *= 2;
    }
    void* block = optional_realloc(buffer->data, capacity);
    if (block == nullptr) return false;
    buffer->data = static_cast<char*>(block);
    buffer->capacity = capacity;
    return true;
}

bool buffer_append(ByteBuffer* buffer, const char* bytes, std::size_t length) {
    if (length == 0) return true;
    if (length > static_cast<std::size_t>(-1) - buffer->size) return false;
    if (!buffer_reserve(buffer, buffer->size + length)) return false;
    std::memcpy(buffer->data + buffer->size, bytes, length);
    buffer->size += length;
    return true;
}

bool buffer_assign(ByteBuffer* buffer, const char* bytes, std::size_t length) {
    buffer->size = 0;
    return buffer_append(buffer, bytes, length);
}

void buffer_free(ByteBuffer* buffer) {
    release(buffer->data);
    buffer->data = nullptr;
    buffer->size = 0;
    buffer->capacity = 0;
}
