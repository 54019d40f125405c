// Cuts a streamed SQL text into statements.
//
// Statements (split_statements): a statement ends at a ';' that closes a
// line (only blanks, or blanks and a "--" comment, may follow it on that
// line) outside quotes and comments, or at a line that holds only '/'
// (blanks and a "--" comment allowed); the terminator is not part of it.
// Quotes are '...' and "..." with the quote doubled inside; comments are
// "--" to the end of the line and /* ... */. Comments and white space before
// a statement are not part of it; comments inside it are. An unterminated
// quote or comment runs to the end of the input.
//
// Lines (split_lines): every line is one statement.
//
// Either way each statement is handed on with the white space at both ends
// removed, and statements left empty are dropped. Memory: the input's block
// and the longest statement (with the blanks that follow it on its line).
#pragma once

#include "packer/input_stream.h"
#include "packer/statement_text.h"

#include <cstddef>

// Receives each statement; `text` lives until the handler returns.
typedef void (*StatementHandler)(void* context, const char* text, std::size_t length);

void split_statements(InputStream* in, StatementText* text, StatementHandler handle, void* context);
void split_lines(InputStream* in, StatementText* text, StatementHandler handle, void* context);
