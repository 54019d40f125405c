// Texts a dictionary answered lately, kept whole with their ids, so that the
// next call for the same text is one hash and one compare instead of a walk
// of the trie that waits on memory at every branch. They hold nothing but
// what the trie answered: a text is only ever remembered with its trie id.
#pragma once

#include <cstddef>
#include <cstdint>

// Texts of up to RECENT_TEXT_MOST bytes are remembered in one of
// RECENT_SETS sets of two, chosen by a hash of the text (2 MiB in all).
constexpr std::size_t RECENT_SETS = 2048;
constexpr std::size_t RECENT_TEXT_MOST = 496;

struct RecentTexts;

// All sets empty; null when the memory cannot be had (the caller goes on
// without them). Never freed.
RecentTexts* new_recent_texts();

// Bytes new_recent_texts takes from the heap.
std::size_t recent_texts_bytes();

// A text's hash and the set it belongs in.
struct RecentKey {
    std::uint64_t hash;
    std::size_t set;
};
RecentKey recent_key(const unsigned char* text, std::size_t length);

// The id remembered for the text (of at most RECENT_TEXT_MOST bytes), or 0.
// A hit on the set's second entry makes it the first.
std::int32_t recall_text(RecentTexts* r, const RecentKey& key, const unsigned char* text,
                         std::size_t length);

// Puts the text first in its set; the entry used least lately gives way.
void remember_text(RecentTexts* r, const RecentKey& key, const unsigned char* text,
                   std::size_t length, std::int32_t id);
