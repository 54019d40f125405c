// How many tokens litsieve's lexer cuts a statement into, counted with the
// lexer itself so that litpack and litsieve can never disagree. litsieve
// stops its whole run on a statement with no token ("syntax error") and on
// one of 5000 tokens or more ("yacc stack overflow"); litpack counts first
// and leaves such statements out.
#pragma once

#include <cstddef>

// Tokens that make the parser overflow: a statement needs fewer.
constexpr int TOKEN_LIMIT = 5000;

// Tokens of text[0..length), which is followed by a NUL (the lexer reads the
// text up to its first NUL, as litsieve does). Counting stops at `limit`.
int count_tokens(const char* text, std::size_t length, int limit);
