#include "packer/splitter.h"

#include <cstring>

const char* const DIALECT_NAMES[DIALECT_COUNT] = {"generic", "postgres", "mysql", "oracle", "tsql"};

const char* const SPLIT_WARNING_TEXTS[4] = {
    "quoted text is not closed; the rest of the input is kept as one statement",
    "comment is not closed",
    "PL/SQL unit is not closed by a '/' line; the rest of the input is kept as one statement",
    "COPY data is not closed by a '\\.' line",
};

bool dialect_from_name(const char* name, Dialect* dialect) {
    for (int d = 0; d < DIALECT_COUNT; ++d) {
        if (std::strcmp(name, DIALECT_NAMES[d]) == 0) {
            *dialect = static_cast<Dialect>(d);
            return true;
        }
    }
    return false;
}

namespace {

// Byte classes in code (outside quotes and comments). The scan loop skips
// runs of CLASS_PLAIN (and of CLASS_SPACE inside a statement) with one table
// load per byte and switches on the rest; a switch on these small numbers is
// a jump table, where one on the raw byte would not be.
enum ByteClass : std::uint8_t {
    CLASS_PLAIN,     // decides nothing
    CLASS_SPACE,     // blank, tab, CR, VT, FF: only ends the gap between statements
    CLASS_NEWLINE,   // LF: a line to count, and line-level checks to run
    CLASS_DELIMITER, // ';', or the first byte of the DELIMITER in force
    CLASS_QUOTE,     // ' " and per dialect ` [
    CLASS_DASH,      // "--" comment
    CLASS_SLASH,     // "/*" comment
    CLASS_STAR,      // mysql: "*/" closing a /*! ... */
    CLASS_BACKSLASH, // "\*" comment, client commands
    CLASS_DOLLAR,    // dollar quote
    CLASS_HASH,      // mysql: '#' comment
    CLASS_OPEN,      // '(' where parentheses are counted
    CLASS_CLOSE,     // ')'
    CLASS_LETTER,    // A-Z a-z _ 0x80-0xFF while words are watched
};

// Where `scan` stands.
enum ScanState : std::uint8_t {
    STATE_CODE,
    STATE_QUOTE,         // '...', "...", `...`, [...]: close_quote, doubled to quote it
    STATE_QQUOTE,        // q'[...]': close_quote, then an apostrophe
    STATE_DOLLAR,        // $tag$ ... $tag$
    STATE_BLOCK_COMMENT, // /* ... */, comment_depth deep
    STATE_LINE_COMMENT,  // -- or # up to the line feed (which is left to the code)
    STATE_STAR_COMMENT,  // \* ... *\ .
    STATE_COPY_DATA,     // data lines of COPY ... FROM STDIN; line_start at a line start
    STATE_SKIP_LINE,     // a client command line, up to its line feed
};

// Where a statement ends, as its words have shown so far.
enum ShapeKind : std::uint8_t {
    SHAPE_PLAIN,        // at the delimiter (tsql: outside BEGIN/CASE ... END)
    SHAPE_UNIT,         // PL/SQL unit: only at a '/' line
    SHAPE_MAYBE_UNIT,   // generic: decided at the first top-level ';'
    SHAPE_PG_ROUTINE,   // postgres CREATE FUNCTION/PROCEDURE: ';' outside BEGIN ... END
    SHAPE_TSQL_ROUTINE, // tsql CREATE PROCEDURE/FUNCTION/TRIGGER: only at GO
    SHAPE_COPY,         // COPY: FROM STDIN is watched for
};

// Progress through the leading words.
enum Lead : std::uint8_t {
    LEAD_DONE,   // the leading words have said what they can
    LEAD_START,  // no word read yet
    LEAD_CREATE, // CREATE [OR REPLACE|ALTER] [EDITIONABLE|NONEDITIONABLE]
    LEAD_OR,     // CREATE OR
    LEAD_TYPE,   // CREATE ... TYPE: a unit only with BODY
    LEAD_BEGIN,  // generic BEGIN: the next word says block or transaction
};

// What opened a possible unit in generic.
enum Candidate : std::uint8_t {
    CANDIDATE_NONE,
    CANDIDATE_ROUTINE, // PROCEDURE, FUNCTION, PACKAGE, TYPE BODY
    CANDIDATE_TRIGGER,
    CANDIDATE_DECLARE,
    CANDIDATE_BEGIN,
};

// Watched words. ORDER WORDS: WORD_TEXTS is in step with this enumeration.
enum Word : std::uint8_t {
    WORD_OTHER,
    WORD_CREATE,
    WORD_OR,
    WORD_REPLACE,
    WORD_ALTER,
    WORD_EDITIONABLE,
    WORD_NONEDITIONABLE,
    WORD_EDITIONING,
    WORD_PROCEDURE,
    WORD_PROC,
    WORD_FUNCTION,
    WORD_PACKAGE,
    WORD_TRIGGER,
    WORD_TYPE,
    WORD_BODY,
    WORD_DECLARE,
    WORD_BEGIN,
    WORD_END,
    WORD_CASE,
    WORD_IS,
    WORD_AS,
    WORD_RETURNS,
    WORD_COMPOUND,
    WORD_ATOMIC,
    WORD_COPY,
    WORD_FROM,
    WORD_STDIN,
    WORD_CURSOR,
    WORD_NULL,
    WORD_NOT,
    WORD_TRUE,
    WORD_FALSE,
    WORD_UNKNOWN,
    WORD_DISTINCT,
    // After BEGIN, these make a transaction (or a T-SQL TRY/CATCH block).
    WORD_TRANSACTION,
    WORD_WORK,
    WORD_TRAN,
    WORD_ISOLATION,
    WORD_READ,
    WORD_DEFERRABLE,
    WORD_DEFERRED,
    WORD_IMMEDIATE,
    WORD_EXCLUSIVE,
    WORD_DISTRIBUTED,
    WORD_TRY,
    WORD_CATCH,
    WORD_DIALOG,
    WORD_CONVERSATION,
    WORD_COUNT
};

constexpr const char* WORD_TEXTS[WORD_COUNT] = {
    "",
    "CREATE",
    "OR",
    "REPLACE",
    "ALTER",
    "EDITIONABLE",
    "NONEDITIONABLE",
    "EDITIONING",
    "PROCEDURE",
    "PROC",
    "FUNCTION",
    "PACKAGE",
    "TRIGGER",
    "TYPE",
    "BODY",
    "DECLARE",
    "BEGIN",
    "END",
    "CASE",
    "IS",
    "AS",
    "RETURNS",
    "COMPOUND",
    "ATOMIC",
    "COPY",
    "FROM",
    "STDIN",
    "CURSOR",
    "NULL",
    "NOT",
    "TRUE",
    "FALSE",
    "UNKNOWN",
    "DISTINCT",
    "TRANSACTION",
    "WORK",
    "TRAN",
    "ISOLATION",
    "READ",
    "DEFERRABLE",
    "DEFERRED",
    "IMMEDIATE",
    "EXCLUSIVE",
    "DISTRIBUTED",
    "TRY",
    "CATCH",
    "DIALOG",
    "CONVERSATION",
};

constexpr std::size_t LONGEST_WORD = 14; // "NONEDITIONABLE"

// The watched words by their first letter, so that a word is compared with
// the few that could be it: a statement's first word is looked up every
// time, and a walk over all of them cost a fifth of a script's scan.
struct WordIndex {
    std::uint8_t words[WORD_COUNT]; // word codes, grouped by first letter A..Z
    std::uint8_t first[27];         // group of letter L: words[first[L]..first[L + 1])
    constexpr WordIndex() : words(), first() {
        int n = 0;
        for (int letter = 0; letter < 26; ++letter) {
            first[letter] = static_cast<std::uint8_t>(n);
            for (int w = 1; w < WORD_COUNT; ++w) {
                if (WORD_TEXTS[w][0] == 'A' + letter) words[n++] = static_cast<std::uint8_t>(w);
            }
        }
        first[26] = static_cast<std::uint8_t>(n);
    }
};

struct StaticTables {
    bool identifier[256]; // continues an identifier: letters, digits, _ $ and 0x80-0xFF
    bool white[256];      // trimmed from a statement's end: blank, tab, LF, VT, FF, CR
    constexpr StaticTables() : identifier(), white() {
        for (int b = 0; b < 256; ++b) {
            bool letter = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
            identifier[b] = letter || (b >= '0' && b <= '9') || b == '_' || b == '$' || b >= 0x80;
            white[b] = b == ' ' || (b >= 0x09 && b <= 0x0D);
        }
    }
};
constexpr StaticTables tables;

inline unsigned char byte_at(const char* t, std::size_t i) {
    return static_cast<unsigned char>(t[i]);
}

inline bool is_letter(unsigned char b) {
    return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
}

inline unsigned char upper(unsigned char b) {
    return (b >= 'a' && b <= 'z') ? static_cast<unsigned char>(b - 'a' + 'A') : b;
}

inline bool is_blank(unsigned char b) {
    return b == ' ' || b == '\t';
}

// Whether text[0..length) equals `word` (upper case), folding only a-z.
bool equals_folded(const char* text, std::size_t length, const char* word) {
    for (std::size_t k = 0; k < length; ++k) {
        if (word[k] == '\0' || upper(byte_at(text, k)) != static_cast<unsigned char>(word[k])) {
            return false;
        }
    }
    return word[length] == '\0';
}

Word word_code(const char* text, std::size_t length) {
    static constexpr WordIndex index;
    unsigned char letter = upper(byte_at(text, 0));
    if (length > LONGEST_WORD || letter < 'A' || letter > 'Z') return WORD_OTHER;
    for (int k = index.first[letter - 'A']; k < index.first[letter - 'A' + 1]; ++k) {
        if (equals_folded(text, length, WORD_TEXTS[index.words[k]])) {
            return static_cast<Word>(index.words[k]);
        }
    }
    return WORD_OTHER;
}

// Outcome of looking at the start of a line.
enum LineCheck {
    CHECK_NONE, // nothing special: scan on from `scan`
    CHECK_DONE, // the line was acted on; `scan` and `state` say where to go on
    CHECK_WAIT, // the line's first bytes are not all there yet
};

void build_classes(Splitter* s) {
    Dialect d = s->dialect;
    for (int b = 0; b < 256; ++b) {
        std::uint8_t c = CLASS_PLAIN;
        if (b == ' ' || b == '\t' || b == '\r' || b == '\v' || b == '\f') c = CLASS_SPACE;
        if (b == '\n') c = CLASS_NEWLINE;
        if (b == ';') c = CLASS_DELIMITER;
        if (b == '\'' || b == '"') c = CLASS_QUOTE;
        if (b == '`' && (d == DIALECT_GENERIC || d == DIALECT_MYSQL)) c = CLASS_QUOTE;
        if (b == '[' && d == DIALECT_TSQL) c = CLASS_QUOTE;
        if (b == '-') c = CLASS_DASH;
        if (b == '/') c = CLASS_SLASH;
        if (b == '*' && d == DIALECT_MYSQL) c = CLASS_STAR;
        if (b == '\\') c = CLASS_BACKSLASH;
        if (b == '$' && (d == DIALECT_GENERIC || d == DIALECT_POSTGRES)) c = CLASS_DOLLAR;
        if (b == '#' && d == DIALECT_MYSQL) c = CLASS_HASH;
        if (b == '(' && d == DIALECT_POSTGRES) c = CLASS_OPEN;
        if (b == ')' && d == DIALECT_POSTGRES) c = CLASS_CLOSE;
        s->code_class[b] = c;
        if (is_letter(static_cast<unsigned char>(b)) || b == '_' || b >= 0x80) c = CLASS_LETTER;
        if (b == '(') c = CLASS_OPEN;
        if (b == ')') c = CLASS_CLOSE;
        s->word_class[b] = c;
    }
    // The delimiter's first byte: a ';' that does not start the delimiter in
    // force is plain text; any other byte keeps the class it had.
    auto first = static_cast<unsigned char>(s->delimiter[0]);
    std::uint8_t base = first == ';' ? std::uint8_t{CLASS_PLAIN} : s->code_class[first];
    if (first == ';' && s->delimiter_length == 1) base = CLASS_DELIMITER;
    s->delimiter_base_class = base;
    if (first != ';') {
        s->code_class[static_cast<unsigned char>(';')] = CLASS_PLAIN;
        s->word_class[static_cast<unsigned char>(';')] = CLASS_PLAIN;
    }
    s->code_class[first] = CLASS_DELIMITER;
    s->word_class[first] = CLASS_DELIMITER;
}

void set_delimiter(Splitter* s, const char* bytes, std::size_t length) {
    if (length > DELIMITER_MAX) length = DELIMITER_MAX;
    std::memcpy(s->delimiter, bytes, length);
    s->delimiter_length = length;
    build_classes(s);
}

bool default_delimiter(const Splitter* s) {
    return s->delimiter_length == 1 && s->delimiter[0] == ';';
}

// Bytes available from i on, or whether to wait for `count` of them.
inline bool must_wait(const Splitter* s, std::size_t i, std::size_t count) {
    return !s->finished && s->text.size - i < count;
}

// Whether the byte before i belongs to an identifier of the open statement
// (a byte before the statement is never part of one).
bool identifier_before(const Splitter* s, std::size_t i) {
    return s->start != NO_STATEMENT && i > s->start &&
           tables.identifier[byte_at(s->text.data, i - 1)];
}

void open_statement(Splitter* s, std::size_t i) {
    s->start = i;
    s->start_line = s->line;
    s->shape = StatementShape{};
    bool letter = s->word_class[byte_at(s->text.data, i)] == CLASS_LETTER;
    s->shape.kind = SHAPE_PLAIN;
    s->shape.lead = letter ? LEAD_START : LEAD_DONE;
    s->shape.watching = letter || s->dialect == DIALECT_TSQL;
    s->exec_comment = false;
}

// Reports the open statement as text[start, end) less trailing white space.
// False when the event stopped the splitter.
bool emit(Splitter* s, std::size_t end) {
    char* t = s->text.data;
    std::size_t begin = s->start;
    s->start = NO_STATEMENT;
    s->exec_comment = false;
    if (s->shape.copy_from_stdin) s->copy_pending = true;
    while (end > begin && tables.white[byte_at(t, end - 1)]) --end;
    if (end == begin) return true;
    // end <= text.size < text.capacity: the byte exists, and goes back below.
    char saved = t[end];
    t[end] = '\0';
    bool ok = s->events.statement(s->events.context, t + begin, end - begin, s->start_line);
    t[end] = saved;
    if (!ok) s->stopped = true;
    return ok;
}

// Removes text[from, to) (a client command inside the open statement).
void cut_out(Splitter* s, std::size_t from, std::size_t to) {
    char* t = s->text.data;
    std::memmove(t + from, t + to, s->text.size - to);
    s->text.size -= to - from;
}

std::size_t find_line_feed(const Splitter* s, std::size_t from) {
    const void* p = std::memchr(s->text.data + from, '\n', s->text.size - from);
    return p == nullptr ? s->text.size
                        : static_cast<std::size_t>(static_cast<const char*>(p) - s->text.data);
}

/*
 * Words. A statement's first words say where it can end:
 *
 *   1. CREATE [OR REPLACE|ALTER] [EDITIONABLE|NONEDITIONABLE] then
 *      PROCEDURE|PROC|FUNCTION|PACKAGE|TRIGGER|TYPE BODY: a routine, whose
 *      kind depends on the dialect (set_object).
 *   2. DECLARE or BEGIN: a PL/SQL block in oracle, possibly one in generic.
 *   3. COPY (scripts): FROM STDIN later means data lines follow.
 * Later words matter only for some kinds:
 *   4. generic possible unit: IS/AS followed by code, BEGIN/DECLARE (and
 *      COMPOUND for a trigger) are evidence for a unit; RETURNS, a quoted
 *      body after IS/AS, a cursor, BEGIN ATOMIC speak against it.
 *   5. postgres routine: BEGIN ... END nesting, CASE counted only inside.
 *   6. tsql, every statement: BEGIN/CASE ... END nesting, except BEGIN
 *      TRAN(SACTION)/DISTRIBUTED/DIALOG and END CONVERSATION.
 */

void set_object(Splitter* s, Word object) {
    StatementShape* sh = &s->shape;
    sh->lead = LEAD_DONE;
    bool routine = object == WORD_PROCEDURE || object == WORD_FUNCTION || object == WORD_PACKAGE ||
                   object == WORD_TYPE;
    switch (s->dialect) {
    case DIALECT_ORACLE:
        if (routine || object == WORD_TRIGGER) sh->kind = SHAPE_UNIT;
        break;
    case DIALECT_GENERIC:
        if (routine || object == WORD_TRIGGER) {
            sh->kind = SHAPE_MAYBE_UNIT;
            sh->candidate = routine ? CANDIDATE_ROUTINE : CANDIDATE_TRIGGER;
        }
        break;
    case DIALECT_POSTGRES:
        if (object == WORD_FUNCTION || object == WORD_PROCEDURE) sh->kind = SHAPE_PG_ROUTINE;
        break;
    case DIALECT_TSQL:
        if (object == WORD_PROCEDURE || object == WORD_PROC || object == WORD_FUNCTION ||
            object == WORD_TRIGGER) {
            sh->kind = SHAPE_TSQL_ROUTINE;
        }
        break;
    case DIALECT_MYSQL:
        break;
    }
}

void lead_first_word(Splitter* s, Word w) {
    StatementShape* sh = &s->shape;
    sh->lead = LEAD_DONE;
    switch (w) {
    case WORD_CREATE: // 1.
        sh->lead = LEAD_CREATE;
        break;
    case WORD_DECLARE: // 2.
    case WORD_BEGIN:
        if (s->dialect == DIALECT_ORACLE) sh->kind = SHAPE_UNIT;
        if (s->dialect == DIALECT_GENERIC) {
            sh->kind = SHAPE_MAYBE_UNIT;
            sh->candidate = w == WORD_BEGIN ? CANDIDATE_BEGIN : CANDIDATE_DECLARE;
            if (w == WORD_BEGIN) sh->lead = LEAD_BEGIN;
        }
        break;
    case WORD_COPY: // 3.
        if (s->script && (s->dialect == DIALECT_GENERIC || s->dialect == DIALECT_POSTGRES)) {
            sh->kind = SHAPE_COPY;
        }
        break;
    default:
        break;
    }
}

bool begins_transaction(Word w) {
    return w >= WORD_TRANSACTION || w == WORD_NOT || w == WORD_ATOMIC;
}

void tsql_block_word(StatementShape* sh, Word w) { // 6.
    if (w == WORD_BEGIN || w == WORD_CASE) {
        ++sh->block_depth;
    } else if (w == WORD_END) {
        sh->undo_end = sh->block_depth > 0;
        if (sh->undo_end) --sh->block_depth;
    } else if (sh->previous == WORD_BEGIN &&
               (w == WORD_TRAN || w == WORD_TRANSACTION || w == WORD_DISTRIBUTED ||
                w == WORD_DIALOG || w == WORD_CONVERSATION)) {
        --sh->block_depth;
    } else if (sh->previous == WORD_END && w == WORD_CONVERSATION && sh->undo_end) {
        ++sh->block_depth;
    }
}

void later_word(Splitter* s, Word w, bool literal_prefix) {
    StatementShape* sh = &s->shape;
    bool top = sh->paren_depth == 0;
    switch (sh->kind) {
    case SHAPE_MAYBE_UNIT:         // 4.
        if (literal_prefix) break; // E'..', q'..': the quote decides
        if (sh->after_is_as != WORD_OTHER) {
            bool expression = sh->after_is_as == WORD_IS &&
                              (w == WORD_NULL || w == WORD_NOT || w == WORD_TRUE ||
                               w == WORD_FALSE || w == WORD_UNKNOWN || w == WORD_DISTINCT);
            if (!expression) sh->evidence = true;
            sh->after_is_as = WORD_OTHER;
        }
        if (!top) break;
        if (sh->candidate == CANDIDATE_ROUTINE) {
            if (w == WORD_IS || w == WORD_AS) sh->after_is_as = w;
            if (w == WORD_RETURNS) sh->ruled_out = true;
        }
        if ((sh->candidate == CANDIDATE_ROUTINE || sh->candidate == CANDIDATE_TRIGGER) &&
            (w == WORD_BEGIN || w == WORD_DECLARE ||
             (w == WORD_COMPOUND && sh->candidate == CANDIDATE_TRIGGER))) {
            sh->evidence = true;
        }
        if (w == WORD_ATOMIC && sh->previous == WORD_BEGIN) sh->ruled_out = true;
        if (sh->candidate == CANDIDATE_DECLARE && w == WORD_CURSOR && sh->words >= 3) {
            sh->ruled_out = true;
        }
        break;
    case SHAPE_PG_ROUTINE: // 5.
        if (!top) break;
        if (w == WORD_BEGIN || (w == WORD_CASE && sh->block_depth > 0)) {
            ++sh->block_depth;
        } else if (w == WORD_END && sh->block_depth > 0) {
            --sh->block_depth;
        }
        break;
    case SHAPE_COPY:
        if (top && w == WORD_STDIN && sh->previous == WORD_FROM) sh->copy_from_stdin = true;
        break;
    default:
        break;
    }
}

void on_word(Splitter* s, const char* text, std::size_t length, bool literal_prefix) {
    StatementShape* sh = &s->shape;
    Word w = word_code(text, length);
    if (sh->words < 0xFFFFFFFFu) ++sh->words;
    if (s->dialect == DIALECT_TSQL) tsql_block_word(sh, w);
    switch (sh->lead) {
    case LEAD_START:
        lead_first_word(s, w);
        break;
    case LEAD_CREATE:
        if (w == WORD_OR && sh->previous == WORD_CREATE) {
            sh->lead = LEAD_OR;
        } else if (w == WORD_TYPE) {
            sh->lead = LEAD_TYPE;
        } else if (w == WORD_PROCEDURE || w == WORD_PROC || w == WORD_FUNCTION ||
                   w == WORD_PACKAGE || w == WORD_TRIGGER) {
            set_object(s, w);
        } else if (w != WORD_EDITIONABLE && w != WORD_NONEDITIONABLE && w != WORD_EDITIONING) {
            sh->lead = LEAD_DONE;
        }
        break;
    case LEAD_OR:
        sh->lead = (w == WORD_REPLACE || w == WORD_ALTER) ? LEAD_CREATE : LEAD_DONE;
        break;
    case LEAD_TYPE:
        if (w == WORD_BODY) {
            set_object(s, WORD_TYPE);
        } else {
            sh->lead = LEAD_DONE;
        }
        break;
    case LEAD_BEGIN:
        sh->lead = LEAD_DONE;
        sh->kind = begins_transaction(w) ? SHAPE_PLAIN : SHAPE_UNIT;
        break;
    default:
        later_word(s, w, literal_prefix);
        break;
    }
    sh->previous = w;
    sh->watching = sh->lead != LEAD_DONE || sh->kind == SHAPE_MAYBE_UNIT ||
                   sh->kind == SHAPE_PG_ROUTINE || sh->kind == SHAPE_COPY ||
                   s->dialect == DIALECT_TSQL;
}

// A quote or dollar quote opened in the open statement.
void quote_opened(Splitter* s) {
    if (s->shape.kind == SHAPE_MAYBE_UNIT) s->shape.after_is_as = WORD_OTHER;
}

// The first non-white byte of the open statement after its first `skip`
// bytes and before `end`, or 0 when there is none.
unsigned char next_text_byte(const Splitter* s, std::size_t skip, std::size_t end) {
    for (std::size_t k = s->start + skip; k < end; ++k) {
        if (!tables.white[byte_at(s->text.data, k)]) return byte_at(s->text.data, k);
    }
    return 0;
}

// Whether the possible unit that reached its first top-level ';' at `at`
// is one.
bool decide_unit(const Splitter* s, std::size_t at) {
    const StatementShape& sh = s->shape;
    switch (sh.candidate) {
    case CANDIDATE_ROUTINE:
    case CANDIDATE_TRIGGER:
        return sh.evidence && !sh.ruled_out;
    case CANDIDATE_DECLARE: // a T-SQL DECLARE names an @variable
        return !sh.ruled_out && next_text_byte(s, 7, at) != '@';
    case CANDIDATE_BEGIN: // "BEGIN;" is a transaction
        return next_text_byte(s, 5, at) != 0;
    default:
        return false;
    }
}

// Whether a delimiter at `at` ends the open statement.
bool ends_statement(Splitter* s, std::size_t at) {
    StatementShape* sh = &s->shape;
    if (s->dialect == DIALECT_POSTGRES && sh->paren_depth > 0) return false;
    switch (sh->kind) {
    case SHAPE_UNIT:
    case SHAPE_TSQL_ROUTINE:
        return false;
    case SHAPE_PG_ROUTINE:
        return sh->block_depth == 0;
    case SHAPE_MAYBE_UNIT:
        if (sh->paren_depth > 0) return false;
        sh->kind = decide_unit(s, at) ? SHAPE_UNIT : SHAPE_PLAIN;
        sh->watching = s->dialect == DIALECT_TSQL;
        return sh->kind == SHAPE_PLAIN;
    default:
        return s->dialect != DIALECT_TSQL || sh->block_depth <= 0;
    }
}

/*
 * Line-level checks, at the first byte of a line in code:
 *   /        generic, oracle: a line holding only '/' (blanks, a "--"
 *            comment may follow) ends the open statement
 *   GO       tsql: GO (any case) [count], blanks, a "--" comment
 *   :cmd !!  tsql scripts: sqlcmd command lines are cut out
 *   DELIMITER mysql scripts, between statements
 *   SQL*Plus oracle scripts, between statements: command lines are skipped
 * Each looks only as far as it must, so a long line that cannot match is
 * never held back waiting for its end.
 */

// Whether the line ends at i: a line feed, CR LF, "--", or the input's end.
// CHECK_WAIT when the bytes to tell are not there yet.
LineCheck line_ends_at(const Splitter* s, std::size_t i) {
    const char* t = s->text.data;
    std::size_t end = s->text.size;
    if (i == end) return s->finished ? CHECK_DONE : CHECK_WAIT;
    if (t[i] == '\n') return CHECK_DONE;
    if (t[i] == '\r' || t[i] == '-') {
        if (i + 1 == end)
            return s->finished ? (t[i] == '\r' ? CHECK_DONE : CHECK_NONE) : CHECK_WAIT;
        if ((t[i] == '\r' && t[i + 1] == '\n') || (t[i] == '-' && t[i + 1] == '-')) {
            return CHECK_DONE;
        }
    }
    return CHECK_NONE;
}

std::size_t skip_blanks(const Splitter* s, std::size_t i) {
    while (i < s->text.size && is_blank(byte_at(s->text.data, i))) ++i;
    return i;
}

// The line at `line_begin` is a terminator line whose end starts at `rest`.
LineCheck end_by_line(Splitter* s, std::size_t line_begin, std::size_t rest) {
    if (s->start != NO_STATEMENT && !emit(s, line_begin)) return CHECK_DONE;
    s->scan = rest; // the line feed or "--" comment is scanned as code
    return CHECK_DONE;
}

LineCheck check_slash_line(Splitter* s, std::size_t i) {
    std::size_t rest = skip_blanks(s, i + 1);
    LineCheck r = line_ends_at(s, rest);
    return r == CHECK_DONE ? end_by_line(s, i, rest) : r;
}

LineCheck check_go_line(Splitter* s, std::size_t i) {
    const char* t = s->text.data;
    if (must_wait(s, i, 2)) return CHECK_WAIT;
    if (i + 1 >= s->text.size || upper(byte_at(t, i + 1)) != 'O') return CHECK_NONE;
    std::size_t rest = skip_blanks(s, i + 2);
    while (rest < s->text.size && t[rest] >= '0' && t[rest] <= '9') ++rest;
    rest = skip_blanks(s, rest);
    LineCheck r = line_ends_at(s, rest);
    return r == CHECK_DONE ? end_by_line(s, i, rest) : r;
}

// A client command line at i: skipped between statements, cut out of an
// open statement (which needs the whole line).
LineCheck drop_command_line(Splitter* s, std::size_t i) {
    if (s->start == NO_STATEMENT) {
        s->scan = i;
        s->state = STATE_SKIP_LINE;
        s->skip_continues = false;
        return CHECK_DONE;
    }
    std::size_t eol = find_line_feed(s, i);
    if (eol == s->text.size && !s->finished) return CHECK_WAIT;
    cut_out(s, i, eol);
    s->scan = i;
    return CHECK_DONE;
}

LineCheck check_sqlcmd_line(Splitter* s, std::size_t i) {
    if (must_wait(s, i, 2)) return CHECK_WAIT;
    if (i + 1 >= s->text.size) return CHECK_NONE;
    unsigned char c = byte_at(s->text.data, i);
    unsigned char next = byte_at(s->text.data, i + 1);
    if ((c == ':' && is_letter(next)) || (c == '!' && next == '!')) return drop_command_line(s, i);
    return CHECK_NONE;
}

LineCheck check_delimiter_line(Splitter* s, std::size_t i) {
    const char* t = s->text.data;
    const std::size_t word = 9; // "DELIMITER"
    if (must_wait(s, i, word + 1)) return CHECK_WAIT;
    if (s->text.size - i < word + 1 || !equals_folded(t + i, word, "DELIMITER") ||
        !is_blank(byte_at(t, i + word))) {
        return CHECK_NONE;
    }
    std::size_t eol = find_line_feed(s, i);
    if (eol == s->text.size && !s->finished) return CHECK_WAIT;
    std::size_t from = skip_blanks(s, i + word);
    std::size_t to = from;
    while (to < eol && !tables.white[byte_at(t, to)]) ++to;
    if (to > from) set_delimiter(s, t + from, to - from);
    s->scan = eol;
    return CHECK_DONE;
}

// SQL*Plus commands with the shortest abbreviation each accepts. SET is a
// command unless SET TRANSACTION, SET ROLE or SET CONSTRAINT(S) follows.
struct ClientCommand {
    const char* name;
    std::size_t shortest;
};
const ClientCommand SQLPLUS_COMMANDS[] = {
    {"ACCEPT", 3},   {"ARCHIVE", 4},    {"ATTRIBUTE", 4}, {"BREAK", 3},     {"BTITLE", 3},
    {"CLEAR", 2},    {"COLUMN", 3},     {"COMPUTE", 4},   {"CONNECT", 4},   {"DEFINE", 3},
    {"DESCRIBE", 4}, {"DISCONNECT", 4}, {"EXECUTE", 4},   {"EXIT", 4},      {"HOST", 2},
    {"PASSWORD", 5}, {"PAUSE", 3},      {"PRINT", 3},     {"PROMPT", 3},    {"QUIT", 4},
    {"RECOVER", 7},  {"REMARK", 3},     {"REPFOOTER", 4}, {"REPHEADER", 4}, {"SAVE", 3},
    {"SET", 3},      {"SHOW", 3},       {"SHUTDOWN", 8},  {"SPOOL", 3},     {"START", 3},
    {"STARTUP", 7},  {"STORE", 4},      {"TIMING", 4},    {"TTITLE", 3},    {"UNDEFINE", 5},
    {"VARIABLE", 3}, {"WHENEVER", 8},
};

bool is_sqlplus_command(const char* text, std::size_t length) {
    for (const ClientCommand& c : SQLPLUS_COMMANDS) {
        if (length >= c.shortest && length <= std::strlen(c.name)) {
            bool prefix = true;
            for (std::size_t k = 0; k < length && prefix; ++k) {
                prefix = upper(byte_at(text, k)) == static_cast<unsigned char>(c.name[k]);
            }
            if (prefix) return true;
        }
    }
    return false;
}

LineCheck check_sqlplus_line(Splitter* s, std::size_t i) {
    const char* t = s->text.data;
    std::size_t end = s->text.size;
    if (t[i] == '@' || t[i] == '!') return drop_command_line(s, i); // @file, @@file, !cmd
    std::size_t j = i;
    while (j < end && is_letter(byte_at(t, j))) ++j;
    if (j == end && !s->finished) return CHECK_WAIT;
    if (j == i || (j < end && tables.identifier[byte_at(t, j)])) return CHECK_NONE;
    if (!is_sqlplus_command(t + i, j - i)) return CHECK_NONE;
    if (equals_folded(t + i, j - i, "SET")) {
        std::size_t k = skip_blanks(s, j);
        std::size_t w = k;
        while (w < end && is_letter(byte_at(t, w))) ++w;
        if (w == end && !s->finished) return CHECK_WAIT;
        if (equals_folded(t + k, w - k, "TRANSACTION") || equals_folded(t + k, w - k, "ROLE") ||
            equals_folded(t + k, w - k, "CONSTRAINT") ||
            equals_folded(t + k, w - k, "CONSTRAINTS")) {
            return CHECK_NONE;
        }
    }
    return drop_command_line(s, i);
}

LineCheck check_line(Splitter* s) {
    std::size_t i = skip_blanks(s, s->scan);
    if (i == s->text.size) {
        if (!s->finished) return CHECK_WAIT;
        s->scan = i;
        return CHECK_NONE;
    }
    unsigned char c = byte_at(s->text.data, i);
    bool between = s->start == NO_STATEMENT;
    LineCheck r = CHECK_NONE;
    switch (s->dialect) {
    case DIALECT_GENERIC:
    case DIALECT_ORACLE:
        if (c == '/') {
            r = check_slash_line(s, i);
        } else if (s->dialect == DIALECT_ORACLE && s->script && between) {
            r = check_sqlplus_line(s, i);
        }
        break;
    case DIALECT_TSQL:
        if (c == 'G' || c == 'g') r = check_go_line(s, i);
        if (s->script && (c == ':' || c == '!')) r = check_sqlcmd_line(s, i);
        break;
    case DIALECT_MYSQL:
        if (s->script && between && (c == 'D' || c == 'd')) r = check_delimiter_line(s, i);
        break;
    case DIALECT_POSTGRES:
        break;
    }
    if (r == CHECK_NONE) s->scan = i;
    return r;
}

// Client command names of psql that act on the statement before them.
enum MetaAction { META_OTHER, META_SEND, META_RESET, META_COPY };

MetaAction meta_action(const char* name, std::size_t length) {
    static const char* const SEND[] = {"g",     "gx",           "gset",  "gexec",
                                       "gdesc", "crosstabview", "watch", "G"};
    for (const char* n : SEND) {
        if (std::strlen(n) == length && std::memcmp(n, name, length) == 0) return META_SEND;
    }
    if ((length == 1 && name[0] == 'r') || (length == 5 && std::memcmp(name, "reset", 5) == 0)) {
        return META_RESET;
    }
    if (length == 4 && std::memcmp(name, "copy", 4) == 0) return META_COPY;
    return META_OTHER;
}

// Whether text[from, to) holds the word FROM and later the word STDIN or
// PSTDIN (any case): \copy reading its data from the script.
bool copies_from_stdin(const char* t, std::size_t from, std::size_t to) {
    bool seen_from = false;
    std::size_t k = from;
    while (k < to) {
        while (k < to && !is_letter(byte_at(t, k))) ++k;
        std::size_t w = k;
        while (w < to && tables.identifier[byte_at(t, w)]) ++w;
        if (equals_folded(t + k, w - k, "FROM")) seen_from = true;
        if (seen_from &&
            (equals_folded(t + k, w - k, "STDIN") || equals_folded(t + k, w - k, "PSTDIN"))) {
            return true;
        }
        k = w;
    }
    return false;
}

// A psql backslash command at i (a letter or ! or ? follows the backslash):
// it runs to the end of its line. False to wait for the line's end.
bool meta_command(Splitter* s, std::size_t i) {
    std::size_t eol = find_line_feed(s, i);
    if (eol == s->text.size && !s->finished) return false;
    const char* t = s->text.data;
    std::size_t name_end = i + 1;
    while (name_end < eol && is_letter(byte_at(t, name_end))) ++name_end;
    MetaAction action = meta_action(t + i + 1, name_end - i - 1);
    if (action == META_COPY && copies_from_stdin(t, name_end, eol)) s->copy_pending = true;
    if (s->start == NO_STATEMENT) {
        s->scan = eol;
    } else if (action == META_SEND) {
        emit(s, i);
        s->scan = eol;
    } else if (action == META_RESET) {
        s->start = NO_STATEMENT;
        s->scan = eol;
    } else {
        cut_out(s, i, eol);
        s->scan = i;
    }
    return true;
}

/*
 * The code scan. Runs over the held bytes from `scan` until the state
 * changes (true) or it must stop (false): the bytes ran out, it waits for
 * bytes that decide what it stands on, or the splitter stopped. A wait
 * leaves `scan` on the undecided byte, so the next feed looks at it again.
 */
bool scan_code(Splitter* s) {
    if (s->line_start && s->line_checks) {
        s->line_start = false;
        LineCheck r = check_line(s);
        if (r == CHECK_WAIT) {
            s->line_start = true;
            return false;
        }
        if (r == CHECK_DONE) return !s->stopped;
    }
    s->line_start = false;
    char* t = s->text.data;
    std::size_t end = s->text.size;
    std::size_t i = s->scan;
    while (i < end) {
        const std::uint8_t* cls =
            s->shape.watching && s->start != NO_STATEMENT ? s->word_class : s->code_class;
        unsigned char b = byte_at(t, i);
        std::uint8_t c = cls[b];
        if (c == CLASS_PLAIN || (c == CLASS_SPACE && s->start != NO_STATEMENT)) {
            if (s->start == NO_STATEMENT) {
                open_statement(s, i);
                continue; // the statement's first byte may be watched as a word
            }
            do ++i;
            while (i < end && cls[byte_at(t, i)] <= CLASS_SPACE);
            continue;
        }
    dispatch:
        switch (c) {
        case CLASS_SPACE: // between statements
            ++i;
            break;
        case CLASS_NEWLINE:
            ++i;
            ++s->line;
            if (s->copy_pending) {
                s->copy_pending = false;
                s->scan = i;
                s->state = STATE_COPY_DATA;
                s->line_start = true;
                s->open_line = s->line;
                return true;
            }
            if (s->line_checks) {
                s->scan = i;
                s->line_start = true;
                return true;
            }
            break;
        case CLASS_DELIMITER: {
            std::size_t length = s->delimiter_length;
            if (!default_delimiter(s)) {
                if (must_wait(s, i, length)) {
                    s->scan = i;
                    return false;
                }
                if (end - i < length || std::memcmp(t + i, s->delimiter, length) != 0) {
                    c = s->delimiter_base_class;
                    if (c == CLASS_DELIMITER) c = CLASS_PLAIN;
                    if (c == CLASS_PLAIN) {
                        if (s->start == NO_STATEMENT) open_statement(s, i);
                        ++i;
                        break;
                    }
                    goto dispatch;
                }
            }
            if (s->start == NO_STATEMENT) {
                i += length;
                break;
            }
            if (!ends_statement(s, i)) {
                ++i;
                break;
            }
            if (!emit(s, i)) {
                s->scan = i + length;
                return false;
            }
            i += length;
            break;
        }
        case CLASS_QUOTE: {
            if (s->start == NO_STATEMENT) open_statement(s, i);
            bool q_quote = false;
            if (b == '\'' && (s->dialect == DIALECT_GENERIC || s->dialect == DIALECT_ORACLE) &&
                i > s->start && upper(byte_at(t, i - 1)) == 'Q') {
                std::size_t before = i - 1; // q'..' or nq'..', not the end of a name
                if (before > s->start && upper(byte_at(t, before - 1)) == 'N') --before;
                q_quote = !identifier_before(s, before);
            }
            if (q_quote) {
                if (must_wait(s, i, 2)) {
                    s->scan = i;
                    return false;
                }
                if (i + 1 < end) {
                    unsigned char open = byte_at(t, i + 1);
                    char close = static_cast<char>(open);
                    if (open == '[') close = ']';
                    if (open == '{') close = '}';
                    if (open == '(') close = ')';
                    if (open == '<') close = '>';
                    s->close_quote = close;
                    s->state = STATE_QQUOTE;
                    s->open_line = s->line;
                    s->scan = i + 2;
                    quote_opened(s);
                    return true;
                }
            }
            s->close_quote = b == '[' ? ']' : static_cast<char>(b);
            s->quote_escapes = (s->dialect == DIALECT_MYSQL && (b == '\'' || b == '"')) ||
                               (s->dialect == DIALECT_POSTGRES && b == '\'' && i > s->start &&
                                upper(byte_at(t, i - 1)) == 'E' && !identifier_before(s, i - 1));
            s->state = STATE_QUOTE;
            s->open_line = s->line;
            s->scan = i + 1;
            quote_opened(s);
            return true;
        }
        case CLASS_DASH: {
            if (must_wait(s, i, 2)) {
                s->scan = i;
                return false;
            }
            bool comment = i + 1 < end && t[i + 1] == '-';
            if (comment && s->dialect == DIALECT_MYSQL) { // "--" then white space or control
                if (must_wait(s, i, 3)) {
                    s->scan = i;
                    return false;
                }
                comment = i + 2 == end || byte_at(t, i + 2) <= ' ';
            }
            if (comment) {
                s->state = STATE_LINE_COMMENT;
                s->scan = i + 2;
                return true;
            }
            if (s->start == NO_STATEMENT) open_statement(s, i);
            ++i;
            break;
        }
        case CLASS_SLASH: {
            if (must_wait(s, i, 3)) {
                s->scan = i;
                return false;
            }
            if (i + 1 < end && t[i + 1] == '*') {
                if (s->dialect == DIALECT_MYSQL && i + 2 < end && t[i + 2] == '!') {
                    if (s->start == NO_STATEMENT) open_statement(s, i);
                    s->exec_comment = true;
                    i += 3;
                    break;
                }
                s->state = STATE_BLOCK_COMMENT;
                s->comment_depth = 1;
                s->open_line = s->line;
                s->scan = i + 2;
                return true;
            }
            if (s->start == NO_STATEMENT) open_statement(s, i);
            ++i;
            break;
        }
        case CLASS_STAR:
            if (s->exec_comment) {
                if (must_wait(s, i, 2)) {
                    s->scan = i;
                    return false;
                }
                if (i + 1 < end && t[i + 1] == '/') {
                    s->exec_comment = false;
                    i += 2;
                    break;
                }
            }
            if (s->start == NO_STATEMENT) open_statement(s, i);
            ++i;
            break;
        case CLASS_BACKSLASH: {
            if (must_wait(s, i, 2)) {
                s->scan = i;
                return false;
            }
            unsigned char next = i + 1 < end ? byte_at(t, i + 1) : 0;
            if (next == '*') {
                s->state = STATE_STAR_COMMENT;
                s->open_line = s->line;
                s->scan = i + 2;
                return true;
            }
            bool psql =
                s->script && (s->dialect == DIALECT_GENERIC || s->dialect == DIALECT_POSTGRES);
            if (psql && next == ';') {
                if (s->start != NO_STATEMENT && !emit(s, i)) {
                    s->scan = i + 2;
                    return false;
                }
                i += 2;
                break;
            }
            if (psql && (is_letter(next) || next == '!' || next == '?')) {
                if (!meta_command(s, i)) {
                    s->scan = i;
                    return false;
                }
                return !s->stopped;
            }
            if (s->script && s->dialect == DIALECT_MYSQL && s->start != NO_STATEMENT &&
                (next == 'g' || next == 'G' || next == 'c')) {
                if (next == 'c') {
                    s->start = NO_STATEMENT;
                } else if (!emit(s, i)) {
                    s->scan = i + 2;
                    return false;
                }
                i += 2;
                break;
            }
            if (s->start == NO_STATEMENT) open_statement(s, i);
            ++i;
            break;
        }
        case CLASS_DOLLAR: {
            if (identifier_before(s, i)) {
                ++i;
                break;
            }
            std::size_t j = i + 1;
            while (j < end && (is_letter(byte_at(t, j)) || t[j] == '_' || byte_at(t, j) >= 0x80 ||
                               (j > i + 1 && t[j] >= '0' && t[j] <= '9'))) {
                ++j;
            }
            if (j == end && !s->finished) {
                s->scan = i;
                return false;
            }
            if (s->start == NO_STATEMENT) open_statement(s, i);
            if (j < end && t[j] == '$') {
                s->tag_offset = i + 1 - s->start;
                s->tag_length = j - i - 1;
                s->state = STATE_DOLLAR;
                s->open_line = s->line;
                s->scan = j + 1;
                quote_opened(s);
                return true;
            }
            ++i;
            break;
        }
        case CLASS_HASH:
            s->state = STATE_LINE_COMMENT;
            s->scan = i + 1;
            return true;
        case CLASS_OPEN:
            if (s->start == NO_STATEMENT) open_statement(s, i);
            ++s->shape.paren_depth;
            ++i;
            break;
        case CLASS_CLOSE:
            if (s->start == NO_STATEMENT) open_statement(s, i);
            if (s->shape.paren_depth > 0) --s->shape.paren_depth;
            ++i;
            break;
        case CLASS_LETTER: {
            std::size_t j = i + 1;
            bool oracle = s->dialect == DIALECT_ORACLE;
            while (j < end && (tables.identifier[byte_at(t, j)] || (oracle && t[j] == '#'))) ++j;
            if (j == end && !s->finished) {
                s->scan = i;
                return false;
            }
            on_word(s, t + i, j - i, j < end && t[j] == '\'');
            i = j;
            break;
        }
        default:
            ++i;
            break;
        }
    }
    s->scan = i;
    return false;
}

// Bytes that stop the run inside a quote: its closing byte, the line feed
// (counted), and a backslash where it escapes. One table per quote kind.
struct QuoteStops {
    bool stop[2][256]; // [quote_escapes][byte], for the closing byte `close`
    constexpr explicit QuoteStops(unsigned char close) : stop() {
        for (int b = 0; b < 256; ++b) {
            stop[0][b] = b == close || b == '\n';
            stop[1][b] = stop[0][b] || b == '\\';
        }
    }
};
constexpr QuoteStops APOSTROPHE_STOPS('\'');
constexpr QuoteStops DOUBLE_QUOTE_STOPS('"');
constexpr QuoteStops BACKTICK_STOPS('`');
constexpr QuoteStops BRACKET_STOPS(']');

const bool* quote_stops(char close, bool escapes) {
    const QuoteStops& q = close == '\''  ? APOSTROPHE_STOPS
                          : close == '"' ? DOUBLE_QUOTE_STOPS
                          : close == '`' ? BACKTICK_STOPS
                                         : BRACKET_STOPS;
    return q.stop[escapes ? 1 : 0];
}

bool scan_quote(Splitter* s) {
    const char* t = s->text.data;
    std::size_t end = s->text.size;
    std::size_t i = s->scan;
    char close = s->close_quote;
    const bool* stop = quote_stops(close, s->quote_escapes);
    while (i < end) {
        char b = t[i];
        if (!stop[static_cast<unsigned char>(b)]) {
            ++i;
            continue;
        }
        if (b == '\n') {
            ++s->line;
            ++i;
        } else if (b == '\\') { // only stops the run where it escapes
            if (i + 1 == end) {
                if (!s->finished) break;
                ++i;
                continue;
            }
            if (t[i + 1] == '\n') ++s->line;
            i += 2;
        } else {
            if (i + 1 == end && !s->finished) break;
            if (i + 1 < end && t[i + 1] == close) { // doubled: a quoted quote
                i += 2;
                continue;
            }
            s->scan = i + 1;
            s->state = STATE_CODE;
            return true;
        }
    }
    s->scan = i;
    return false;
}

// Scans to the first `close` directly followed by `then`, which ends the
// state: the end of a q'[...]' quote or of a \* ... *\ comment.
bool scan_to_pair(Splitter* s, char close, char then) {
    const char* t = s->text.data;
    std::size_t end = s->text.size;
    std::size_t i = s->scan;
    while (i < end) {
        if (t[i] == '\n') ++s->line;
        if (t[i] == close) {
            if (i + 1 == end && !s->finished) break;
            if (i + 1 < end && t[i + 1] == then) {
                s->scan = i + 2;
                s->state = STATE_CODE;
                return true;
            }
        }
        ++i;
    }
    s->scan = i;
    return false;
}

bool scan_qquote(Splitter* s) {
    return scan_to_pair(s, s->close_quote, '\'');
}

bool scan_dollar(Splitter* s) {
    const char* t = s->text.data;
    std::size_t end = s->text.size;
    std::size_t i = s->scan;
    std::size_t length = s->tag_length;
    while (i < end) {
        char b = t[i];
        if (b == '\n') {
            ++s->line;
        } else if (b == '$') {
            if (end - i < length + 2) {
                if (!s->finished) break;
            } else if (std::memcmp(t + i + 1, t + s->start + s->tag_offset, length) == 0 &&
                       t[i + 1 + length] == '$') {
                s->scan = i + length + 2;
                s->state = STATE_CODE;
                return true;
            }
        }
        ++i;
    }
    s->scan = i;
    return false;
}

bool scan_block_comment(Splitter* s) {
    const char* t = s->text.data;
    std::size_t end = s->text.size;
    std::size_t i = s->scan;
    bool nested = s->dialect == DIALECT_POSTGRES || s->dialect == DIALECT_TSQL;
    while (i < end) {
        char b = t[i];
        if (b == '\n') {
            ++s->line;
        } else if (b == '*' || (b == '/' && nested)) {
            if (i + 1 == end) {
                if (!s->finished) break;
            } else if (b == '*' && t[i + 1] == '/') {
                i += 2;
                if (--s->comment_depth == 0) {
                    s->scan = i;
                    s->state = STATE_CODE;
                    return true;
                }
                continue;
            } else if (b == '/' && t[i + 1] == '*') {
                ++s->comment_depth;
                i += 2;
                continue;
            }
        }
        ++i;
    }
    s->scan = i;
    return false;
}

bool scan_line_comment(Splitter* s) {
    std::size_t eol = find_line_feed(s, s->scan);
    s->scan = eol;
    if (eol == s->text.size) return false;
    s->state = STATE_CODE; // the line feed is counted and checked in code
    return true;
}

// \* ... *\ : closed by the first '*' directly followed by a backslash, as
// the lexer reads it.
bool scan_star_comment(Splitter* s) {
    return scan_to_pair(s, '*', '\\');
}

// COPY data: whole lines up to one holding only "\." (a CR may precede its
// line feed). No statement is open, so skipped lines are dropped at the
// next compaction.
bool scan_copy_data(Splitter* s) {
    const char* t = s->text.data;
    std::size_t end = s->text.size;
    std::size_t i = s->scan;
    for (;;) {
        if (s->line_start) {
            if (must_wait(s, i, 4)) {
                s->scan = i;
                return false;
            }
            if (end - i >= 2 && t[i] == '\\' && t[i + 1] == '.') {
                std::size_t k = i + 2;
                if (k < end && t[k] == '\r') ++k;
                if (k == end || t[k] == '\n') {
                    s->scan = i + 2;
                    s->state = STATE_CODE;
                    s->line_start = false;
                    return true;
                }
            }
        }
        const void* p = std::memchr(t + i, '\n', end - i);
        if (p == nullptr) {
            s->scan = end;
            s->line_start = i == end && s->line_start;
            return false;
        }
        i = static_cast<std::size_t>(static_cast<const char*>(p) - t) + 1;
        ++s->line;
        s->line_start = true;
    }
}

// A client command line being skipped; in oracle a line whose last byte
// (before any CR) is '-' continues on the next.
bool scan_skip_line(Splitter* s) {
    const char* t = s->text.data;
    std::size_t end = s->text.size;
    for (;;) {
        std::size_t i = s->scan;
        std::size_t eol = find_line_feed(s, i);
        std::size_t last = eol;
        while (last > i && t[last - 1] == '\r') --last;
        if (last > i) s->skip_continues = s->dialect == DIALECT_ORACLE && t[last - 1] == '-';
        s->scan = eol;
        if (eol == end) return false;
        if (!s->skip_continues) {
            s->state = STATE_CODE;
            return true;
        }
        s->skip_continues = false;
        s->scan = eol + 1;
        ++s->line;
    }
}

void run(Splitter* s) {
    for (;;) {
        if (s->stopped) return;
        bool more = false;
        switch (s->state) {
        case STATE_CODE:
            more = scan_code(s);
            break;
        case STATE_QUOTE:
            more = scan_quote(s);
            break;
        case STATE_QQUOTE:
            more = scan_qquote(s);
            break;
        case STATE_DOLLAR:
            more = scan_dollar(s);
            break;
        case STATE_BLOCK_COMMENT:
            more = scan_block_comment(s);
            break;
        case STATE_LINE_COMMENT:
            more = scan_line_comment(s);
            break;
        case STATE_STAR_COMMENT:
            more = scan_star_comment(s);
            break;
        case STATE_COPY_DATA:
            more = scan_copy_data(s);
            break;
        case STATE_SKIP_LINE:
            more = scan_skip_line(s);
            break;
        default:
            return;
        }
        if (!more) return;
    }
}

// Drops the bytes no longer needed: everything before the open statement,
// or before `scan` when none is open.
void compact(Splitter* s) {
    std::size_t keep = s->start != NO_STATEMENT ? s->start : s->scan;
    if (keep == 0) return;
    std::memmove(s->text.data, s->text.data + keep, s->text.size - keep);
    s->text.size -= keep;
    s->scan -= keep;
    if (s->start != NO_STATEMENT) s->start -= keep;
}

void clear_input(Splitter* s) {
    s->text.size = 0;
    s->scan = 0;
    s->start = NO_STATEMENT;
    s->state = STATE_CODE;
    s->line_start = true;
    s->copy_pending = false;
    s->exec_comment = false;
    s->skip_continues = false;
    s->finished = false;
    s->comment_depth = 0;
    s->shape = StatementShape{};
}

} // namespace

