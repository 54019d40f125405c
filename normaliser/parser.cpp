#include "normaliser/parser.h"

#include "normaliser/fatal_error.h"
#include "normaliser/lexer.h"
#include "normaliser/token_scanner.h"
#include "normaliser/upper_case.h"

#include <cassert>
#include <cstring>

ParseShortcuts parse_shortcuts = {true, true};

namespace {

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
//     n > 0  shift, and go to state n
//     SR(r)  shift, then at once reduce by rule r. The state a plain shift
//            would enter (token: X .) reduces by default without looking
//            ahead, so the two steps are folded into one: the shifted entry
//            is replaced by the goto state at once, and the stacks never
//            hold more than they would after the two steps.
//     R(r)   reduce by rule r
//     ACCEPT the start symbol is complete and the look-ahead is end of text
//     ERR    syntax error
// default_reduction[state] is the rule a state reduces by without looking
// at the look-ahead (0: none). Rules 4..7 are reduced as soon as their token
// is shifted, so each token's text is appended before the next token is read.
//
//  state 0: $accept: . statement $end              (start)
//  state 1: $accept: statement . $end
//  state 2: statement: list_tokens .
//  state 3: list_tokens: token .  |  token . list_tokens
//  state 4: list_tokens: token list_tokens .
// (token: TOKEN . and its three siblings are folded into SR actions.)
// ---------------------------------------------------------------------------
constexpr int TERMINALS = 5;
constexpr int STATES = 5;
constexpr int ERR = 0;
constexpr int ACCEPT = 1000;
constexpr int SHIFT_REDUCE = 100;
constexpr int SR(int rule) {
    return SHIFT_REDUCE + rule;
}
constexpr int R(int rule) {
    return -rule;
}

// clang-format off
constexpr int action[STATES][TERMINALS] = {
/*            $end     TOKEN  STRING  NUMBER  DATE */
/* 0 */     { ERR,     SR(4), SR(5),  SR(6),  SR(7) },
/* 1 */     { ACCEPT,  ERR,   ERR,    ERR,    ERR   },
/* 2 */     { ERR,     ERR,   ERR,    ERR,    ERR   },
/* 3 */     { R(2),    SR(4), SR(5),  SR(6),  SR(7) },
/* 4 */     { ERR,     ERR,   ERR,    ERR,    ERR   },
};
constexpr int default_reduction[STATES] = { 0, 0, 1, 0, 3 };

constexpr int goto_state[STATES][3] = {
/*          statement  list_tokens  token */
/* 0 */   { 1,         2,           3 },
/* 1 */   { 0,         0,           0 },
/* 2 */   { 0,         0,           0 },
/* 3 */   { 0,         4,           3 },
/* 4 */   { 0,         0,           0 },
};
// Rule r: left-hand non-terminal and length of the right-hand side.
constexpr int rule_lhs[8]    = { -1, 0, 1, 1, 2, 2, 2, 2 };
constexpr int rule_length[8] = {  0, 1, 1, 2, 1, 1, 1, 1 };
// clang-format on

constexpr int START_STATE = 0;
constexpr int NO_LOOKAHEAD = -1;

// All parser state, reset at the start of every parse. The stacks are fixed:
// they never grow and are not allocated per parse. A value stack entry is
// the token text that was current when the entry was shifted; only a
// shifted TOKEN's entry is ever used (rule 4, whose reduction follows the
// shift at once, while token_length still describes it).
struct Parser {
    int state_stack[PARSER_STACK_DEPTH];
    const char* value_stack[PARSER_STACK_DEPTH];
    int depth;     // entries in use on both stacks, as the last parse left them
    int lookahead; // terminal number, or NO_LOOKAHEAD, as the last parse left it
    // State entries [run_begin, run_end) all hold the same state: the token
    // loop pushed them. A store below run_end shortens the run.
    int run_begin;
    int run_end;
};
Parser parser;

inline void store_state(int index, int state) {
    if (index < parser.run_end) parser.run_end = index;
    parser.state_stack[index] = state;
}

// The parse loop keeps the depth in a local (a register across the lexer
// calls) and hands it to push and reduce; parser.depth is written back when
// the parse ends.
inline void push(int& depth, int state, const char* value) {
    if (depth >= PARSER_STACK_DEPTH) fatal_error(YACC_STACK_OVERFLOW);
    store_state(depth, state);
    parser.value_stack[depth] = value;
    ++depth;
}

// Text each rule appends: rule 4 the token's own text, rules 5 to 7 their
// placeholder, the others nothing.
constexpr const char* rule_placeholder[8] = {
    nullptr,          nullptr, nullptr, nullptr, nullptr, PLACEHOLDER_STRING, PLACEHOLDER_NUMBER,
    PLACEHOLDER_DATE,
};
constexpr int RULE_TOKEN = 4;

// A state in which every token terminal is shifted and reduced at once by a
// rule whose goto leads back to the same state (list_tokens : token .
// list_tokens, after the first token). There the parse is a plain loop over
// the tokens, each appended and pushed as the table machinery would, with
// the lexer's cursor in a local.
struct TokenLoops {
    bool state[STATES];
    constexpr TokenLoops() : state() {
        for (int st = 0; st < STATES; ++st) {
            bool loops = true;
            for (int t = 1; t < TERMINALS; ++t) {
                int act = action[st][t];
                loops = loops && act >= SHIFT_REDUCE && act != ACCEPT &&
                        goto_state[st][rule_lhs[act - SHIFT_REDUCE]] == st;
            }
            state[st] = loops;
        }
    }
};
constexpr TokenLoops token_loops;
static_assert(token_loops.state[3] && !token_loops.state[0], "the token list loops on itself");

// The token loop appends by the token's code what shift-and-reduce appends
// in a looping state: a TOKEN's own text upper-cased, a literal its
// placeholder. That it is so in the tables is checked here.
constexpr bool loop_actions_match() {
    for (int st = 0; st < STATES; ++st) {
        if (!token_loops.state[st]) continue;
        const int* row = action[st];
        if (row[TOKEN - 256] != SR(RULE_TOKEN) ||
            rule_placeholder[row[STRING_CONSTANT - 256] - SHIFT_REDUCE] != PLACEHOLDER_STRING ||
            rule_placeholder[row[NUMBER_CONSTANT - 256] - SHIFT_REDUCE] != PLACEHOLDER_NUMBER ||
            rule_placeholder[row[DATE_CONSTANT - 256] - SHIFT_REDUCE] != PLACEHOLDER_DATE) {
            return false;
        }
    }
    return true;
}
static_assert(loop_actions_match(), "the token loop's appends are the tables' actions");
static_assert(sizeof PLACEHOLDER_STRING == 3 && sizeof PLACEHOLDER_NUMBER == 3 &&
                  sizeof PLACEHOLDER_DATE == 3,
              "a placeholder is two bytes");

// Bytes the normalised text of one statement of `length` bytes can take: a
// TOKEN adds a blank and its own bytes, a literal a blank and two bytes, and
// fewer than PARSER_STACK_DEPTH tokens are appended.
inline std::size_t most_text(std::size_t length) {
    return length + 3 * std::size_t{PARSER_STACK_DEPTH};
}

// A TOKEN's text upper-cased at `out`; returns the end. A byte alone
// (punctuation, mostly) goes through the table, an identifier a word at a
// time, a comment byte by byte. A TOKEN never starts with a digit, so a
// first byte that continues an identifier starts one.
inline char* put_token_upper(char* out, const char* text, std::size_t length, const char* limit) {
    if (length == 1) {
        *out = static_cast<char>(upper_case.map[static_cast<unsigned char>(*text)]);
        return out + 1;
    }
    if (token_scanner::tables.continues_identifier[static_cast<unsigned char>(*text)]) {
        return copy_identifier_upper(out, text, length, limit);
    }
    return copy_upper(out, text, length);
}

/*
 * The token loop: the grammar's shortcut for the list state. Without it, on
 * the table loop alone, litsieve runs 58.4 % more instructions on oltp-1m
 * and 49.3 % more on distinct-200k (bench/results/PROFILE.md).
 * parse_shortcuts.token_loop turns it off; the parser tests and the lexer
 * fuzz target check it against the table loop.
 *
 * Reads and appends tokens in the looping `state` up to the end of the text,
 * whose look-ahead (terminal 0) it leaves to the table loop. Each token costs
 * what shift-and-reduce costs there: the stack check first (the 5000th token
 * overflows before it is appended), its text or placeholder, one push. The
 * loop's entries carry no value: no rule reduced over them reads one. The
 * text is reserved for the whole statement (most_text), so no append checks
 * for room.
 */
inline void run_token_loop(TextWriter& w, int& depth, int state) {
    token_scanner::Scan scan{input_cursor, input_limit, nullptr, 0};
    char* out = w.out; // never the text's start: see the caller
    parser.run_begin = depth;
    for (;;) {
        int code = token_scanner::scan_token(scan);
        if (code == END_OF_TEXT) break;
        if (depth >= PARSER_STACK_DEPTH) {
            input_cursor = scan.cursor;
            fatal_error(YACC_STACK_OVERFLOW);
        }
        *out++ = ' ';
        switch (code) {
        case TOKEN:
            out = put_token_upper(out, scan.text, scan.length, scan.limit);
            break;
        case STRING_CONSTANT:
            std::memcpy(out, PLACEHOLDER_STRING, 2);
            out += 2;
            break;
        case NUMBER_CONSTANT:
            std::memcpy(out, PLACEHOLDER_NUMBER, 2);
            out += 2;
            break;
        default:
            std::memcpy(out, PLACEHOLDER_DATE, 2);
            out += 2;
            break;
        }
        parser.state_stack[depth] = state;
        ++depth;
    }
    parser.run_end = depth;
    input_cursor = scan.cursor;
    w.out = out;
}

// Runs rule r's action on the value of its first right-hand symbol.
inline void run_action(TextWriter& w, int rule, const char* value) {
    if (rule == RULE_TOKEN) { /* token : TOKEN, upper-cased */
        if (static_cast<std::size_t>(w.end - w.out) < token_length + 2) {
            grow_text(w, token_length + 2);
        }
        char* out = w.out;
        if (out != w.start) *out++ = ' ';
        w.out = put_token_upper(out, value, token_length, input_limit);
    } else if (rule_placeholder[rule] != nullptr) { /* token : a literal */
        append_bytes(w, rule_placeholder[rule], 2);
    }
}

// run_action for reductions. With these tables a reduction never has an
// action (rules 4 to 7 are reduced with their shift), so it is kept out of
// line: inlined there it would make the reductions too large to stay in the
// parse loop.
[[gnu::noinline]] void run_reduction_action(TextWriter& w, int rule, const char* value) {
    run_action(w, rule, value);
}

/*
 * Replaces the right-hand side of rule r on the stacks by the goto state of
 * its left-hand side, carrying the value of the first right-hand symbol.
 * Every rule has a right-hand side, so the push after the pops always fits.
 *
 * Reduction chains: a reduction without an action that lands in the state it
 * started from (list_tokens : token list_tokens, once per token at the end
 * of the text) only takes one entry off each stack per step, so the chain
 * runs in one tight loop and only its last step as usual; the value carried
 * down is already in place, as the lower entry's own. Without it (a step of
 * the parse loop per reduction) litsieve runs 16.9 % more instructions on
 * oltp-1m and 14.5 % more on distinct-200k. Within the chain, the entries of
 * the token loop's run all hold one state, so the test that holds for one of
 * them holds for every one below it in the run: those steps are taken at
 * once, without which it runs a further 7.1 % and 6.1 % more. Both go with
 * parse_shortcuts.reduction_chains; the parser tests and the lexer fuzz
 * target check them against the plain reduction.
 */
inline void reduce(TextWriter& w, int& depth, int rule) {
    assert(rule >= 1 && rule <= 7);
    int length = rule_length[rule];
    int lhs = rule_lhs[rule];
    int state = parser.state_stack[depth - 1];
    if (rule_placeholder[rule] == nullptr && rule != RULE_TOKEN && length > 1 &&
        parse_shortcuts.reduction_chains) {
        const int step = length - 1;
        while (depth > length && goto_state[parser.state_stack[depth - 1 - length]][lhs] == state &&
               default_reduction[state] == rule) {
            int below = depth - 1 - length;
            if (below >= parser.run_begin && below < parser.run_end) {
                depth -= ((below - parser.run_begin) / step + 1) * step;
            } else {
                depth -= step;
            }
        }
    }
    depth -= length;
    const char* result = parser.value_stack[depth];
    if (rule_placeholder[rule] != nullptr || rule == RULE_TOKEN) {
        run_reduction_action(w, rule, result);
    }
    int uncovered = parser.state_stack[depth - 1];
    assert(depth < PARSER_STACK_DEPTH);
    store_state(depth, goto_state[uncovered][lhs]);
    ++depth;
}

} // namespace

