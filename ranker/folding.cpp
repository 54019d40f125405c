#include "ranker/folding.h"

#include "platform/allocation.h"

#include <cstring>

namespace {

// The output and a second buffer for the comments' pass when both run.
FoldBuffer scratch = {nullptr, 0};

void reserve(FoldBuffer* b, std::size_t size) {
    if (b->capacity >= size) return;
    b->capacity = size < 256 ? 256 : size;
    b->data = static_cast<char*>(checked_realloc(b->data, b->capacity, NOT_ENOUGH_MEMORY));
}

// End of the token at p: the next blank or the end.
const char* token_end(const char* p, const char* end) {
    const void* blank = std::memchr(p, ' ', static_cast<std::size_t>(end - p));
    return blank != nullptr ? static_cast<const char*>(blank) : end;
}

bool token_is(const char* p, const char* end, const char* token) {
    std::size_t n = std::strlen(token);
    return static_cast<std::size_t>(end - p) >= n && std::memcmp(p, token, n) == 0 &&
           (p + n == end || p[n] == ' ');
}

// Appends a token, with the blank before it unless it is the first.
void put(char** out, const char* start, const char* p, std::size_t n) {
    if (*out != start) *(*out)++ = ' ';
    std::memcpy(*out, p, n);
    *out += n;
}

// End of the comment that starts at p ("\*..."): past the "\" token of the
// first "* \" that ends a token, searching after the opening asterisk; the
// end of the text for a comment never closed.
const char* comment_end(const char* p, const char* end) {
    for (const char* q = p + 2; q + 2 < end; ++q) {
        if (q[0] == '*' && q[1] == ' ' && q[2] == '\\' && (q + 3 == end || q[3] == ' ')) {
            return q + 3;
        }
    }
    return end;
}

std::size_t drop_comments(const char* text, std::size_t length, char* out) {
    const char* end = text + length;
    char* o = out;
    // Token by token, to the end: a blank at the end (a comment's own) is
    // followed by an empty token, which keeps it.
    for (const char* p = text;;) {
        const char* stop;
        if (end - p >= 2 && p[0] == '\\' && p[1] == '*') {
            stop = comment_end(p, end);
        } else {
            stop = token_end(p, end);
            put(&o, out, p, static_cast<std::size_t>(stop - p));
        }
        if (stop == end) break;
        p = stop + 1;
    }
    if (o == out) { // nothing but comments: the text stays whole
        std::memcpy(out, text, length);
        return length;
    }
    return static_cast<std::size_t>(o - out);
}

// Length of a list element at p ("- :N" is two tokens), 0 if p holds none.
std::size_t element_at(const char* p, const char* end) {
    static const char* const ELEMENTS[] = {":N", ":S", ":D", "?", "- :N", "+ :N", "$ :N"};
    for (const char* element : ELEMENTS) {
        if (token_is(p, end, element)) return std::strlen(element);
    }
    return 0;
}

// At p, just after "IN ": the end of "( e , e , ... )" whose elements are
// all the element at its start (*element, *element_length), or null.
const char* list_end(const char* p, const char* end, const char** element,
                     std::size_t* element_length) {
    if (!token_is(p, end, "(")) return nullptr;
    p += 2;
    if (p >= end) return nullptr;
    std::size_t n = element_at(p, end);
    if (n == 0) return nullptr;
    *element = p;
    *element_length = n;
    for (;;) {
        p += n;
        if (p >= end) return nullptr;
        if (token_is(p + 1, end, ")")) return p + 2;
        if (!token_is(p + 1, end, ",")) return nullptr;
        p += 3;
        if (p >= end || static_cast<std::size_t>(end - p) < n || std::memcmp(p, *element, n) != 0 ||
            element_at(p, end) != n) {
            return nullptr;
        }
    }
}

std::size_t fold_lists(const char* text, std::size_t length, char* out) {
    const char* end = text + length;
    char* o = out;
    for (const char* p = text;;) {
        const char* stop = token_end(p, end);
        put(&o, out, p, static_cast<std::size_t>(stop - p));
        const char* element;
        std::size_t n;
        const char* close = nullptr;
        if (stop - p == 2 && p[0] == 'I' && p[1] == 'N' && stop < end) {
            close = list_end(stop + 1, end, &element, &n);
        }
        if (close != nullptr) {
            put(&o, out, "(", 1);
            put(&o, out, element, n);
            put(&o, out, ", ... )", 7);
            stop = close;
        }
        if (stop == end) break;
        p = stop + 1;
    }
    return static_cast<std::size_t>(o - out);
}

} // namespace

/*
 * Room: dropping only shortens; folding a list lengthens it at most from
 * "( ? )" (5 bytes) to "( ? , ... )" (11 bytes), so twice the text and a
 * little is always enough.
 */
std::size_t fold_text(const char* text, std::size_t length, unsigned flags, FoldBuffer* out) {
    std::size_t room = 2 * length + 16;
    reserve(out, room);
    if ((flags & (FOLD_LISTS | FOLD_COMMENTS)) == 0) {
        std::memcpy(out->data, text, length);
        return length;
    }
    if ((flags & FOLD_COMMENTS) != 0 && (flags & FOLD_LISTS) == 0) {
        return drop_comments(text, length, out->data);
    }
    if ((flags & FOLD_COMMENTS) != 0) {
        reserve(&scratch, room);
        length = drop_comments(text, length, scratch.data);
        text = scratch.data;
    }
    return fold_lists(text, length, out->data);
}

const char* folding_description(unsigned flags) {
    switch (flags & (FOLD_LISTS | FOLD_COMMENTS)) {
    case FOLD_LISTS:
        return "lists folded";
    case FOLD_COMMENTS:
        return "comments dropped";
    case FOLD_LISTS | FOLD_COMMENTS:
        return "lists folded and comments dropped";
    default:
        return "";
    }
}
