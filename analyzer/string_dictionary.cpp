#include "analyzer/string_dictionary.h"

#include "normaliser/allocation.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>
#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace {

// New fragments' bytes are copied into chunks that double from
// BYTE_CHUNK_FIRST up to a huge page; a copy longer than BYTE_COPY_ALONE
// gets an allocation of its own.
constexpr std::size_t BYTE_CHUNK_FIRST = 64 * 1024;
constexpr std::size_t BYTE_COPY_ALONE = 16 * 1024;

// A fragment's length is a signed 32-bit count: a longer run is stored as a
// chain of fragments, every link but the last without an id.
constexpr std::size_t MAX_FRAGMENT = 0x7fffffff;

// States one insertion can create at the most, besides the links of a chain:
// a split makes the old side, the new side and the branch state.
constexpr std::uint32_t MOST_NEW_STATES = 3;

// Huge pages for the dictionary's large blocks. A walk touches one line of
// one branch table after another, spread over tens of megabytes: with small
// pages nearly every step also misses the address-translation cache.
constexpr std::size_t HUGE_PAGE = std::size_t{2} << 20;
#if defined(__linux__) && defined(MADV_HUGEPAGE)
constexpr bool HUGE_PAGES = true;
#else
constexpr bool HUGE_PAGES = false; // elsewhere a table chunk is a plain block
#endif

void advise_huge_pages(void* block, std::size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    auto begin = (reinterpret_cast<std::uintptr_t>(block) + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    auto end = (reinterpret_cast<std::uintptr_t>(block) + size) & ~(HUGE_PAGE - 1);
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)block;
    (void)size;
#endif
}

// A block of `bytes` for one of the dictionary's chunks, never freed, zeroed
// if asked. A block of one huge page is aligned to one (inside a block of
// twice the size, whose unused pages are never touched) and advised to use it.
unsigned char* new_chunk(std::size_t bytes, const char* message, bool zeroed) {
    bool huge = HUGE_PAGES && bytes == HUGE_PAGE;
    std::size_t size = huge ? 2 * bytes : bytes;
    auto* chunk = static_cast<unsigned char*>(zeroed ? checked_calloc(1, size, message)
                                                     : checked_realloc(nullptr, size, message));
    if (huge) {
        auto aligned = (reinterpret_cast<std::uintptr_t>(chunk) + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
        chunk = reinterpret_cast<unsigned char*>(aligned);
        advise_huge_pages(chunk, bytes);
    }
    return chunk;
}

// Branch tables are taken from chunks that double up to TABLE_CHUNK_MOST
// tables (2 MiB), so a small input stays small and a large one gets its
// tables in huge pages.
constexpr std::size_t TABLE_CHUNK_FIRST = 64;
constexpr std::size_t TABLE_CHUNK_MOST = HUGE_PAGE / sizeof(BranchTable);

void reserve_states(StringDictionary* d, std::size_t extra) {
    std::size_t needed = d->state_count + extra;
    if (needed <= d->state_capacity) return;
    std::size_t capacity = d->state_capacity < 1024 ? 1024 : d->state_capacity;
    while (capacity < needed) capacity += capacity / 2;
    if (capacity > UINT32_MAX) out_of_memory(NOT_ENOUGH_MEMORY_FOR_STATE);
    d->states = static_cast<State*>(
        checked_realloc(d->states, capacity * sizeof(State), NOT_ENOUGH_MEMORY_FOR_STATE));
    d->state_capacity = static_cast<std::uint32_t>(capacity);
    if (capacity * sizeof(State) >= HUGE_PAGE)
        advise_huge_pages(d->states, capacity * sizeof(State));
}

// Room is reserved before an insertion touches the trie, so taking a state
// never moves the pool while the insertion holds pointers into it.
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
            if (chunk > HUGE_PAGE) chunk = HUGE_PAGE;
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

inline std::int32_t new_id(StringDictionary* d) {
    return ++d->id_counter;
}

// A new fragment holding a copy of the text's bytes, no next, and a new id.
StateIndex new_fragment(StringDictionary* d, const unsigned char* text, std::size_t length) {
    const unsigned char* bytes = copy_bytes(d, text, length);
    StateIndex head = NO_STATE;
    StateIndex* link = &head; // the pool does not move: intern_bytes reserved the links
    while (length > MAX_FRAGMENT) {
        StateIndex s = take_state(d, static_cast<std::int32_t>(MAX_FRAGMENT), NO_STATE, 0);
        d->states[s].data.bytes = bytes;
        *link = s;
        link = &d->states[s].next;
        bytes += MAX_FRAGMENT;
        length -= MAX_FRAGMENT;
    }
    StateIndex last = take_state(d, static_cast<std::int32_t>(length), NO_STATE, new_id(d));
    d->states[last].data.bytes = bytes;
    *link = last;
    return head;
}

StateIndex new_end_marker(StringDictionary* d, StateIndex next, std::int32_t id) {
    return take_state(d, STATE_END_MARKER, next, id);
}

inline void prefetch(const void* address) {
#if defined(__GNUC__)
    __builtin_prefetch(address);
#else
    (void)address;
#endif
}

// Index of the first differing byte of a and b within n bytes, or n.
inline std::size_t mismatch(const unsigned char* a, const unsigned char* b, std::size_t n) {
    std::size_t i = 0;
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    while (i + 8 <= n) {
        std::uint64_t x;
        std::uint64_t y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        if (x != y) return i + static_cast<std::size_t>(__builtin_ctzll(x ^ y) / 8);
        i += 8;
    }
#endif
    while (i < n && a[i] == b[i]) ++i;
    return i;
}

} // namespace

