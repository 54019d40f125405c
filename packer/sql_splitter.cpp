#include "packer/sql_splitter.h"

namespace {

inline bool is_blank(int c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

inline bool is_space(int c) {
    return is_blank(c) || c == '\n';
}

// The state of one input's split. Between statements nothing is kept;
// inside one, every byte read is kept in `text`, so that the statement is
// always text[0..length) and an end found later cuts it at a position.
struct Splitter {
    InputStream* in;
    StatementText* text;
    bool in_statement;
    StatementHandler handle;
    void* context;
};

// Hands text[0..end) on (trimmed, unless empty) and goes between statements.
void finish(Splitter* s, std::size_t end) {
    std::size_t first;
    std::size_t last;
    statement_trim(s->text, end, &first, &last);
    if (first < last) s->handle(s->context, s->text->data + first, last - first);
    s->text->length = 0;
    s->in_statement = false;
}

// The next byte, kept when inside a statement; -1 at the end.
inline int take(Splitter* s) {
    int c = input_get(s->in);
    if (s->in_statement && c >= 0) statement_add(s->text, c);
    return c;
}

// True when the next bytes end the line: a line feed, the end of the
// input, or a "--" comment.
bool at_line_end(InputStream* in) {
    int c = input_peek(in, 0);
    return c < 0 || c == '\n' || (c == '-' && input_peek(in, 1) == '-');
}

// Reads up to the line feed, which is left for the caller.
void skip_to_line_end(Splitter* s) {
    for (int c = input_peek(s->in, 0); c >= 0 && c != '\n'; c = input_peek(s->in, 0)) take(s);
}

// After "/*": up to and with the closing "*/". The star of the opening
// does not close it ("/*/" is still open).
void skip_block_comment(Splitter* s) {
    bool star = false;
    for (int c = take(s); c >= 0; c = take(s)) {
        if (star && c == '/') return;
        star = c == '*';
    }
}

// After an opening quote: up to and with the closing one; a doubled quote
// stays inside.
void skip_quoted(Splitter* s, int quote) {
    for (int c = take(s); c >= 0; c = take(s)) {
        if (c != quote) continue;
        if (input_peek(s->in, 0) != quote) return;
        take(s);
    }
}

/*
 * At the start of a line: is it a line that holds only '/'?
 * 1. Blanks are read as anywhere else (kept inside a statement).
 * 2. The '/' and the blanks after it are kept even between statements,
 *    since they begin one when the line turns out to be no '/' line.
 * 3. A '/' line ends the statement before the line; the rest of the line
 *    (blanks, a comment) is dropped up to its line feed. Returns true.
 * 4. A star right after the slash opens a block comment, dropped between
 *    statements.
 * 5. Otherwise the '/' begins the statement or goes on with it.
 */
bool slash_line(Splitter* s) {
    InputStream* in = s->in;
    std::size_t line_begin = s->text->length;
    while (is_blank(input_peek(in, 0))) take(s); // 1.
    if (input_peek(in, 0) != '/') return false;
    std::size_t slash_at = s->text->length; // 2.
    statement_add(s->text, input_get(in));
    bool blank_after = false;
    while (is_blank(input_peek(in, 0))) {
        statement_add(s->text, input_get(in));
        blank_after = true;
    }
    if (at_line_end(in)) { // 3.
        if (s->in_statement) {
            finish(s, line_begin);
        } else {
            s->text->length = 0;
        }
        skip_to_line_end(s);
        return true;
    }
    if (!blank_after && input_peek(in, 0) == '*') { // 4.
        if (!s->in_statement) s->text->length = slash_at;
        take(s);
        skip_block_comment(s);
        return false;
    }
    s->in_statement = true; // 5.
    return false;
}

} // namespace

void split_statements(InputStream* in, StatementText* text, StatementHandler handle,
                      void* context) {
    Splitter s = {in, text, false, handle, context};
    text->length = 0;
    bool line_start = true;
    for (;;) {
        if (line_start) {
            line_start = false;
            if (slash_line(&s)) continue;
        }
        int c = input_get(in);
        if (c < 0) break;
        if (c == '\n') {
            if (s.in_statement) statement_add(text, c);
            line_start = true;
            continue;
        }
        if ((c == '-' && input_peek(in, 0) == '-') || (c == '/' && input_peek(in, 0) == '*')) {
            if (s.in_statement) statement_add(text, c);
            if (c == '-') {
                skip_to_line_end(&s);
            } else {
                take(&s);
                skip_block_comment(&s);
            }
            continue;
        }
        if (!s.in_statement) {
            if (is_space(c)) continue;
            s.in_statement = true;
        }
        statement_add(text, c);
        if (c == '\'' || c == '"') {
            skip_quoted(&s, c);
        } else if (c == ';') {
            // The end, if only blanks and maybe a comment follow on the line;
            // the blanks are kept in case it is not.
            std::size_t end = text->length - 1;
            while (is_blank(input_peek(in, 0))) take(&s);
            if (at_line_end(in)) finish(&s, end);
        }
    }
    if (s.in_statement) finish(&s, text->length);
}

void split_lines(InputStream* in, StatementText* text, StatementHandler handle, void* context) {
    Splitter s = {in, text, true, handle, context};
    text->length = 0;
    for (int c = input_get(in);; c = input_get(in)) {
        if (c < 0 || c == '\n') {
            finish(&s, text->length);
            if (c < 0) break;
            continue;
        }
        statement_add(text, c);
    }
}
