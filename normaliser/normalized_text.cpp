#include "normaliser/normalized_text.h"

#include "normaliser/upper_case.h"
#include "platform/allocation.h"

#include <cstring>

char* normalized_text = nullptr;
std::size_t normalized_length = 0;

namespace {

// The growing normalised text. It grows geometrically and is reused by every
// statement, so an append copies only the new bytes. `capacity` leaves out
// the WORD_SLACK bytes behind it.
struct TextBuffer {
    char* data;
    std::size_t length;
    std::size_t capacity;
};
TextBuffer text_buffer = {nullptr, 0, 0};

void reserve_text(std::size_t needed) {
    if (needed <= text_buffer.capacity) return;
    std::size_t capacity = text_buffer.capacity < 256 ? 256 : text_buffer.capacity;
    while (capacity < needed) capacity *= 2;
    text_buffer.data = static_cast<char*>(
        checked_realloc(text_buffer.data, capacity + WORD_SLACK, NOT_ENOUGH_MEMORY));
    text_buffer.capacity = capacity;
}

} // namespace

TextWriter resume_text(std::size_t room) {
    std::size_t used = normalized_text != nullptr ? text_buffer.length : 0;
    reserve_text(used + room + 1); // and the NUL
    return TextWriter{text_buffer.data, text_buffer.data + used,
                      text_buffer.data + text_buffer.capacity - 1};
}

void grow_text(TextWriter& w, std::size_t room) {
    auto used = static_cast<std::size_t>(w.out - w.start);
    reserve_text(used + room + 1);
    w.start = text_buffer.data;
    w.out = text_buffer.data + used;
    w.end = text_buffer.data + text_buffer.capacity - 1;
}

void finish_text(const TextWriter& w) {
    text_buffer.length = static_cast<std::size_t>(w.out - w.start);
    text_buffer.data[text_buffer.length] = '\0';
    normalized_text = text_buffer.data;
    normalized_length = text_buffer.length;
}

void append_token_text(const char* text) {
    std::size_t length = std::strlen(text);
    TextWriter w = resume_text(length + 1);
    append_bytes(w, text, length);
    finish_text(w);
}

void release_normalized_text() {
    normalized_text = nullptr;
    normalized_length = 0;
    text_buffer.length = 0;
}