// One set of the recent texts: two entries, the one used last first, each
// naming which of the set's two text buffers holds its bytes (so that
// reordering them moves 16 bytes, not texts). An entry of length 0 is empty.
// The entries of all sets lie together (64 KiB, which the near caches keep),
// apart from the texts (2 MiB).
struct RecentEntry {
    std::uint64_t hash;
    std::int32_t id;
    std::uint16_t length;
    std::uint16_t buffer;
};
struct RecentSet {
    RecentEntry entry[2];
};
struct RecentTexts {
    RecentSet set[RECENT_SETS];
    unsigned char text[RECENT_SETS][2][RECENT_TEXT_MOST];
};

namespace {

// 64-bit hash of a text, eight bytes at a time in two lanes, so that each
// multiplication waits for the one two words back. Only the choice of the
// set depends on it: an entry answers only after its bytes compare equal.
std::uint64_t hash_text(const unsigned char* text, std::size_t length) {
    constexpr std::uint64_t K = 0x9E3779B97F4A7C15u;
    constexpr std::uint64_t M = 0xBF58476D1CE4E5B9u;
    std::uint64_t a = length * K;
    std::uint64_t b = ~length * M;
    std::size_t i = 0;
    for (; i + 16 <= length; i += 16) {
        std::uint64_t x;
        std::uint64_t y;
        std::memcpy(&x, text + i, 8);
        std::memcpy(&y, text + i + 8, 8);
        a = (a ^ x) * K;
        b = (b ^ y) * M;
        a ^= a >> 29;
        b ^= b >> 31;
    }
    if (i + 8 <= length) {
        std::uint64_t x;
        std::memcpy(&x, text + i, 8);
        a = (a ^ x) * K;
        i += 8;
    }
    if (i < length) {
        std::uint64_t y = 0;
        std::memcpy(&y, text + i, length - i);
        b = (b ^ y) * M;
    }
    std::uint64_t h = (a ^ (b >> 32) ^ (b << 32)) * K;
    return h ^ (h >> 32);
}

// The recent texts, or null while they are not allocated. They are
// allocated with the first text; without them every call walks the trie.
RecentTexts* recent_texts(StringDictionary* d) {
    if (d->recent == nullptr && !d->recent_refused) {
        d->recent = static_cast<RecentTexts*>(optional_calloc(1, sizeof(RecentTexts)));
        d->recent_refused = d->recent == nullptr;
    }
    return d->recent;
}

inline std::size_t set_of(std::uint64_t hash) {
    return static_cast<std::size_t>(hash >> 53); // the top 11 bits: 2048 sets
}

// The id of the text if set `k` holds it, else 0. A hit on the second entry
// makes it the first.
std::int32_t recall(RecentTexts* r, std::size_t k, std::uint64_t hash, const unsigned char* text,
                    std::size_t length) {
    RecentSet& set = r->set[k];
    for (int n = 0; n < 2; ++n) {
        const RecentEntry& e = set.entry[n];
        if (e.hash == hash && e.length == length &&
            std::memcmp(r->text[k][e.buffer], text, length) == 0) {
            std::int32_t id = e.id;
            if (n == 1) std::swap(set.entry[0], set.entry[1]);
            return id;
        }
    }
    return 0;
}

// Puts the text first in set `k`; the entry used least lately gives way.
void remember(RecentTexts* r, std::size_t k, std::uint64_t hash, const unsigned char* text,
              std::size_t length, std::int32_t id) {
    RecentSet& set = r->set[k];
    std::uint16_t buffer = 0;
    if (set.entry[0].length != 0) {
        buffer = set.entry[1].length != 0 ? set.entry[1].buffer
                                          : static_cast<std::uint16_t>(1 - set.entry[0].buffer);
    }
    set.entry[1] = set.entry[0];
    set.entry[0] = RecentEntry{hash, id, static_cast<std::uint16_t>(length), buffer};
    std::memcpy(r->text[k][buffer], text, length);
}

} // namespace

