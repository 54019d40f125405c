// The text of the statement being gathered: a buffer that grows as bytes
// arrive, so that memory follows the longest statement, not the input. A
// statement that cannot be held ends the run: "Not enough memory" (status
// 1), or a message when it would pass the record format's 2147483647 bytes.
#pragma once

#include <cstddef>

// Longest text a record can carry (its length is a signed 32-bit value).
constexpr std::size_t STATEMENT_TEXT_MAX = 2147483647;

struct StatementText {
    char* data;           // owned; null until the first byte
    std::size_t length;   // bytes gathered
    std::size_t capacity; // bytes allocated
};

void statement_start(StatementText* text); // an empty text, nothing allocated
void statement_free(StatementText* text);

// Makes room for one more byte.
void statement_grow(StatementText* text);

inline void statement_add(StatementText* text, int byte) {
    if (text->length == text->capacity) statement_grow(text);
    text->data[text->length++] = static_cast<char>(byte);
}

// The bounds of text[0..end) without the white space (blank, tab, LF, CR,
// VT, FF) at either end; *first == *last when nothing is left.
void statement_trim(const StatementText* text, std::size_t end, std::size_t* first,
                    std::size_t* last);
