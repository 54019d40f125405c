#include "normaliser/parser.h"

#include "normaliser/allocation.h"
#include "normaliser/lexer.h"

#include <cassert>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

const char SYNTAX_ERROR[] = "syntax error";
const char YACC_STACK_OVERFLOW[] = "yacc stack overflow";

char* normalized_text = nullptr;
std::size_t normalized_length = 0;

namespace {

// The growing normalised text. It grows geometrically and is reused by every
// statement, so an append copies only the new bytes.
struct TextBuffer {
    char* data;
    std::size_t length;
    std::size_t capacity;
};
TextBuffer text_buffer = {nullptr, 0, 0};

// Upper-casing touches a..z only; every other byte, 0x80..0xFF included,
// maps to itself whatever the locale.
struct UpperTable {
    unsigned char map[256];
    constexpr UpperTable() : map() {
        for (int i = 0; i < 256; ++i) {
            map[i] = static_cast<unsigned char>(i >= 'a' && i <= 'z' ? i - 'a' + 'A' : i);
        }
    }
};
constexpr UpperTable upper_case;

void reserve_text(std::size_t needed) {
    if (needed <= text_buffer.capacity) return;
    std::size_t capacity = text_buffer.capacity < 256 ? 256 : text_buffer.capacity;
    while (capacity < needed) capacity *= 2;
    text_buffer.data =
        static_cast<char*>(checked_realloc(text_buffer.data, capacity, NOT_ENOUGH_MEMORY));
    text_buffer.capacity = capacity;
}

// Appends [blank] text, upper-casing it when `upper` is set. The terminator
// is written by finish_text, once per statement.
inline void append_bytes(const char* text, std::size_t length, bool upper) {
    std::size_t at = text_buffer.length;
    reserve_text(at + length + 2);
    char* out = text_buffer.data + at;
    if (at != 0) *out++ = ' ';
    if (upper) {
        for (std::size_t i = 0; i < length; ++i) {
            out[i] = static_cast<char>(upper_case.map[static_cast<unsigned char>(text[i])]);
        }
    } else {
        std::memcpy(out, text, length);
    }
    text_buffer.length = static_cast<std::size_t>(out + length - text_buffer.data);
}

void finish_text() {
    text_buffer.data[text_buffer.length] = '\0';
    normalized_text = text_buffer.data;
    normalized_length = text_buffer.length;
}

// Placeholders of the literal token codes, in step with TokenCode.
const char PLACEHOLDER_STRING[] = ":S";
const char PLACEHOLDER_NUMBER[] = ":N";
const char PLACEHOLDER_DATE[] = ":D";

// ---------------------------------------------------------------------------
// LALR(1) tables of the grammar in parser.h.
//
// Terminals are numbered 0 (end of text), 1 TOKEN, 2 STRING_CONSTANT,
// 3 NUMBER_CONSTANT, 4 DATE_CONSTANT (token code - 256); non-terminals
// 0 statement, 1 list_tokens, 2 token.
//
// action[state][terminal] encodes:
//     S(n)   shift, and go to state n
//     R(r)   reduce by rule r
//     ACCEPT the start symbol is complete and the look-ahead is end of text
//     ERR    syntax error
// default_reduction[state] is the rule a state reduces by without looking
// at the look-ahead (0: none), as yacc does: rules 4..7 are reduced as soon
// as their token is shifted, so each token's text is appended before the
// next token is read.
//
//  state 0: $accept: . statement $end              (start)
//  state 1: $accept: statement . $end
//  state 2: statement: list_tokens .
//  state 3: list_tokens: token .  |  token . list_tokens
//  state 4..7: token: TOKEN . | STRING_CONSTANT . | NUMBER_CONSTANT . | DATE_CONSTANT .
//  state 8: list_tokens: token list_tokens .
// ---------------------------------------------------------------------------
constexpr int TERMINALS = 5;
constexpr int STATES = 9;
constexpr int ERR = 0;
constexpr int ACCEPT = 100;
constexpr int S(int state) { return state; }
constexpr int R(int rule) { return -rule; }

// clang-format off
const int action[STATES][TERMINALS] = {
/*            $end     TOKEN  STRING  NUMBER  DATE */
/* 0 */     { ERR,     S(4),  S(5),   S(6),   S(7) },
/* 1 */     { ACCEPT,  ERR,   ERR,    ERR,    ERR  },
/* 2 */     { ERR,     ERR,   ERR,    ERR,    ERR  },
/* 3 */     { R(2),    S(4),  S(5),   S(6),   S(7) },
/* 4 */     { ERR,     ERR,   ERR,    ERR,    ERR  },
/* 5 */     { ERR,     ERR,   ERR,    ERR,    ERR  },
/* 6 */     { ERR,     ERR,   ERR,    ERR,    ERR  },
/* 7 */     { ERR,     ERR,   ERR,    ERR,    ERR  },
/* 8 */     { ERR,     ERR,   ERR,    ERR,    ERR  },
};
const int default_reduction[STATES] = { 0, 0, 1, 0, 4, 5, 6, 7, 3 };

const int goto_state[STATES][3] = {
/*          statement  list_tokens  token */
/* 0 */   { 1,         2,           3 },
/* 1 */   { 0,         0,           0 },
/* 2 */   { 0,         0,           0 },
/* 3 */   { 0,         8,           3 },
/* 4 */   { 0,         0,           0 },
/* 5 */   { 0,         0,           0 },
/* 6 */   { 0,         0,           0 },
/* 7 */   { 0,         0,           0 },
/* 8 */   { 0,         0,           0 },
};
// Rule r: left-hand non-terminal and length of the right-hand side.
const int rule_lhs[8]    = { -1, 0, 1, 1, 2, 2, 2, 2 };
const int rule_length[8] = {  0, 1, 1, 2, 1, 1, 1, 1 };
// clang-format on

constexpr int START_STATE = 0;
constexpr int NO_LOOKAHEAD = -1;

// A value stack entry: the token text that was current when its entry was
// shifted. Only a shifted TOKEN's entry is ever used (rule 4).
struct TokenValue {
    const char* text;
    std::size_t length;
};

// All parser state, reset at the start of every parse. The stacks are fixed:
// they never grow and are not allocated per parse.
struct Parser {
    int state_stack[PARSER_STACK_DEPTH];
    TokenValue value_stack[PARSER_STACK_DEPTH];
    int depth;     // entries in use on both stacks
    int lookahead; // terminal number, or NO_LOOKAHEAD
};
Parser parser;

inline void push(int state, TokenValue value) {
    if (parser.depth >= PARSER_STACK_DEPTH) fatal_error(YACC_STACK_OVERFLOW);
    parser.state_stack[parser.depth] = state;
    parser.value_stack[parser.depth] = value;
    ++parser.depth;
}

// Runs rule r's action, then replaces its right-hand side on the stacks by
// the goto state of its left-hand side, carrying the value of the rule's
// first right-hand symbol.
inline void reduce(int rule) {
    assert(rule >= 1 && rule <= 7);
    int length = rule_length[rule];
    TokenValue result = parser.value_stack[parser.depth - length];
    switch (rule) {
    case 4: /* token : TOKEN */
        append_bytes(result.text, result.length, true);
        break;
    case 5: /* token : STRING_CONSTANT */
        append_bytes(PLACEHOLDER_STRING, 2, false);
        break;
    case 6: /* token : NUMBER_CONSTANT */
        append_bytes(PLACEHOLDER_NUMBER, 2, false);
        break;
    case 7: /* token : DATE_CONSTANT */
        append_bytes(PLACEHOLDER_DATE, 2, false);
        break;
    default: /* statement : list_tokens; list_tokens : token [list_tokens] */
        break;
    }
    parser.depth -= length;
    int uncovered = parser.state_stack[parser.depth - 1];
    push(goto_state[uncovered][rule_lhs[rule]], result);
}

} // namespace