StringDictionary* create_dictionary() {
    auto* d = static_cast<StringDictionary*>(
        checked_realloc(nullptr, sizeof(StringDictionary), NOT_ENOUGH_MEMORY));
    std::memset(d, 0, sizeof *d);
    d->root = NO_STATE;
    d->id_counter = 1;
    d->state_count = 1; // index 0 stands for "no state"
    return d;
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
    ++d->table_count;
    return table;
}

std::int32_t intern_string(StringDictionary* d, const char* text) {
    if (text == nullptr) return 0;
    return intern_bytes(d, reinterpret_cast<const unsigned char*>(text), std::strlen(text));
}

/*
 * Insert-or-find. L counts the bytes of the text not yet consumed; it is at
 * least 1 from step 3 on.
 *
 * 1. Null or empty text: 0 or 1, nothing stored.
 * 2. Empty dictionary: the root becomes a fragment of the whole text.
 * 3. Walk from the root, by the kind of the current state:
 *    3a. End marker: go on to its next without consuming; with no next, the
 *        rest of the text becomes its next.
 *    3b. Branch, on the first remaining byte b:
 *        - slot taken, L > 1: consume b, go on;
 *        - slot taken, L = 1: an end marker there is the text (found);
 *          otherwise a new end marker goes in front of the slot's state;
 *        - slot empty: a fragment of the bytes after b, or an end marker
 *          when b was the last byte.
 *    3c. Fragment of K bytes, compared over min(L, K) bytes:
 *        - all equal, L > K: consume K; go on to its next, or the rest
 *          becomes its next;
 *        - all equal, L = K: its id is the text's (found, or given a new one);
 *        - all equal, L < K: split it after L bytes (3d);
 *        - first difference at i: split it at i (step 4).
 *    3d. The tail K - L bytes become a fragment of their own with the old
 *        next and id; the head keeps L bytes and takes a new id.
 * 4. Split at i, x the fragment's byte there and y the text's:
 *    4a. A new branch table.
 *    4b. Old side, slot x: a fragment of the bytes after i with the old next
 *        and id; with no bytes left, an end marker carrying the old id and
 *        next, or the old next itself when the fragment had no id.
 *    4c. New side, slot y: a fragment of the text after i with a new id, or
 *        an end marker with a new id when nothing is left.
 *    4d. i > 0: the fragment keeps i bytes, loses its id, and its next is a
 *        new branch state holding the table. i = 0: it becomes that branch.
 * Exactly one new id is taken for every text added.
 */
