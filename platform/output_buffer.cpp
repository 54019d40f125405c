#include "platform/output_buffer.h"

#include "platform/allocation.h"
#include "platform/digits.h"
#include "platform/system_calls.h"

#include <cstring>

void out_open(OutBuffer* out, int fd) {
    char* data = static_cast<char*>(checked_realloc(nullptr, OUT_BUFFER_SIZE, NOT_ENOUGH_MEMORY));
    out_open_on(out, fd, data, OUT_BUFFER_SIZE);
    out->owned = true;
}

void out_open_on(OutBuffer* out, int fd, char* storage, std::size_t size) {
    *out = OutBuffer{fd, storage, 0, size, false, false};
}

namespace {

void drain(OutBuffer* out) {
    if (!out->failed && !write_all(out->fd, out->data, out->used)) out->failed = true;
    out->used = 0;
}

// Makes room for `length` bytes: a memory buffer grows, a descriptor's is
// written out. False when the bytes are too many for a descriptor's buffer
// and must be written directly.
bool make_room(OutBuffer* out, std::size_t length) {
    if (out->capacity - out->used >= length) return true;
    if (out->fd == OUT_MEMORY) {
        while (out->capacity - out->used < length) out->capacity *= 2;
        out->data =
            static_cast<char*>(checked_realloc(out->data, out->capacity, NOT_ENOUGH_MEMORY));
        return true;
    }
    drain(out);
    return length <= out->capacity;
}

} // namespace

void out_bytes(OutBuffer* out, const char* bytes, std::size_t length) {
    if (!make_room(out, length)) {
        if (!out->failed && !write_all(out->fd, bytes, length)) out->failed = true;
        return;
    }
    std::memcpy(out->data + out->used, bytes, length);
    out->used += length;
}

void out_make_room(OutBuffer* out, std::size_t length) {
    make_room(out, length);
}

void out_text(OutBuffer* out, const char* text) {
    out_bytes(out, text, std::strlen(text));
}

void out_number(OutBuffer* out, std::int64_t value) {
    char digits[DECIMAL_MOST];
    char* first = format_decimal(value, digits + sizeof digits);
    out_bytes(out, first, static_cast<std::size_t>(digits + sizeof digits - first));
}

bool out_close(OutBuffer* out) {
    if (out->fd != OUT_MEMORY) drain(out);
    if (out->owned) release(out->data);
    out->data = nullptr;
    out->capacity = 0;
    return !out->failed;
}
