#include "ranker/pattern.h"

#include "platform/allocation.h"

#include <cstring>

/*
 * A pattern is parsed into a tree, then spelt out as a program for a
 * Thompson automaton (the instruction set of a Pike machine, without
 * captures):
 *
 *   BYTES s      the byte at the position is in set s: go on at the next
 *                instruction with the next position
 *   SPLIT x y    go on at both x and y
 *   JUMP x       go on at x
 *   START / END  go on only at the start / the end of the text
 *   MATCH        the pattern occurs
 *
 * The run keeps the set of instructions alive at each position, each at
 * most once (a mark per instruction and position), and starts the program
 * anew at every position: a search, linear in the text.
 */

namespace {

enum Op : std::uint8_t { OP_BYTES, OP_SPLIT, OP_JUMP, OP_START, OP_END, OP_MATCH };

struct Instruction {
    Op op;
    std::int32_t x; // BYTES: set index; SPLIT, JUMP: target
    std::int32_t y; // SPLIT: second target
};

struct ByteSet {
    std::uint32_t bits[8];
};

inline bool in_set(const ByteSet& s, unsigned char b) {
    return (s.bits[b >> 5] >> (b & 31) & 1u) != 0;
}
inline void add_byte(ByteSet* s, unsigned char b) {
    s->bits[b >> 5] |= 1u << (b & 31);
}

// Letters match either case: a set holding one holds the other.
void fold_case(ByteSet* s) {
    for (unsigned char c = 'A'; c <= 'Z'; ++c) {
        auto lower = static_cast<unsigned char>(c + 32);
        if (in_set(*s, c) || in_set(*s, lower)) {
            add_byte(s, c);
            add_byte(s, lower);
        }
    }
}

enum NodeKind { N_BYTES, N_START, N_END, N_SEQUENCE, N_CHOICE, N_REPEAT };

// A tree node. Sequences and choices hold a chain of children (first, then
// each child's next), so that neither a long pattern nor many alternatives
// make the tree deep; only parentheses and repetitions nest.
struct Node {
    NodeKind kind;
    std::int32_t first; // SEQUENCE, CHOICE: first child; REPEAT: the repeated node
    std::int32_t next;  // the next sibling, -1 for none
    std::int32_t set;   // BYTES: set index
    std::int32_t min;   // REPEAT: least count
    std::int32_t max;   // REPEAT: most count, -1 for no limit
};

constexpr int NESTING_MAX = 100;
constexpr std::int32_t REPEAT_MAX = 255;

struct Parser {
    const char* text;
    std::size_t length;
    std::size_t at;
    Node* nodes;
    std::int32_t node_count;
    ByteSet* sets;
    std::int32_t set_count;
    int depth;
    const char* error;
};

std::int32_t new_node(Parser* p, NodeKind kind) {
    Node& n = p->nodes[p->node_count];
    n = {kind, -1, -1, -1, 0, 0};
    return p->node_count++;
}

std::int32_t new_set(Parser* p) {
    std::memset(&p->sets[p->set_count], 0, sizeof(ByteSet));
    return p->set_count++;
}

std::int32_t bytes_node(Parser* p, std::int32_t set) {
    fold_case(&p->sets[set]);
    std::int32_t n = new_node(p, N_BYTES);
    p->nodes[n].set = set;
    return n;
}

// The ASCII class named at text (up to ":]"), added to s; false if unknown.
bool add_class(ByteSet* s, const char* name, std::size_t length) {
    static const char* const NAMES[] = {"alpha", "digit", "alnum", "upper", "lower", "space",
                                        "blank", "punct", "print", "graph", "cntrl", "xdigit"};
    int which = -1;
    for (int i = 0; i < 12; ++i) {
        if (std::strlen(NAMES[i]) == length && std::memcmp(NAMES[i], name, length) == 0) which = i;
    }
    if (which < 0) return false;
    for (int b = 0; b < 128; ++b) {
        bool upper = b >= 'A' && b <= 'Z';
        bool lower = b >= 'a' && b <= 'z';
        bool digit = b >= '0' && b <= '9';
        bool space = b == ' ' || (b >= 9 && b <= 13);
        bool print = b >= 32 && b < 127;
        bool member = false;
        switch (which) {
        case 0:
            member = upper || lower;
            break;
        case 1:
            member = digit;
            break;
        case 2:
            member = upper || lower || digit;
            break;
        case 3:
            member = upper;
            break;
        case 4:
            member = lower;
            break;
        case 5:
            member = space;
            break;
        case 6:
            member = b == ' ' || b == '\t';
            break;
        case 7:
            member = print && b != ' ' && !upper && !lower && !digit;
            break;
        case 8:
            member = print;
            break;
        case 9:
            member = print && b != ' ';
            break;
        case 10:
            member = b < 32 || b == 127;
            break;
        default:
            member = digit || (b >= 'A' && b <= 'F') || (b >= 'a' && b <= 'f');
            break;
        }
        if (member) add_byte(s, static_cast<unsigned char>(b));
    }
    return true;
}

// After "[": the bracket expression through its "]".
std::int32_t parse_bracket(Parser* p) {
    std::int32_t set = new_set(p);
    ByteSet* s = &p->sets[set];
    bool negated = p->at < p->length && p->text[p->at] == '^';
    if (negated) ++p->at;
    bool first = true;
    for (;;) {
        if (p->at >= p->length) {
            p->error = "a [ is not closed";
            return -1;
        }
        auto b = static_cast<unsigned char>(p->text[p->at]);
        if (b == ']' && !first) {
            ++p->at;
            break;
        }
        first = false;
        if (b == '[' && p->at + 1 < p->length &&
            (p->text[p->at + 1] == ':' || p->text[p->at + 1] == '.' || p->text[p->at + 1] == '=')) {
            char kind = p->text[p->at + 1];
            const char* name = p->text + p->at + 2;
            const char* close = nullptr;
            for (const char* q = name; q + 1 < p->text + p->length; ++q) {
                if (q[0] == kind && q[1] == ']') {
                    close = q;
                    break;
                }
            }
            if (close == nullptr) {
                p->error = "a [: [. or [= is not closed";
                return -1;
            }
            auto length = static_cast<std::size_t>(close - name);
            if (kind == ':') {
                if (!add_class(s, name, length)) {
                    p->error = "unknown character class";
                    return -1;
                }
            } else if (length == 1) {
                add_byte(s, static_cast<unsigned char>(name[0]));
            } else {
                p->error = "[. .] and [= =] take one byte";
                return -1;
            }
            p->at = static_cast<std::size_t>(close + 2 - p->text);
            continue;
        }
        ++p->at;
        unsigned char last = b;
        if (p->at + 1 < p->length && p->text[p->at] == '-' && p->text[p->at + 1] != ']') {
            last = static_cast<unsigned char>(p->text[p->at + 1]);
            p->at += 2;
            if (last < b) {
                p->error = "a range ends before it starts";
                return -1;
            }
        }
        for (unsigned v = b; v <= last; ++v) add_byte(s, static_cast<unsigned char>(v));
    }
    fold_case(s);
    if (negated) {
        for (std::uint32_t& word : s->bits) word = ~word;
    }
    std::int32_t n = new_node(p, N_BYTES);
    p->nodes[n].set = set;
    return n;
}

std::int32_t parse_choice(Parser* p);

std::int32_t parse_atom(Parser* p) {
    auto b = static_cast<unsigned char>(p->text[p->at++]);
    switch (b) {
    case '(': {
        if (++p->depth > NESTING_MAX) {
            p->error = "parentheses nest too deep";
            return -1;
        }
        std::int32_t inner = parse_choice(p);
        if (inner < 0) return -1;
        if (p->at >= p->length || p->text[p->at] != ')') {
            p->error = "a ( is not closed";
            return -1;
        }
        ++p->at;
        --p->depth;
        return inner;
    }
    case '[':
        return parse_bracket(p);
    case '.': {
        std::int32_t set = new_set(p);
        std::memset(p->sets[set].bits, 0xFF, sizeof p->sets[set].bits);
        std::int32_t n = new_node(p, N_BYTES);
        p->nodes[n].set = set;
        return n;
    }
    case '^':
        return new_node(p, N_START);
    case '$':
        return new_node(p, N_END);
    case '*':
    case '+':
    case '?':
    case '{':
        p->error = "a repetition repeats nothing";
        return -1;
    case '\\':
        if (p->at >= p->length) {
            p->error = "the pattern ends in a backslash";
            return -1;
        }
        b = static_cast<unsigned char>(p->text[p->at++]);
        break;
    default:
        break;
    }
    std::int32_t set = new_set(p);
    add_byte(&p->sets[set], b);
    return bytes_node(p, set);
}

bool parse_count(Parser* p, std::int32_t* value) {
    std::int32_t v = 0;
    std::size_t start = p->at;
    while (p->at < p->length && p->text[p->at] >= '0' && p->text[p->at] <= '9') {
        v = v * 10 + (p->text[p->at++] - '0');
        if (v > REPEAT_MAX) return false;
    }
    *value = v;
    return p->at > start;
}

// A piece: an atom and its repetitions.
std::int32_t parse_piece(Parser* p) {
    std::int32_t atom = parse_atom(p);
    while (atom >= 0 && p->at < p->length) {
        char c = p->text[p->at];
        std::int32_t min, max;
        if (c == '*') {
            min = 0, max = -1;
        } else if (c == '+') {
            min = 1, max = -1;
        } else if (c == '?') {
            min = 0, max = 1;
        } else if (c == '{') {
            ++p->at;
            if (!parse_count(p, &min)) {
                p->error = "a {m,n} repetition is not one (at most 255)";
                return -1;
            }
            max = min;
            if (p->at < p->length && p->text[p->at] == ',') {
                ++p->at;
                max = -1;
                if (p->at < p->length && p->text[p->at] != '}' && !parse_count(p, &max)) {
                    p->error = "a {m,n} repetition is not one (at most 255)";
                    return -1;
                }
            }
            if (p->at >= p->length || p->text[p->at] != '}' || (max >= 0 && max < min)) {
                p->error = "a {m,n} repetition is not one (at most 255)";
                return -1;
            }
        } else {
            break;
        }
        ++p->at;
        std::int32_t n = new_node(p, N_REPEAT);
        p->nodes[n].first = atom;
        p->nodes[n].min = min;
        p->nodes[n].max = max;
        atom = n;
    }
    return atom;
}

std::int32_t parse_sequence(Parser* p) {
    std::int32_t sequence = new_node(p, N_SEQUENCE);
    std::int32_t last = -1;
    while (p->at < p->length && p->text[p->at] != '|' && p->text[p->at] != ')') {
        std::int32_t piece = parse_piece(p);
        if (piece < 0) return -1;
        if (last < 0) {
            p->nodes[sequence].first = piece;
        } else {
            p->nodes[last].next = piece;
        }
        last = piece;
    }
    return sequence;
}

std::int32_t parse_choice(Parser* p) {
    std::int32_t first = parse_sequence(p);
    if (first < 0 || p->at >= p->length || p->text[p->at] != '|') return first;
    std::int32_t choice = new_node(p, N_CHOICE);
    p->nodes[choice].first = first;
    std::int32_t last = first;
    while (p->at < p->length && p->text[p->at] == '|') {
        ++p->at;
        std::int32_t next = parse_sequence(p);
        if (next < 0) return -1;
        p->nodes[last].next = next;
        last = next;
    }
    return choice;
}

struct Emitter {
    const Node* nodes;
    Instruction* code;
    std::int32_t count;
    bool full;
};

std::int32_t emit(Emitter* e, Op op, std::int32_t x = 0, std::int32_t y = 0) {
    if (e->count >= static_cast<std::int32_t>(PATTERN_CODE_MAX)) {
        e->full = true;
        return e->count;
    }
    e->code[e->count] = {op, x, y};
    return e->count++;
}

void emit_node(Emitter* e, std::int32_t index) {
    if (e->full) return;
    const Node& n = e->nodes[index];
    switch (n.kind) {
    case N_BYTES:
        emit(e, OP_BYTES, n.set);
        return;
    case N_START:
        emit(e, OP_START);
        return;
    case N_END:
        emit(e, OP_END);
        return;
    case N_SEQUENCE:
        for (std::int32_t c = n.first; c >= 0 && !e->full; c = e->nodes[c].next) emit_node(e, c);
        return;
    case N_CHOICE: {
        // SPLIT L1 N1; L1: c1; JUMP end; N1: SPLIT L2 N2; ... last: ck; end:
        // The JUMPs are chained through their targets until `end` is known.
        std::int32_t jumps = -1;
        for (std::int32_t c = n.first; c >= 0 && !e->full; c = e->nodes[c].next) {
            if (e->nodes[c].next < 0) {
                emit_node(e, c);
                break;
            }
            std::int32_t split = emit(e, OP_SPLIT);
            if (e->full) return;
            e->code[split].x = e->count;
            emit_node(e, c);
            std::int32_t jump = emit(e, OP_JUMP, jumps);
            if (e->full) return;
            jumps = jump;
            e->code[split].y = e->count;
        }
        if (e->full) return;
        while (jumps >= 0) {
            std::int32_t previous = e->code[jumps].x;
            e->code[jumps].x = e->count;
            jumps = previous;
        }
        return;
    }
    case N_REPEAT: {
        for (std::int32_t k = 0; k < n.min && !e->full; ++k) emit_node(e, n.first);
        if (n.max < 0) { // L: SPLIT body out; body: x; JUMP L; out:
            std::int32_t split = emit(e, OP_SPLIT);
            if (e->full) return;
            e->code[split].x = e->count;
            emit_node(e, n.first);
            emit(e, OP_JUMP, split);
            if (e->full) return;
            e->code[split].y = e->count;
            return;
        }
        for (std::int32_t k = n.min; k < n.max && !e->full; ++k) { // SPLIT body out; body: x; out:
            std::int32_t split = emit(e, OP_SPLIT);
            if (e->full) return;
            e->code[split].x = e->count;
            emit_node(e, n.first);
            if (e->full) return;
            e->code[split].y = e->count;
        }
        return;
    }
    }
}

} // namespace