void append_token_text(const char* text) {
    if (normalized_text == nullptr) text_buffer.length = 0; // a text of its own
    append_bytes(text, std::strlen(text), false);
    finish_text();
}

void release_normalized_text() {
    normalized_text = nullptr;
    normalized_length = 0;
    text_buffer.length = 0;
}

int parse_statement() {
    // 1. Reset: only the start state on the stacks, no look-ahead.
    assert(normalized_text == nullptr);
    text_buffer.length = 0;
    parser.depth = 0;
    parser.lookahead = NO_LOOKAHEAD;
    push(START_STATE, TokenValue{nullptr, 0});
    for (;;) {
        int state = parser.state_stack[parser.depth - 1];
        // 2. Default reduction, without reading a token.
        if (default_reduction[state] != 0) {
            reduce(default_reduction[state]);
            continue;
        }
        if (parser.lookahead == NO_LOOKAHEAD) {
            int code = next_token();
            parser.lookahead = code <= 0 ? 0 : code - 256;
            assert(parser.lookahead >= 0 && parser.lookahead < TERMINALS);
        }
        // 3. Shift, reduce on the look-ahead, accept, or fail.
        int act = action[state][parser.lookahead];
        if (act == ACCEPT) {
            finish_text();
            return 0;
        }
        if (act > 0) {
            push(act, TokenValue{token_text, token_length});
            parser.lookahead = NO_LOOKAHEAD;
        } else if (act < 0) {
            reduce(-act);
        } else {
            // Only the start state can meet end of text: a statement without tokens.
            fatal_error(SYNTAX_ERROR);
        }
    }
}

void fatal_error(const char* message) {
    std::fputs(message, stderr);
    std::exit(-1);
}
