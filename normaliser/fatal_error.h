// How the normaliser stops the run: one message, status -1.
#pragma once

extern const char SYNTAX_ERROR[];        // "syntax error"
extern const char YACC_STACK_OVERFLOW[]; // "yacc stack overflow"

// Writes `message` to standard error exactly as given (no line break added)
// and ends the process with status -1, both through the seam of
// platform/system_calls.h. The single way the normaliser stops the run.
[[noreturn]] void fatal_error(const char* message);
