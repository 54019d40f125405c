// The inside of StringDictionary, for the analyzer's own dictionary files
// only (string_dictionary.cpp, trie_storage.cpp): a compressed 256-way trie.
// Readers outside use string_dictionary.h, which names none of this.
//
// A run of bytes without a branching point is held whole in one fragment
// state; a branching point holds a table of 256 slots, one per byte value.
// Nothing is ever removed.
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

#include "analyzer/recent_texts.h"
#include "analyzer/string_dictionary.h"

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

struct StringDictionary {
    StateIndex root;         // NO_STATE while the dictionary is empty
    std::int32_t id_counter; // the last id handed out; 1 at creation

    // Storage (trie_storage.cpp). Everything lives until the process ends
    // and is never freed.
    State* states; // pool; entry 0 is unused so that index 0 means none
    std::uint32_t state_count;
    std::uint32_t state_capacity;
    unsigned char* byte_chunk; // current chunk that new fragments' bytes are copied into
    std::size_t byte_chunk_used;
    std::size_t byte_chunk_size;
    BranchTable* table_chunk;     // the chunk new branch tables are taken from
    std::size_t table_chunk_left; // tables still free in it
    std::size_t table_chunk_size; // tables in the last chunk; chunks grow to a most
    std::size_t table_bytes;      // bytes allocated for table chunks
    std::size_t byte_total;       // bytes allocated for fragment copies

    RecentTexts* recent; // null until the first text, or for good if they could not be
                         // allocated: they only save time
    bool recent_refused; // their allocation failed once; it is not tried again
};

// A fragment's length is a signed 32-bit count: a longer run is stored as a
// chain of fragments, every link but the last without an id.
constexpr std::size_t MAX_FRAGMENT = 0x7fffffff;

// --- storage (trie_storage.cpp) -------------------------------------------

// Makes room for `extra` more states, so that taking them never moves the
// pool while an insertion holds pointers into it. "Not enough memory for
// State\n" on failure.
void reserve_states(StringDictionary* d, std::size_t extra);

// The next state of the reserved pool, set to the given fields.
StateIndex take_state(StringDictionary* d, std::int32_t length, StateIndex next, std::int32_t id);

// A copy of `length` bytes with a NUL after them, in storage that lives as
// long as the dictionary. "Not enough memory for State\n" on failure.
const unsigned char* copy_bytes(StringDictionary* d, const unsigned char* text, std::size_t length);

// A new table with all 256 slots empty; "Not enough memory\n" on failure.
BranchTable* new_branch_table(StringDictionary* d);