namespace {

std::int32_t walk(StringDictionary* d, const unsigned char* text, std::size_t length) {
    reserve_states(d, MOST_NEW_STATES + length / MAX_FRAGMENT);
    // 2.
    if (d->root == NO_STATE) {
        d->root = new_fragment(d, text, length);
        return -d->id_counter;
    }
    // 3.
    StateIndex current = d->root;
    for (;;) {
        State* s = &d->states[current];
        if (s->length == STATE_END_MARKER) { // 3a.
            if (s->next != NO_STATE) {
                current = s->next;
                continue;
            }
            StateIndex rest = new_fragment(d, text, length);
            d->states[current].next = rest;
            return -d->id_counter;
        }
        if (s->length == STATE_BRANCH) { // 3b.
            StateIndex* slot = &s->data.table->slot[*text];
            if (*slot != NO_STATE && length > 1) {
                prefetch(&d->states[*slot]);
                ++text;
                --length;
                current = *slot;
                continue;
            }
            if (*slot != NO_STATE) {
                if (d->states[*slot].length == STATE_END_MARKER) return d->states[*slot].id;
                *slot = new_end_marker(d, *slot, new_id(d));
                return -d->id_counter;
            }
            if (length >= 2) {
                *slot = new_fragment(d, text + 1, length - 1);
            } else {
                *slot = new_end_marker(d, NO_STATE, new_id(d));
            }
            return -d->id_counter;
        }
        // 3c. Fragment. The walk is a chain of dependent loads through a
        // dictionary far larger than the caches: ask for the next state
        // while this fragment's bytes are compared.
        prefetch(&d->states[s->next]);
        std::size_t k = static_cast<std::size_t>(s->length);
        std::size_t common = length < k ? length : k;
        std::size_t i = mismatch(s->data.bytes, text, common);
        if (i == common) {
            if (length > k) {
                text += k;
                length -= k;
                if (s->next != NO_STATE) {
                    current = s->next;
                    continue;
                }
                StateIndex rest = new_fragment(d, text, length);
                d->states[current].next = rest;
                return -d->id_counter;
            }
            if (length == k) {
                if (s->id > 0) return s->id;
                s->id = new_id(d);
                return -s->id;
            }
            // 3d. The text ends inside the fragment.
            StateIndex tail = take_state(d, static_cast<std::int32_t>(k - length), s->next, s->id);
            s = &d->states[current];
            d->states[tail].data.bytes = s->data.bytes + length;
            s->length = static_cast<std::int32_t>(length);
            s->next = tail;
            s->id = new_id(d);
            return -s->id;
        }
        // 4. Split at i.
        StateIndex former_next = s->next;
        std::int32_t former_id = s->id;
        const unsigned char* bytes = s->data.bytes;
        BranchTable* table = new_branch_table(d); // 4a.
        StateIndex old_side;                      // 4b.
        if (k - i - 1 > 0) {
            old_side = take_state(d, static_cast<std::int32_t>(k - i - 1), former_next, former_id);
            d->states[old_side].data.bytes = bytes + i + 1;
        } else if (former_id > 0) {
            old_side = new_end_marker(d, former_next, former_id);
        } else {
            old_side = former_next;
        }
        table->slot[bytes[i]] = old_side;
        StateIndex new_side; // 4c.
        if (length - i - 1 > 0) {
            new_side = new_fragment(d, text + i + 1, length - i - 1);
        } else {
            new_side = new_end_marker(d, NO_STATE, new_id(d));
        }
        table->slot[text[i]] = new_side;
        s = &d->states[current]; // 4d.
        if (i > 0) {
            StateIndex branch = take_state(d, STATE_BRANCH, NO_STATE, 0);
            d->states[branch].data.table = table;
            s = &d->states[current];
            s->length = static_cast<std::int32_t>(i);
            s->id = 0;
            s->next = branch;
        } else {
            s->length = STATE_BRANCH;
            s->data.table = table;
            s->next = NO_STATE;
            s->id = 0;
        }
        return -d->id_counter;
    }
}

} // namespace

// A text seen lately is answered from its set of the recent texts: one hash
// and one compare instead of a walk that waits on memory at every branch.
// Every other text walks the trie (steps 2 to 4) and is then remembered.
// The sets only ever hold texts with the ids the trie gave them, so the
// answer is the trie's in every case.
std::int32_t intern_bytes(StringDictionary* d, const unsigned char* text, std::size_t length) {
    // 1.
    if (text == nullptr) return 0;
    if (length == 0) return 1;
    if (length > RECENT_TEXT_MOST) return walk(d, text, length);
    RecentTexts* r = recent_texts(d);
    if (r == nullptr) return walk(d, text, length);
    std::uint64_t hash = hash_text(text, length);
    std::size_t k = set_of(hash);
    // Both of the set's texts are asked for while its entries are read.
    prefetch(r->text[k][0]);
    prefetch(r->text[k][1]);
    std::int32_t id = recall(r, k, hash, text, length);
    if (id != 0) return id;
    std::int32_t result = walk(d, text, length);
    remember(r, k, hash, text, length, result < 0 ? -result : result);
    return result;
}

std::size_t dictionary_heap_bytes(const StringDictionary* d) {
    return sizeof(StringDictionary) + std::size_t{d->state_capacity} * sizeof(State) +
           d->table_bytes + d->byte_total + (d->recent != nullptr ? sizeof(RecentTexts) : 0);
}
