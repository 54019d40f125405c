// The patterns of litrank's filters, matched on bytes (no locale):
//
// A regular expression (--match, --exclude) in POSIX extended syntax, found
// anywhere in the text, as regexec finds it:
//
//   x          a byte; \x the byte x itself (a special one: . [ ] ( ) | * + ? { } ^ $ \)
//   .          any byte
//   [abc] [^a-z] [[:alpha:]]   a bracket expression: bytes, ranges of byte
//              values, the ASCII classes alpha digit alnum upper lower space
//              blank punct print graph cntrl xdigit, [.x.] and [=x=] for x;
//              a ] first and a - first or last are themselves
//   ^ $        the start and the end of the text
//   ( ) |      grouping, alternatives
//   * + ? {m} {m,} {m,n}   repetition (m, n at most 255)
//
// Letters match either case: the normalised text is upper case, and a
// person types "from orders". A pattern is compiled to a Thompson automaton
// and run over the text once, so time is linear in the text whatever the
// pattern (no backtracking).
//
// A glob (--source): * any bytes, ? one byte, [...] one byte of a set ([!...]
// or [^...] negated), \x the byte x; the whole text must match.
#pragma once

#include <cstddef>
#include <cstdint>

// Longest pattern, and most instructions a compiled pattern may take after
// its repetitions are spelt out.
constexpr std::size_t PATTERN_TEXT_MAX = 4096;
constexpr std::size_t PATTERN_CODE_MAX = 20000;

struct Pattern;

// Compiles `text`; null with *error set to why it cannot be (a constant
// text) when it is not a pattern. Lives until release_pattern.
Pattern* compile_pattern(const char* text, const char** error);

// Whether the pattern occurs in text[0..length).
bool pattern_matches(const Pattern* pattern, const char* text, std::size_t length);

void release_pattern(Pattern* pattern);

// Whether the NUL-terminated glob matches all of text[0..length).
bool glob_matches(const char* glob, const char* text, std::size_t length);
