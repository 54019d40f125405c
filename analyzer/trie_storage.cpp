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
// (adhoc-10m, 1.4 GB of nodes): no less user time, and three to four times
// the system time, the kernel zeroing and assembling each 2 MiB page at its
// first touch; a new text's walk waits on cache misses, not translations.
std::uint32_t* new_chunk(StringDictionary* d, const char* message) {
    d->chunk_bytes += CHUNK_BYTES;
    return static_cast<std::uint32_t*>(checked_realloc(nullptr, CHUNK_BYTES, message));
}

// A block of `units` contiguous units; returns the global index of its first.
std::uint32_t take_block(StringDictionary* d, std::uint32_t units, const char* message) {
    NodeRef* free = &d->free_blocks[units];
    if (*free != NO_NODE) {
        std::uint32_t block = *free;
        *free = *node_units(d, block);
        return block;
    }
    if (d->chunk_count == 0 || CHUNK_UNITS - d->next_unit < units) {
        if (d->chunk_count == CHUNK_MOST) out_of_memory(message);
        if (d->chunk_count > 0) {
            // The end of the last chunk is kept for a block of its size.
            std::uint32_t left = CHUNK_UNITS - d->next_unit;
            if (left > 0) {
                std::uint32_t rest = ((d->chunk_count - 1) << CHUNK_SHIFT) + d->next_unit;
                *node_units(d, rest) = d->free_blocks[left];
                d->free_blocks[left] = rest;
            }
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
    NodeRef node = take_block(d, units, message_for(kind)) + label_units;
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
    std::uint32_t block = node - label_units;
    *node_units(d, block) = d->free_blocks[units];
    d->free_blocks[units] = block;
    --d->nodes[kind];
}

std::size_t trie_storage_bytes(const StringDictionary* d) {
    return d->chunk_bytes + std::size_t{d->chunk_slots} * sizeof *d->chunks +
           (d->free_blocks != nullptr ? (FREE_LIST_UNITS + 1) * sizeof(NodeRef) : 0);
}