int parse_statement() {
    // 1. Reset: only the start state on the stacks, no look-ahead.
    assert(normalized_text == nullptr);
    std::size_t length = std::strlen(input_cursor);
    input_limit = input_cursor + length + 1;
    TextWriter w = resume_text(most_text(length)); // no token of this statement grows it
    int depth = 0;
    int lookahead = NO_LOOKAHEAD;
    parser.run_begin = parser.run_end = 0;
    push(depth, START_STATE, nullptr);
    for (;;) {
        int state = parser.state_stack[depth - 1];
        // 2. Default reduction, without reading a token.
        if (default_reduction[state] != 0) {
            reduce(w, depth, default_reduction[state]);
            continue;
        }
        // The loop puts a blank before every token, so it runs once the text
        // has one; a first token goes through the table loop below.
        if (lookahead == NO_LOOKAHEAD && token_loops.state[state] && w.out != w.start &&
            parse_shortcuts.token_loop) {
            run_token_loop(w, depth, state);
            lookahead = 0; // end of text
            continue;
        }
        if (lookahead == NO_LOOKAHEAD) {
            int code = next_token();
            lookahead = code <= 0 ? 0 : code - 256;
            assert(lookahead >= 0 && lookahead < TERMINALS);
        }
        // 3. Shift (and reduce), reduce on the look-ahead, accept, or fail.
        int act = action[state][lookahead];
        if (act >= SHIFT_REDUCE && act != ACCEPT) {
            // The shift's stack check comes first: the 5000th token overflows
            // here, after the first 4999 have been appended.
            if (depth >= PARSER_STACK_DEPTH) fatal_error(YACC_STACK_OVERFLOW);
            int rule = act - SHIFT_REDUCE;
            run_action(w, rule, token_text);
            push(depth, goto_state[state][rule_lhs[rule]], token_text);
            lookahead = NO_LOOKAHEAD;
        } else if (act == ACCEPT) {
            finish_text(w);
            input_limit = nullptr; // the limit belongs to this statement only
            parser.depth = depth;
            parser.lookahead = lookahead;
            return 0;
        } else if (act > 0) {
            // A plain shift (state `act`): none in these tables, since every
            // shifted token is reduced at once, but the loop stays general.
            push(depth, act, token_text);
            lookahead = NO_LOOKAHEAD;
        } else if (act < 0) {
            reduce(w, depth, -act);
        } else {
            // Only the start state can meet end of text: a statement without tokens.
            fatal_error(SYNTAX_ERROR);
        }
    }
}
