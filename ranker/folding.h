// Optional folding of a normalised text before it is interned, so that
// shapes a person counts as one query become one group. Off by default:
// grouping then differs from litsieve's, the outputs say so, and a REPORT
// cannot be checked.
//
//   FOLD_LISTS     an IN list of placeholders of one kind, of any length,
//                  becomes that kind and ", ...":
//                    IN ( :N , :N , :N )        ->  IN ( :N , ... )
//                    NOT IN ( :S )              ->  NOT IN ( :S , ... )
//                  An element is a placeholder (:N, :S, :D), a signed
//                  number (- :N, + :N), a positional bind ($ :N) or "?";
//                  a list that mixes kinds, or holds anything else (a
//                  column, a sub-query, a named bind : ID), is left alone.
//   FOLD_COMMENTS  comment tokens are dropped, with the blank before them.
//                  A comment \* ... *\ reaches the normalised text as the
//                  token "\* ... *" followed by the token "\": dropped from
//                  a token that starts with "\*" through the first "* \"
//                  that ends a token (or to the end, for a comment never
//                  closed). A text that is nothing but comments stays whole,
//                  so that no text becomes empty.
//
// Texts are the normaliser's: tokens joined by single blanks, upper case.
#pragma once

#include <cstddef>

constexpr unsigned FOLD_LISTS = 1;
constexpr unsigned FOLD_COMMENTS = 2;

// A buffer the folded text is written to, grown as needed; owned by its
// user (release(data) frees it).
struct FoldBuffer {
    char* data;
    std::size_t capacity;
};

// Folds text[0..length) by `flags` into out->data and returns the folded
// length (never 0 for a text that is not empty). With flags 0 the text is
// copied as it is.
std::size_t fold_text(const char* text, std::size_t length, unsigned flags, FoldBuffer* out);

// "lists folded", "comments dropped" or both joined by " and ", for the
// outputs that say how grouping differs; "" for 0.
const char* folding_description(unsigned flags);
