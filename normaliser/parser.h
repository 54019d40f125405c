// The statement grammar and the normalised text. A statement is one or more
// tokens of any kind; its normalised text lists them in input order joined by
// single blanks, words upper-cased (a-z only) and literals replaced by the
// placeholders ":S", ":N" and ":D".
//
//   statement   : list_tokens                      (rule 1)
//   list_tokens : token                            (rule 2)
//               | token list_tokens                (rule 3)
//   token       : TOKEN                            (rule 4, its text upper-cased)
//               | STRING_CONSTANT                  (rule 5, ":S")
//               | NUMBER_CONSTANT                  (rule 6, ":N")
//               | DATE_CONSTANT                    (rule 7, ":D")
#pragma once

#include "normaliser/fatal_error.h"
#include "normaliser/normalized_text.h"

// Deepest the parser stacks go. The start state takes one entry and every
// token read one more, so a statement of 1..4999 tokens is accepted and the
// 5000th token ends the run with "yacc stack overflow".
constexpr int PARSER_STACK_DEPTH = 5000;

// Parses the statement at input_cursor and leaves its normalised text in
// normalized_text. Returns 0; a statement that cannot be parsed (no token at
// all, or 5000 tokens and more) ends the process through fatal_error.
int parse_statement();

// Bytes normalize_into may write for a statement of up to `length` bytes:
// the most its normalised text can take, and the slack of word-wise copies.
std::size_t normalize_room(std::size_t length);

// The same parse for a caller that keeps the texts of many statements: the
// statement `text` (NUL-terminated, at most `length` bytes before its NUL)
// is normalised into `out`, which has room for normalize_room(length)
// bytes; *written is its length, without a NUL. Returns null, or the
// message ("syntax error", "yacc stack overflow") with which the run must
// end when the statement's turn comes; the run is not ended here. Uses only
// this thread's normaliser state and allocates nothing, so that several
// threads normalise at once.
const char* normalize_into(const char* text, std::size_t length, char* out, std::size_t* written);

// The parse's shortcuts past the plain table loop, each kept for what it is
// worth on the benchmark (parser.cpp gives the figures). Both are on; a test
// turns them off to check the parse against its plain path, which gives the
// same text byte for byte.
struct ParseShortcuts {
    bool token_loop;       // the list state's tokens in a loop of their own, not the tables
    bool reduction_chains; // the end-of-text reductions of the list in one loop, not one by one
};
extern ParseShortcuts parse_shortcuts;