struct Pattern {
    Instruction* code;
    std::int32_t length;
    ByteSet* sets;
    // The run's working storage, kept between runs.
    std::int32_t* lists; // two lists of `length` instructions
    std::int32_t* stack; // 2 * length + 2 entries
    std::uint32_t* marks;
    std::uint32_t* generation; // one word, so that a const pattern can run
};

Pattern* compile_pattern(const char* text, const char** error) {
    std::size_t length = std::strlen(text);
    if (length > PATTERN_TEXT_MAX) {
        *error = "the pattern is longer than 4096 bytes";
        return nullptr;
    }
    // Each byte makes at most two nodes and one set; three nodes more for
    // the outermost choice and sequence.
    Parser p = {text, length, 0, nullptr, 0, nullptr, 0, 0, nullptr};
    p.nodes = static_cast<Node*>(
        checked_realloc(nullptr, (2 * length + 4) * sizeof(Node), NOT_ENOUGH_MEMORY));
    p.sets = static_cast<ByteSet*>(
        checked_realloc(nullptr, (length + 1) * sizeof(ByteSet), NOT_ENOUGH_MEMORY));
    std::int32_t root = parse_choice(&p);
    if (root >= 0 && p.at < length) p.error = "a ) is not opened";
    Emitter e = {p.nodes, nullptr, 0, false};
    if (p.error == nullptr) {
        e.code = static_cast<Instruction*>(
            checked_realloc(nullptr, PATTERN_CODE_MAX * sizeof(Instruction), NOT_ENOUGH_MEMORY));
        emit_node(&e, root);
        emit(&e, OP_MATCH);
        if (e.full) p.error = "the pattern is too large once its repetitions are spelt out";
    }
    release(p.nodes);
    if (p.error != nullptr) {
        release(e.code);
        release(p.sets);
        *error = p.error;
        return nullptr;
    }
    auto* pattern =
        static_cast<Pattern*>(checked_realloc(nullptr, sizeof(Pattern), NOT_ENOUGH_MEMORY));
    auto n = static_cast<std::size_t>(e.count);
    pattern->code = e.code;
    pattern->length = e.count;
    pattern->sets = p.sets;
    pattern->lists = static_cast<std::int32_t*>(
        checked_realloc(nullptr, 2 * n * sizeof(std::int32_t), NOT_ENOUGH_MEMORY));
    pattern->stack = static_cast<std::int32_t*>(
        checked_realloc(nullptr, (2 * n + 2) * sizeof(std::int32_t), NOT_ENOUGH_MEMORY));
    pattern->marks = static_cast<std::uint32_t*>(
        checked_calloc(n + 1, sizeof(std::uint32_t), NOT_ENOUGH_MEMORY));
    pattern->generation = pattern->marks + n;
    return pattern;
}

