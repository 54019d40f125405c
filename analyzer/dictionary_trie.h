// The inside of StringDictionary, for the analyzer's own dictionary files
// only (string_dictionary.cpp, trie_storage.cpp): a compressed 256-way trie
// whose branching points are sized to their children. Readers outside use
// string_dictionary.h, which names none of this.
//
// Every node holds a label: the run of bytes from the byte that selected it
// in its parent (not included) up to its own branching point. A text ends
// at a node when its bytes run out exactly at the end of the node's label;
// the node's id names it. A leaf has no children and always has an id; a
// branch has children, selected by the byte after its label.
//
// After "ab", "a", "abc" ("a" ends inside the leaf "ab" and splits it; the
// id of the text that ends at a node is given in brackets):
//
//     root: branch "a" [3]
//             'b' --> branch "" [2]
//                       'c' --> leaf "" [4]
//
// Then "b" differs from the root's label at its first byte: a new branch
// with an empty label takes the root's place, and the old root hangs from
// its first byte, its label shortened by that byte:
//
//     root: branch ""
//             'a' --> branch "" [3]
//                       'b' --> branch "" [2] --> 'c' --> leaf "" [4]
//             'b' --> leaf "" [5]
//
// A branch comes in four sizes, by the number of its children (the adaptive
// radix tree's node kinds): up to 4 and up to 16 children keep their bytes
// in a small sorted array beside the children; up to 48 have a 256-entry
// byte index into 48 children; beyond that, a full table of 256 children.
// A branch that fills up is copied into the next size, and its old block is
// taken again by the next node of its size. How often each size is met on
// SQL texts (distinct-heavy and OLTP workloads): of the branches, 77 % have
// 2 children, 8 % 3, 3 % 4, 4 % 5 to 16, fewer than 0.01 % more than 16
// (bench/results/PROFILE.md).
//
// Memory layout. Nodes live in blocks of 4-byte units taken from chunks of
// CHUNK_UNITS units that never move; a node is named by the index of its
// header unit (NodeRef), half the size of a pointer on a 64-bit build, and
// the arrays of children are most of what a branch costs. A block is
//
//     [label area: the label's bytes, right-aligned][header: 3 units][body]
//
// so that a node's label and header share a cache line where the label is
// short, and a split, which drops the front of a label, only shortens it
// in place. A branch whose block fits in 64 bytes (an N4 with a label of up
// to 32 bytes) is placed within one cache line. Header and body, by kind:
//
//     unit 0: kind (top 3 bits) | label length (29 bits)
//     unit 1: id of the text ending after the label, 0 if none (always > 0 in a leaf)
//     unit 2: label area in units (top 24 bits) | children (low 8 bits; unused in a full table)
//     leaf:  nothing more                                        (3 units)
//     N4:    4 key bytes, 4 children                             (8 units)
//     N16:   16 key bytes, 16 children                           (23 units)
//     N48:   256 index bytes (child slot + 1, 0 empty), 48 children (115 units)
//     N256:  256 children, indexed by the byte                   (259 units)
#pragma once

#include "analyzer/recent_texts.h"
#include "analyzer/string_dictionary.h"

#include <cstddef>
#include <cstdint>

using NodeRef = std::uint32_t; // index of a node's header unit; NO_NODE means none
constexpr NodeRef NO_NODE = 0; // unit 0 of the first chunk is never handed out

enum NodeKind : std::uint32_t { NODE_LEAF, NODE_4, NODE_16, NODE_48, NODE_256, NODE_KINDS };

// Children a branch of each kind holds at most (a leaf none).
constexpr unsigned KIND_CHILDREN[NODE_KINDS] = {0, 4, 16, 48, 256};

constexpr unsigned HEADER_UNITS = 3;
constexpr std::uint32_t KIND_SHIFT = 29;
constexpr std::uint32_t LABEL_LENGTH_MASK = (std::uint32_t{1} << KIND_SHIFT) - 1;

// The longest label a node holds. A longer run of bytes without a branching
// point (a leaf made for a long text) is a chain of N4 branches of one child
// each, every link but the last without an id.
constexpr std::size_t LABEL_MOST = 16 * 1024;

// Chunks of 2 MiB: a node ref is a chunk number and a
// unit within it.
constexpr unsigned CHUNK_SHIFT = 19;
constexpr std::uint32_t CHUNK_UNITS = std::uint32_t{1} << CHUNK_SHIFT;
constexpr std::uint32_t CHUNK_MOST = std::uint32_t{1} << (32 - CHUNK_SHIFT); // 16 GiB in all

