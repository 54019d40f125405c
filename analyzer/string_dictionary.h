// StringDictionary: numbers distinct byte strings.
//
// Ids: 0 for an absent text, 1 for the empty text, then 2, 3, ... for the
// distinct texts in order of first appearance. intern_string returns a known
// text's id and the negative of a new text's id. Nothing is ever removed.
//
// How the texts are held is the dictionary's own business
// (dictionary_trie.h); a reader goes through visit_texts.
#pragma once

#include <cstddef>
#include <cstdint>

struct StringDictionary;

// A new, empty dictionary. Ends the process with "Not enough memory\n"
// (status 1) when it cannot be allocated. Never freed.
StringDictionary* create_dictionary();

// Inserts or finds a NUL-terminated text (see the id rules above). A null
// text yields 0 and an empty one 1, without changing the dictionary. A text
// that needs memory the heap refuses ends the process with "Not enough
// memory\n" or "Not enough memory for State\n" (status 1).
std::int32_t intern_string(StringDictionary* dictionary, const char* text);

// The same for a text given by its bytes; it may contain NUL bytes.
std::int32_t intern_bytes(StringDictionary* dictionary, const unsigned char* text,
                          std::size_t length);

// The last id handed out: 1 while the dictionary is empty.
std::int32_t dictionary_last_id(const StringDictionary* dictionary);

// Called with every stored text and its id, in ascending byte order (bytes
// compared unsigned, a text before the texts it is a prefix of). The text
// is valid only during the call. Returning false stops the visit.
using TextVisitor = bool (*)(void* context, const unsigned char* text, std::size_t length,
                             std::int32_t id);

// Visits every stored text (not the empty one) without changing the
// dictionary. Its own bookkeeping is allocated; "Not enough memory\n" on
// failure.
void visit_texts(const StringDictionary* dictionary, TextVisitor visit, void* context);

// Total bytes the dictionary holds from the heap, for memory accounting in
// tests and benchmarks.
std::size_t dictionary_heap_bytes(const StringDictionary* dictionary);