namespace {

// Adds instruction `start` and what it leads to without reading a byte to
// `list` at position `at`; true when one of them is MATCH.
bool add_thread(const Pattern* pattern, std::int32_t* list, std::int32_t* count, std::int32_t start,
                std::size_t at, std::size_t length) {
    std::uint32_t mark = *pattern->generation;
    std::int32_t* stack = pattern->stack;
    std::int32_t top = 0;
    stack[top++] = start;
    while (top > 0) {
        std::int32_t pc = stack[--top];
        if (pattern->marks[pc] == mark) continue;
        pattern->marks[pc] = mark;
        const Instruction& in = pattern->code[pc];
        switch (in.op) {
        case OP_BYTES:
            list[(*count)++] = pc;
            break;
        case OP_SPLIT:
            stack[top++] = in.y;
            stack[top++] = in.x;
            break;
        case OP_JUMP:
            stack[top++] = in.x;
            break;
        case OP_START:
            if (at == 0) stack[top++] = pc + 1;
            break;
        case OP_END:
            if (at == length) stack[top++] = pc + 1;
            break;
        case OP_MATCH:
            return true;
        }
    }
    return false;
}

void next_generation(const Pattern* pattern) {
    if (++*pattern->generation == 0) { // wrapped: every old mark must go
        std::memset(pattern->marks, 0, static_cast<std::size_t>(pattern->length) * 4);
        *pattern->generation = 1;
    }
}

} // namespace

