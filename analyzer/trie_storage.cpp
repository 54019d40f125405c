// Where the dictionary's states, fragment bytes and branch tables live.
#include "analyzer/dictionary_trie.h"

#include "platform/allocation.h"

#include <cstdint>
#include <cstring>

namespace {

// New fragments' bytes are copied into chunks that double from
// BYTE_CHUNK_FIRST up to CHUNK_MOST; a copy longer than BYTE_COPY_ALONE gets
// an allocation of its own.
constexpr std::size_t BYTE_CHUNK_FIRST = 64 * 1024;
constexpr std::size_t BYTE_COPY_ALONE = 16 * 1024;
constexpr std::size_t CHUNK_MOST = std::size_t{2} << 20;

// A block of `bytes` for one of the dictionary's chunks, never freed, zeroed
// if asked.
unsigned char* new_chunk(std::size_t bytes, const char* message, bool zeroed) {
    return static_cast<unsigned char*>(zeroed ? checked_calloc(1, bytes, message)
                                              : checked_realloc(nullptr, bytes, message));
}

// Branch tables are taken from chunks that double up to TABLE_CHUNK_MOST
// tables (2 MiB), so a small input stays small and a large one does not
// take a block per table.
constexpr std::size_t TABLE_CHUNK_FIRST = 64;
constexpr std::size_t TABLE_CHUNK_MOST = CHUNK_MOST / sizeof(BranchTable);

} // namespace

void reserve_states(StringDictionary* d, std::size_t extra) {
    std::size_t needed = d->state_count + extra;
    if (needed <= d->state_capacity) return;
    std::size_t capacity = d->state_capacity < 1024 ? 1024 : d->state_capacity;
    while (capacity < needed) capacity += capacity / 2;
    if (capacity > UINT32_MAX) out_of_memory(NOT_ENOUGH_MEMORY_FOR_STATE);
    d->states = static_cast<State*>(
        checked_realloc(d->states, capacity * sizeof(State), NOT_ENOUGH_MEMORY_FOR_STATE));
    d->state_capacity = static_cast<std::uint32_t>(capacity);
}

StateIndex take_state(StringDictionary* d, std::int32_t length, StateIndex next, std::int32_t id) {
    StateIndex index = d->state_count++;
    State* s = &d->states[index];
    s->length = length;
    s->data.bytes = nullptr;
    s->next = next;
    s->id = id;
    return index;
}

const unsigned char* copy_bytes(StringDictionary* d, const unsigned char* text,
                                std::size_t length) {
    std::size_t size = length + 1; // stored with a NUL after them
    unsigned char* copy;
    if (size > BYTE_COPY_ALONE) {
        copy = static_cast<unsigned char*>(
            checked_realloc(nullptr, size, NOT_ENOUGH_MEMORY_FOR_STATE));
        d->byte_total += size;
    } else {
        if (d->byte_chunk == nullptr || d->byte_chunk_size - d->byte_chunk_used < size) {
            std::size_t chunk =
                d->byte_chunk == nullptr ? BYTE_CHUNK_FIRST : 2 * d->byte_chunk_size;
            if (chunk > CHUNK_MOST) chunk = CHUNK_MOST;
            d->byte_chunk = new_chunk(chunk, NOT_ENOUGH_MEMORY_FOR_STATE, false);
            d->byte_chunk_used = 0;
            d->byte_chunk_size = chunk;
            d->byte_total += chunk;
        }
        copy = d->byte_chunk + d->byte_chunk_used;
        d->byte_chunk_used += size;
    }
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    return copy;
}

BranchTable* new_branch_table(StringDictionary* d) {
    if (d->table_chunk_left == 0) {
        std::size_t tables = d->table_chunk_size == 0 ? TABLE_CHUNK_FIRST : 2 * d->table_chunk_size;
        if (tables > TABLE_CHUNK_MOST) tables = TABLE_CHUNK_MOST;
        std::size_t bytes = tables * sizeof(BranchTable);
        static_assert(NO_STATE == 0, "a zeroed table has every slot empty");
        d->table_chunk = reinterpret_cast<BranchTable*>(new_chunk(bytes, NOT_ENOUGH_MEMORY, true));
        d->table_chunk_left = tables;
        d->table_chunk_size = tables;
        d->table_bytes += bytes;
    }
    BranchTable* table = d->table_chunk++; // zeroed with its chunk: all slots empty
    --d->table_chunk_left;
    return table;
}
