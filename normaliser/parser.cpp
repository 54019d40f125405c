#include "normaliser/parser.h"

#include "normaliser/allocation.h"
#include "normaliser/lexer.h"
#include "normaliser/token_scanner.h"

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

// Eight bytes upper-cased at once: a byte in 'a'..'z' loses 0x20, every
// other byte stays. Works byte by byte within the word (no carries cross
// bytes), so byte order does not matter.
inline std::uint64_t upper_case_word(std::uint64_t x) {
    constexpr std::uint64_t ones = 0x0101010101010101u;
    std::uint64_t low7 = x & (0x7f * ones);
    std::uint64_t from_a = low7 + (0x80 - 'a') * ones;     // high bit set: low7 >= 'a'
    std::uint64_t past_z = low7 + (0x80 - 'z' - 1) * ones; // high bit set: low7 > 'z'
    std::uint64_t lower = from_a & ~past_z & ~x & (0x80 * ones);
    return x - (lower >> 2);
}

// Bytes of slack behind the text, so that a word store may run past its end.
constexpr std::size_t WORD_SLACK = 8;

// Where the parse writes the normalised text: kept in locals of the parse
// loop (registers), and stored into text_buffer only when the text is done.
struct TextWriter {
    char* out; // next byte to write
    char* end; // end of the buffer
};

inline TextWriter start_writer() {
    reserve_text(WORD_SLACK + 2);
    return TextWriter{text_buffer.data + text_buffer.length,
                      text_buffer.data + text_buffer.capacity};
}

void grow_writer(TextWriter& w, std::size_t room) {
    auto used = static_cast<std::size_t>(w.out - text_buffer.data);
    reserve_text(used + room);
    w.out = text_buffer.data + used;
    w.end = text_buffer.data + text_buffer.capacity;
}

// Copies `length` bytes from `text` to `out` upper-cased and returns the end
// of the copy. Eight bytes at a time while eight bytes can be read within
// the statement, whose end (one past its NUL) is `limit`, if known: the
// store of the last word may run up to WORD_SLACK - 1 bytes past the copy.
inline char* copy_upper(char* out, const char* text, std::size_t length, const char* limit) {
    std::size_t i = 0;
    if (limit != nullptr) {
        auto readable = static_cast<std::size_t>(limit - text);
        for (; i < length && i + 8 <= readable; i += 8) {
            std::uint64_t word;
            std::memcpy(&word, text + i, 8);
            word = upper_case_word(word);
            std::memcpy(out + i, &word, 8);
        }
    }
    for (; i < length; ++i) {
        out[i] = static_cast<char>(upper_case.map[static_cast<unsigned char>(text[i])]);
    }
    return out + length;
}

// copy_upper for an identifier, whose bytes are 0-9 A-Z _ a-z only. Among
// those the lower-case letters are exactly the bytes above '_' (0x5F), so
// adding 0x20 sets the high bit of exactly those, and no sum leaves its
// byte. Bytes of the word past the identifier may come out changed; they
// lie past the copy and are written over or ignored.
inline char* copy_identifier_upper(char* out, const char* text, std::size_t length,
                                   const char* limit) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // Little-endian: a carry out of a byte past the identifier runs into a
    // later byte, never into the identifier's own.
    std::size_t words = (length + 7) / 8;
    if (limit != nullptr && static_cast<std::size_t>(limit - text) >= 8 * words) {
        constexpr std::uint64_t ones = 0x0101010101010101u;
        for (std::size_t i = 0; i < 8 * words; i += 8) {
            std::uint64_t word;
            std::memcpy(&word, text + i, 8);
            std::uint64_t lower = (word + 0x20 * ones) & (0x80 * ones);
            word -= lower >> 2;
            std::memcpy(out + i, &word, 8);
        }
        return out + length;
    }
#endif
    return copy_upper(out, text, length, limit);
}

