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

#include <cstddef>

// Deepest the parser stacks go. The start state takes one entry and every
// token read one more, so a statement of 1..4999 tokens is accepted and the
// 5000th token ends the run with "yacc stack overflow".
constexpr int PARSER_STACK_DEPTH = 5000;

extern const char SYNTAX_ERROR[];        // "syntax error"
extern const char YACC_STACK_OVERFLOW[]; // "yacc stack overflow"

// The normalised text of the statement just parsed, NUL-terminated, or null.
// It must be null when parse_statement is called. After a parse it holds the
// whole text (never empty) and normalized_length its length in bytes; the
// caller takes it and sets both back with release_normalized_text. The bytes
// live in a buffer the normaliser reuses from one statement to the next, so
// the pointer is only valid until the next parse.
extern char* normalized_text;
extern std::size_t normalized_length;

// Parses the statement at input_cursor and leaves its normalised text in
// normalized_text. Returns 0; a statement that cannot be parsed (no token at
// all, or 5000 tokens and more) ends the process through fatal_error.
int parse_statement();

// Appends one blank (unless the text is empty so far) and a copy of `text`.
void append_token_text(const char* text);

// Ends the use of normalized_text: it becomes null again.
void release_normalized_text();

// Writes `message` to standard error exactly as given (no line break added)
// and ends the process with status -1 through the normal exit, which flushes
// buffered output streams. The single way the normaliser stops the run.
[[noreturn]] void fatal_error(const char* message);
