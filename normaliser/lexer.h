// The SQL lexer: cuts one statement text into tokens for the statement
// grammar. It knows no keywords and no operators; the only distinctions it
// makes are the ones the normaliser needs, namely which tokens are literals
// and of which kind. Every byte sequence cuts into tokens: there are no
// lexical errors.
#pragma once

#include <cstddef>

// Token codes returned by next_token. Single-character tokens are not their
// own byte value here: every word, comment and other character is TOKEN.
// ORDER TOKEN CODES: the placeholder table and the grammar's terminal
// numbering in parser.cpp are in step with this enumeration.
enum TokenCode : int {
    END_OF_TEXT = 0,       // the NUL that ends the text
    TOKEN = 257,           // identifier or word, comment, or any other single byte
    STRING_CONSTANT = 258, // quoted string literal whose body is not a date
    NUMBER_CONSTANT = 259, // numeric literal
    DATE_CONSTANT = 260,   // quoted string literal whose body is a date
};

// The lexer's and the parser's state belongs to one statement at a time on
// each thread: litsieve normalises on several threads at once (the
// analyzer's statement pipeline), each with its own cursor, parser and text.

// Next unread byte of the current statement. The statement is a
// NUL-terminated byte string; its first NUL ends it. process_statement sets
// it before each parse; afterwards only next_token moves it, always forwards.
// The lexer never writes into the text.
extern thread_local const char* input_cursor;

// One past the last byte of the current statement that may be read (its
// terminating NUL included), or null when not known. Within it the lexer and
// the normaliser read ahead several bytes at a time; it never changes what a
// token is. parse_statement sets it for the statement it parses.
extern thread_local const char* input_limit;

// Text of the last TOKEN: token_length bytes starting at token_text. It
// points into the statement text itself (the statement outlives its parse),
// so producing a token allocates nothing. Set only when next_token returns
// TOKEN; the parser uses it before it asks for the next token.
extern thread_local const char* token_text;
extern thread_local std::size_t token_length;

// The twelve month abbreviations, in calendar order.
extern const char* const month_abbreviations[12];

// Returns the code of the token at input_cursor and leaves the cursor on the
// first byte after it. At the end of the text it returns END_OF_TEXT, and
// keeps doing so on every further call.
int next_token();

// Whether a string literal's body (NUL-terminated) reads as a date:
// [spaces][+|-]day(0..31) '-' MON '-' [spaces][+|-]digits, then anything.
bool is_date_literal(const char* body);

// Same test on a body given as a byte range, which need not be terminated.
bool is_date_body(const char* body, const char* end);

// Whether the text equals one of month_abbreviations, folding only A-Z/a-z.
bool is_month_abbreviation(const char* text);