// Appends [blank] text, upper-casing it when `upper` is set (only TOKEN
// texts are, and they lie in the statement). The terminator is written by
// finish_text, once per statement.
inline void append_bytes(TextWriter& w, const char* text, std::size_t length, bool upper) {
    if (static_cast<std::size_t>(w.end - w.out) < length + 2 + WORD_SLACK) {
        grow_writer(w, length + 2 + WORD_SLACK);
    }
    char* out = w.out;
    if (out != text_buffer.data) *out++ = ' ';
    if (upper) {
        w.out = copy_upper(out, text, length, input_limit);
    } else {
        std::memcpy(out, text, length);
        w.out = out + length;
    }
}

void finish_text(const TextWriter& w) {
    text_buffer.length = static_cast<std::size_t>(w.out - text_buffer.data);
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
// fewer than PARSER_STACK_DEPTH tokens are appended. Then the NUL, and the
// slack for the last word store.
inline std::size_t most_text(std::size_t length) {
    return length + 3 * std::size_t{PARSER_STACK_DEPTH} + 1 + WORD_SLACK;
}

// Reads and appends tokens in the looping `state` up to the end of the text,
// whose look-ahead (terminal 0) it leaves to the table loop. Each token costs
// what shift-and-reduce costs there: the stack check first (the 5000th token
// overflows before it is appended), its text or placeholder, one push. The
// loop's entries carry no value: no rule reduced over them reads one.
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
            if (scan.length == 1) { // punctuation, mostly
                *out++ = static_cast<char>(upper_case.map[static_cast<unsigned char>(*scan.text)]);
            } else if (token_scanner::tables.continues_identifier[static_cast<unsigned char>(
                           *scan.text)]) { // a TOKEN never starts with a digit: an identifier
                out = copy_identifier_upper(out, scan.text, scan.length, scan.limit);
            } else { // a comment
                out = copy_upper(out, scan.text, scan.length, scan.limit);
            }
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
        append_bytes(w, value, token_length, true);
    } else if (rule_placeholder[rule] != nullptr) { /* token : a literal */
        append_bytes(w, rule_placeholder[rule], 2, false);
    }
}

// Replaces the right-hand side of rule r on the stacks by the goto state of
// its left-hand side, carrying the value of the first right-hand symbol.
// Every rule has a right-hand side, so the push after the pops always fits.
inline void reduce(TextWriter& w, int& depth, int rule) {
    assert(rule >= 1 && rule <= 7);
    int length = rule_length[rule];
    int lhs = rule_lhs[rule];
    int state = parser.state_stack[depth - 1];
    if (rule_placeholder[rule] == nullptr && rule != RULE_TOKEN && length > 1) {
        // A reduction without an action that lands in the state it started
        // from (list_tokens : token list_tokens, once per token at the end of
        // the text) only takes one entry off each stack per step: run the
        // chain in one tight loop, then the last step as usual. The value
        // carried down is already in place: it is the lower entry's own.
        // Entries of the token loop's run are all one state, so the test
        // that holds for one of them holds for every one below it in the
        // run: those steps are taken at once.
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
    run_action(w, rule, result);
    int uncovered = parser.state_stack[depth - 1];
    assert(depth < PARSER_STACK_DEPTH);
    store_state(depth, goto_state[uncovered][lhs]);
    ++depth;
}

} // namespace

void append_token_text(const char* text) {
    if (normalized_text == nullptr) text_buffer.length = 0; // a text of its own
    TextWriter w = start_writer();
    append_bytes(w, text, std::strlen(text), false);
    finish_text(w);
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
    std::size_t length = std::strlen(input_cursor);
    input_limit = input_cursor + length + 1;
    reserve_text(most_text(length)); // no token of this statement needs to grow the text
    TextWriter w = start_writer();
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
        if (lookahead == NO_LOOKAHEAD && token_loops.state[state] && w.out != text_buffer.data) {
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

void fatal_error(const char* message) {
    input_limit = nullptr; // the statement's read-ahead limit ends with it
    std::fputs(message, stderr);
    std::exit(-1);
}