bool pattern_matches(const Pattern* pattern, const char* text, std::size_t length) {
    std::int32_t* current = pattern->lists;
    std::int32_t* next = pattern->lists + pattern->length;
    std::int32_t current_count = 0;
    next_generation(pattern);
    if (add_thread(pattern, current, &current_count, 0, 0, length)) return true;
    for (std::size_t at = 0; at < length; ++at) {
        auto b = static_cast<unsigned char>(text[at]);
        std::int32_t next_count = 0;
        next_generation(pattern);
        for (std::int32_t i = 0; i < current_count; ++i) {
            std::int32_t pc = current[i];
            if (in_set(pattern->sets[pattern->code[pc].x], b) &&
                add_thread(pattern, next, &next_count, pc + 1, at + 1, length)) {
                return true;
            }
        }
        if (add_thread(pattern, next, &next_count, 0, at + 1, length)) return true;
        std::int32_t* swap = current;
        current = next;
        next = swap;
        current_count = next_count;
    }
    return false;
}

void release_pattern(Pattern* pattern) {
    if (pattern == nullptr) return;
    release(pattern->code);
    release(pattern->sets);
    release(pattern->lists);
    release(pattern->stack);
    release(pattern->marks);
    release(pattern);
}

namespace {

// The glob's one-byte item at *g matched against b; moves *g past it.
bool glob_item(const char** g, unsigned char b) {
    const char* p = *g;
    if (*p == '?') {
        *g = p + 1;
        return true;
    }
    if (*p == '\\' && p[1] != '\0') {
        *g = p + 2;
        return static_cast<unsigned char>(p[1]) == b;
    }
    if (*p == '[') {
        const char* q = p + 1;
        bool negated = *q == '!' || *q == '^';
        if (negated) ++q;
        bool member = false;
        bool first = true;
        for (; *q != '\0' && (*q != ']' || first); first = false) {
            auto low = static_cast<unsigned char>(*q);
            auto high = low;
            if (q[1] == '-' && q[2] != '\0' && q[2] != ']') {
                high = static_cast<unsigned char>(q[2]);
                q += 3;
            } else {
                ++q;
            }
            if (b >= low && b <= high) member = true;
        }
        if (*q == ']') {
            *g = q + 1;
            return member != negated;
        }
        // A [ never closed is itself.
    }
    *g = p + 1;
    return static_cast<unsigned char>(*p) == b;
}

} // namespace

/*
 * One pass with the last star remembered: on a mismatch the star takes one
 * more byte and the rest is tried again from there. Stars before the last
 * never need to take back bytes, so this is quadratic at worst.
 */
bool glob_matches(const char* glob, const char* text, std::size_t length) {
    const char* g = glob;
    std::size_t t = 0;
    const char* star_glob = nullptr;
    std::size_t star_text = 0;
    while (t < length) {
        if (*g == '*') {
            star_glob = ++g;
            star_text = t;
            continue;
        }
        const char* item = g;
        if (*g != '\0' && glob_item(&item, static_cast<unsigned char>(text[t]))) {
            g = item;
            ++t;
            continue;
        }
        if (star_glob == nullptr) return false;
        g = star_glob;
        t = ++star_text;
    }
    while (*g == '*') ++g;
    return *g == '\0';
}
