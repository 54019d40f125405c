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

// intern_bytes for up to INTERN_RUN_MOST texts at once, in order: results[i]
// is what intern_bytes would give for texts[i] after the texts before it.
// Faster on texts that are mostly new: the walks of all of them go down the
// trie side by side, so that their waits on memory overlap, before each is
// found or inserted in turn.
constexpr std::size_t INTERN_RUN_MOST = 16;
void intern_run(StringDictionary* dictionary, const unsigned char* const* texts,
                const std::size_t* lengths, std::size_t count, std::int32_t* results);

// For a caller that must intern texts one at a time (its other work comes
// between them): walks up to INTERN_RUN_MOST texts down the trie side by
// side, so that interning them next, in order, finds their nodes in the
// caches. Changes nothing the dictionary answers. It walks only while most
// texts are new (the recent texts rest); where texts come again, the
// recent texts answer them and the walks would be made in vain.
void warm_run(StringDictionary* dictionary, const unsigned char* const* texts,
              const std::size_t* lengths, std::size_t count);

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

// How the trie is made up, for tests and benchmarks: its nodes by kind
// (leaves, then branches of up to 4, 16, 48 and 256 children) and how many
// times a node grew into each kind (a leaf into the smallest branch, each
// branch into the next size).
struct DictionaryShape {
    std::uint32_t nodes[5];
    std::uint32_t grown[5];
    std::size_t storage_bytes; // the trie's chunks and their bookkeeping
};
void dictionary_shape(const StringDictionary* dictionary, DictionaryShape* shape);
