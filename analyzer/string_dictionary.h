// StringDictionary: numbers distinct byte strings, in a compressed 256-way
// trie. A run of bytes without a branching point is held whole in one
// fragment state; a branching point holds a table of 256 slots, one per byte
// value. Nothing is ever removed.
//
// Ids: 0 for an absent text, 1 for the empty text, then 2, 3, ... for the
// distinct texts in order of first appearance. intern_string returns a known
// text's id and the negative of a new text's id.
//
// After "ab", "a", "abc" ("a" split the fragment "ab"; the text ends after a
// fragment whose id is given in brackets):
//
//     root: "a" [3] --> "b" [2] --> "c" [4]
//
// Then "b" differs from the root at its first byte: the root becomes a
// branch, and the texts that ended at or passed its first byte hang from
// end markers (<id>) in the slots:
//
//     root: branch
//            slot 'a' --> <3> --> "b" [2] --> "c" [4]
//            slot 'b' --> <5>
//
// Then "abd" differs from the fragment "c" at its first byte; that fragment
// becomes a branch in turn:
//
//     ... "b" [2] --> branch
//                      slot 'c' --> <4>
//                      slot 'd' --> <7>
#pragma once

#include <cstddef>
#include <cstdint>

// Index of a State in the dictionary's state pool; NO_STATE means none.
// Branch tables hold indices rather than pointers: half the size on a
// 64-bit build, and a table is most of what a branching point costs.
using StateIndex = std::uint32_t;
constexpr StateIndex NO_STATE = 0;

constexpr std::int32_t STATE_BRANCH = 0;
constexpr std::int32_t STATE_END_MARKER = -1;

struct BranchTable {
    StateIndex slot[256]; // indexed by the byte taken unsigned; NO_STATE when empty
};

// A trie node. Invariant: a fragment without a next always has an id.
struct State {
    std::int32_t length; // > 0: fragment of that many bytes; 0: branch; -1: end marker
    union {
        const unsigned char* bytes; // fragment: its bytes (shared with fragments split from it)
        BranchTable* table;         // branch: its table
    } data;                         // end marker: unused
    StateIndex next; // fragment: state after its bytes; end marker: state carrying on with the
                     // longer texts that pass this point; branch: unused
    std::int32_t id; // fragment: id of the text ending right after its bytes, 0 if none;
                     // end marker: id of the text ending here; branch: 0
};

// Texts the dictionary answered lately, kept whole with their ids so that
// the next call for the same text needs no walk (see intern_bytes).
struct RecentTexts;

struct StringDictionary {
    StateIndex root;         // NO_STATE while the dictionary is empty
    std::int32_t id_counter; // the last id handed out; 1 at creation

    // Storage. Everything lives until the process ends and is never freed.
    State* states; // pool; entry 0 is unused so that index 0 means none
    std::uint32_t state_count;
    std::uint32_t state_capacity;
    unsigned char* byte_chunk; // current chunk that new fragments' bytes are copied into
    std::size_t byte_chunk_used;
    std::size_t byte_chunk_size;
    BranchTable* table_chunk;     // the chunk new branch tables are taken from
    std::size_t table_chunk_left; // tables still free in it
    std::size_t table_chunk_size; // tables in the last chunk; chunks grow to TABLE_CHUNK_MOST
    std::size_t table_bytes;      // bytes allocated for table chunks
    std::size_t table_count;      // branch tables allocated
    std::size_t byte_total;       // bytes allocated for fragment copies
    RecentTexts* recent;          // RECENT_SETS sets, or null until the first text (or if
                                  // they could not be allocated: they only save time)
    bool recent_refused;          // their allocation failed once; it is not tried again
};

// Texts of up to RECENT_TEXT_MOST bytes are remembered in one of
// RECENT_SETS sets of two, chosen by a hash of the text (2 MiB in all).
constexpr std::size_t RECENT_SETS = 2048;
constexpr std::size_t RECENT_TEXT_MOST = 496;

// A new, empty dictionary. Ends the process with "Not enough memory\n"
// (status 1) when it cannot be allocated.
StringDictionary* create_dictionary();

// A new table with all 256 slots empty; "Not enough memory\n" on failure.
BranchTable* new_branch_table(StringDictionary* dictionary);

// Inserts or finds a NUL-terminated text (see the id rules above). A null
// text yields 0 and an empty one 1, without changing the dictionary.
std::int32_t intern_string(StringDictionary* dictionary, const char* text);

// The same for a text given by its bytes; it may contain NUL bytes.
std::int32_t intern_bytes(StringDictionary* dictionary, const unsigned char* text,
                          std::size_t length);

// Total bytes the dictionary holds from the heap (states, tables, byte
// chunks), for memory accounting in tests and benchmarks.
std::size_t dictionary_heap_bytes(const StringDictionary* dictionary);
