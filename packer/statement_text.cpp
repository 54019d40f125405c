#include "packer/statement_text.h"

#include "packer/failure.h"
#include "platform/allocation.h"

#include <cstdlib>

namespace {

constexpr std::size_t FIRST_CAPACITY = 4096;

inline bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

} // namespace

void statement_start(StatementText* text) {
    text->data = nullptr;
    text->length = 0;
    text->capacity = 0;
}

void statement_free(StatementText* text) {
    release(text->data);
    statement_start(text);
}

void statement_grow(StatementText* text) {
    if (text->capacity >= STATEMENT_TEXT_MAX) {
        pack_fail(PACK_USAGE_INPUT_OR_MEMORY, "a statement is longer than 2147483647 bytes",
                  nullptr, "");
    }
    std::size_t capacity = text->capacity == 0 ? FIRST_CAPACITY : text->capacity * 2;
    if (capacity > STATEMENT_TEXT_MAX) capacity = STATEMENT_TEXT_MAX;
    text->data = static_cast<char*>(checked_realloc(text->data, capacity, NOT_ENOUGH_MEMORY));
    text->capacity = capacity;
}

void statement_trim(const StatementText* text, std::size_t end, std::size_t* first,
                    std::size_t* last) {
    std::size_t begin = 0;
    while (begin < end && is_space(text->data[begin])) ++begin;
    while (end > begin && is_space(text->data[end - 1])) --end;
    *first = begin;
    *last = end;
}
