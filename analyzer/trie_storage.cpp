// Where the dictionary's nodes live: blocks of 4-byte units carved from
// chunks that never move, and taken again once freed (a branch that grows
// into the next size frees its old block).
#include "analyzer/dictionary_trie.h"

#include "platform/allocation.h"

#include <cassert>
#include <cstdint>
#include <cstring>

namespace {

inline std::uint32_t units_for(std::size_t bytes) {
    return static_cast<std::uint32_t>((bytes + 3) / 4);
}

const char* message_for(NodeKind kind) {
    return kind == NODE_LEAF ? NOT_ENOUGH_MEMORY_FOR_STATE : NOT_ENOUGH_MEMORY;
}

constexpr std::size_t CHUNK_BYTES = CHUNK_UNITS * sizeof(std::uint32_t);

// Chunks are plain heap blocks. Backing them with huge pages was measured
// (adhoc-10m, 1.4 GB of nodes): about 5 % less user time, but three to four
// times the system time, the kernel zeroing each 2 MiB page at its first
// touch, and more CPU time in all.
// A chunk starts on a cache line, so that a unit's place in its line is
// known from its index (units_into_line).
constexpr std::size_t LINE_BYTES = 64;
constexpr std::uint32_t LINE_UNITS = LINE_BYTES / sizeof(std::uint32_t);

std::uint32_t* new_chunk(StringDictionary* d, const char* message) {
    std::size_t bytes = CHUNK_BYTES + LINE_BYTES;
    auto* block = static_cast<char*>(checked_realloc(nullptr, bytes, message));
    d->chunk_bytes += bytes;
    auto start = reinterpret_cast<std::uintptr_t>(block);
    std::uintptr_t aligned = (start + LINE_BYTES - 1) & ~std::uintptr_t{LINE_BYTES - 1};
    return reinterpret_cast<std::uint32_t*>(block + (aligned - start));
}

inline std::uint32_t units_into_line(std::uint32_t unit) {
    return unit & (LINE_UNITS - 1);
}

// Gives a block of `units` back to the free list of its size.
inline void free_block(StringDictionary* d, std::uint32_t block, std::uint32_t units) {
    *node_units(d, block) = d->free_blocks[units];
    d->free_blocks[units] = block;
}

// Moves the last chunk's first free unit to the start of the next cache
// line; the units passed over go to the free list of their size. A chunk is
// whole lines, so the result is still inside it or at its end.
void skip_to_line(StringDictionary* d) {
    std::uint32_t skipped = LINE_UNITS - units_into_line(d->next_unit);
    free_block(d, ((d->chunk_count - 1) << CHUNK_SHIFT) + d->next_unit, skipped);
    d->next_unit += skipped;
}

// A block of `units` contiguous units; returns the global index of its first.
// With `one_line` (a block that fits in a cache line), the block does not
// cross a line: a freed block that would is left for another node, and
// the units skipped before a line go to the free list of their size.
std::uint32_t take_block(StringDictionary* d, std::uint32_t units, bool one_line,
                         const char* message) {
    NodeRef* free = &d->free_blocks[units];
    if (*free != NO_NODE && (!one_line || units_into_line(*free) + units <= LINE_UNITS)) {
        std::uint32_t block = *free;
        *free = *node_units(d, block);
        return block;
    }
    if (one_line && d->chunk_count > 0 && units_into_line(d->next_unit) + units > LINE_UNITS) {
        skip_to_line(d);
    }
    if (d->chunk_count == 0 || CHUNK_UNITS - d->next_unit < units) {
        if (d->chunk_count == CHUNK_MOST) out_of_memory(message);
        if (d->chunk_count > 0) {
            // The end of the last chunk is kept for a block of its size.
            std::uint32_t left = CHUNK_UNITS - d->next_unit;
            if (left > 0) free_block(d, ((d->chunk_count - 1) << CHUNK_SHIFT) + d->next_unit, left);
        }
        if (d->chunk_count == d->chunk_slots) {
            std::uint32_t slots = d->chunk_slots == 0 ? 64 : 2 * d->chunk_slots;
            d->chunks = static_cast<std::uint32_t**>(
                checked_realloc(d->chunks, slots * sizeof *d->chunks, message));
            d->chunk_slots = slots;
        }
        d->chunks[d->chunk_count] = new_chunk(d, message);
        // Unit 0 of the first chunk stays unused: NO_NODE names no node.
        d->next_unit = d->chunk_count == 0 ? 1 : 0;
        ++d->chunk_count;
        if (one_line && units_into_line(d->next_unit) + units > LINE_UNITS) {
            skip_to_line(d);
        }
    }
    std::uint32_t block = ((d->chunk_count - 1) << CHUNK_SHIFT) + d->next_unit;
    d->next_unit += units;
    return block;
}

} // namespace

NodeRef new_node(StringDictionary* d, NodeKind kind, std::size_t label) {
    assert(label <= LABEL_MOST);
    if (d->free_blocks == nullptr) {
        d->free_blocks = static_cast<NodeRef*>(
            checked_calloc(FREE_LIST_UNITS + 1, sizeof(NodeRef), NOT_ENOUGH_MEMORY_FOR_STATE));
    }
    std::uint32_t label_units = units_for(label);
    std::uint32_t units = label_units + HEADER_UNITS + BODY_UNITS[kind];
    // A branch whose label, header and children fit in a cache line gets one
    // line of its own: a walk through it then waits on one miss, not two
    // (62 % of such nodes crossed a line when placed anywhere), and the
    // walks of a run keep twice as many nodes in flight.
    bool one_line = kind != NODE_LEAF && units <= LINE_UNITS;
    NodeRef node = take_block(d, units, one_line, message_for(kind)) + label_units;
    std::uint32_t* n = node_units(d, node);
    n[0] = kind << KIND_SHIFT | static_cast<std::uint32_t>(label);
    n[1] = 0;
    n[2] = label_units << 8;
    if (kind == NODE_48) std::memset(node_keys(n), 0, 256);
    if (kind == NODE_256) std::memset(node_children(n), 0, 256 * sizeof(std::uint32_t));
    ++d->nodes[kind];
    return node;
}

void free_node(StringDictionary* d, NodeRef node) {
    std::uint32_t* n = node_units(d, node);
    NodeKind kind = node_kind(n);
    std::uint32_t label_units = n[2] >> 8;
    std::uint32_t units = label_units + HEADER_UNITS + BODY_UNITS[kind];
    free_block(d, node - label_units, units);
    --d->nodes[kind];
}

std::size_t trie_storage_bytes(const StringDictionary* d) {
    return d->chunk_bytes + std::size_t{d->chunk_slots} * sizeof *d->chunks +
           (d->free_blocks != nullptr ? (FREE_LIST_UNITS + 1) * sizeof(NodeRef) : 0);
}