// Units of the body after the header, by kind.
constexpr unsigned BODY_UNITS[NODE_KINDS] = {0, 1 + 4, 4 + 16, 64 + 48, 256};

// Blocks of up to this many units are taken again once freed (the largest
// block: a full table with the longest label).
constexpr std::uint32_t FREE_LIST_UNITS = LABEL_MOST / 4 + HEADER_UNITS + 256;

struct StringDictionary {
    NodeRef root;            // NO_NODE while the dictionary is empty
    std::int32_t id_counter; // the last id handed out; 1 at creation

    // Storage (trie_storage.cpp). Everything lives until the process ends
    // and is never freed.
    std::uint32_t** chunks;          // chunk n holds the units n << CHUNK_SHIFT ...
    std::uint32_t chunk_count;       // chunks allocated
    std::uint32_t chunk_slots;       // room in `chunks`
    std::uint32_t next_unit;         // first unit not yet handed out in the last chunk
    std::size_t chunk_bytes;         // bytes allocated for chunks
    NodeRef* free_blocks;            // per block size in units: the first free block (its first
                                     // unit holds the next one's), NO_NODE when none
    std::uint32_t nodes[NODE_KINDS]; // nodes in the trie, by kind
    std::uint32_t grown[NODE_KINDS]; // growths into each kind (a leaf into N4, N4 into N16, ...)

    RecentTexts* recent; // null until the first text, or for good if they could not be
                         // allocated: they only save time
    bool recent_refused; // their allocation failed once; it is not tried again
    // The recent texts rest while they do not pay (RECENT_WINDOW): texts
    // asked for in the current window, how many they answered, and how many
    // texts are still to go past them.
    std::uint32_t recent_asked;
    std::uint32_t recent_answered;
    std::uint32_t recent_resting;
};

// On input where nearly every text is new, the recent texts only cost time
// (every text hashed, compared and copied in vain). They are asked for in
// windows of RECENT_WINDOW texts; a window in which they answer fewer than
// one text in RECENT_WORTH makes them rest for the next RECENT_REST texts,
// which walk the trie at once, and then they are asked again.
constexpr std::uint32_t RECENT_WINDOW = 4096;
constexpr std::uint32_t RECENT_WORTH = 8;
constexpr std::uint32_t RECENT_REST = 15 * RECENT_WINDOW;

// --- node access ------------------------------------------------------------

inline std::uint32_t* node_units(const StringDictionary* d, NodeRef node) {
    return d->chunks[node >> CHUNK_SHIFT] + (node & (CHUNK_UNITS - 1));
}
inline NodeKind node_kind(const std::uint32_t* n) {
    return static_cast<NodeKind>(n[0] >> KIND_SHIFT);
}
inline std::size_t label_length(const std::uint32_t* n) {
    return n[0] & LABEL_LENGTH_MASK;
}
inline const unsigned char* label_bytes(const std::uint32_t* n) {
    return reinterpret_cast<const unsigned char*>(n) - label_length(n);
}
inline unsigned child_count(const std::uint32_t* n) {
    return n[2] & 0xff;
}
inline unsigned char* node_keys(std::uint32_t* n) { // N4, N16: sorted; N48: the index
    return reinterpret_cast<unsigned char*>(n + HEADER_UNITS);
}
inline const unsigned char* node_keys(const std::uint32_t* n) {
    return reinterpret_cast<const unsigned char*>(n + HEADER_UNITS);
}
inline std::uint32_t* node_children(std::uint32_t* n) {
    static constexpr unsigned key_units[NODE_KINDS] = {0, 1, 4, 64, 0};
    return n + HEADER_UNITS + key_units[node_kind(n)];
}
inline const std::uint32_t* node_children(const std::uint32_t* n) {
    return node_children(const_cast<std::uint32_t*>(n));
}

// --- storage (trie_storage.cpp) -------------------------------------------

// A new node of `kind` with room for a label of `label` bytes (at most
// LABEL_MOST), its label length set to that, id 0 and no children; the
// label's bytes are the caller's to write. "Not enough memory for State\n"
// when a leaf's chunk cannot be had, "Not enough memory\n" for a branch's.
NodeRef new_node(StringDictionary* d, NodeKind kind, std::size_t label);

// Gives a node's block back, to be taken again by the next node of its size.
void free_node(StringDictionary* d, NodeRef node);

// Bytes of the chunks and of their bookkeeping.
std::size_t trie_storage_bytes(const StringDictionary* d);
