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

// The parse's shortcuts past the plain table loop, each kept for what it is
// worth on the benchmark (parser.cpp gives the figures). Both are on; a test
// turns them off to check the parse against its plain path, which gives the
// same text byte for byte.
struct ParseShortcuts {
    bool token_loop;       // the list state's tokens in a loop of their own, not the tables
    bool reduction_chains; // the end-of-text reductions of the list in one loop, not one by one
};
extern ParseShortcuts parse_shortcuts;
