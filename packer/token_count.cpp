#include "packer/token_count.h"

#include "normaliser/lexer.h"

int count_tokens(const char* text, std::size_t length, int limit) {
    // The lexer keeps its cursor in globals; they are the packer's for the
    // duration of the call (litpack runs no parse of its own).
    input_cursor = text;
    input_limit = text + length + 1;
    int tokens = 0;
    while (tokens < limit && next_token() != END_OF_TEXT) ++tokens;
    input_cursor = nullptr;
    input_limit = nullptr;
    return tokens;
}