void splitter_init(Splitter* s, Dialect dialect, bool script, SplitterEvents events) {
    *s = Splitter{};
    s->dialect = dialect;
    s->script = script;
    s->events = events;
    s->line_checks = dialect == DIALECT_GENERIC || dialect == DIALECT_ORACLE ||
                     dialect == DIALECT_TSQL || (dialect == DIALECT_MYSQL && script);
    set_delimiter(s, ";", 1);
    clear_input(s);
    s->line = 1;
}

void splitter_reset(Splitter* s, std::int64_t first_line) {
    clear_input(s);
    s->line = first_line;
    if (!default_delimiter(s)) set_delimiter(s, ";", 1);
}

bool splitter_feed(Splitter* s, const char* bytes, std::size_t length) {
    if (s->stopped) return false;
    if (length == 0) return true;
    if (length > static_cast<std::size_t>(-1) - s->text.size - 1) {
        s->stopped = s->out_of_memory = true;
        return false;
    }
    if (s->text.size + length + 1 > s->text.capacity) {
        compact(s);
        if (!buffer_reserve(&s->text, s->text.size + length + 1)) {
            s->stopped = s->out_of_memory = true;
            return false;
        }
    }
    std::memcpy(s->text.data + s->text.size, bytes, length);
    s->text.size += length;
    run(s);
    return !s->stopped;
}

bool splitter_finish(Splitter* s) {
    if (s->stopped) return false;
    if (!buffer_reserve(&s->text, s->text.size + 1)) {
        s->stopped = s->out_of_memory = true;
        return false;
    }
    s->finished = true;
    run(s);
    if (s->stopped) return false;
    switch (s->state) {
    case STATE_QUOTE:
    case STATE_QQUOTE:
    case STATE_DOLLAR:
        s->events.warning(s->events.context, SPLIT_OPEN_QUOTE, s->open_line);
        break;
    case STATE_BLOCK_COMMENT:
    case STATE_STAR_COMMENT:
        s->events.warning(s->events.context, SPLIT_OPEN_COMMENT, s->open_line);
        break;
    case STATE_COPY_DATA:
        s->events.warning(s->events.context, SPLIT_OPEN_COPY, s->open_line);
        break;
    default:
        if (s->start != NO_STATEMENT && s->shape.kind == SHAPE_UNIT) {
            s->events.warning(s->events.context, SPLIT_OPEN_UNIT, s->start_line);
        }
        break;
    }
    bool ok = s->start == NO_STATEMENT || emit(s, s->text.size);
    clear_input(s);
    return ok;
}

void splitter_free(Splitter* s) {
    buffer_free(&s->text);
}
