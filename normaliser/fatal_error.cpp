#include "normaliser/fatal_error.h"

#include "normaliser/lexer.h"
#include "platform/exit_statuses.h"
#include "platform/messages.h"

const char SYNTAX_ERROR[] = "syntax error";
const char YACC_STACK_OVERFLOW[] = "yacc stack overflow";

void fatal_error(const char* message) {
    input_limit = nullptr; // the statement's read-ahead limit ends with it
    fail(EXIT_INPUT, message);
}
