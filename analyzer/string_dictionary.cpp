#include "analyzer/string_dictionary.h"

#include "analyzer/dictionary_trie.h"
#include "platform/allocation.h"

#include <cassert>
#include <cstdint>
#include <cstring>

namespace {

// States one insertion can create at the most, besides the links of a chain:
// a split makes the old side, the new side and the branch state.
constexpr std::uint32_t MOST_NEW_STATES = 3;

// Index of the first differing byte of a and b within n bytes, or n.
inline std::size_t mismatch(const unsigned char* a, const unsigned char* b, std::size_t n) {
    std::size_t i = 0;
    while (i < n && a[i] == b[i]) ++i;
    return i;
}

inline std::int32_t new_id(StringDictionary* d) {
    return ++d->id_counter;
}

// A new fragment holding a copy of the text's bytes, no next, and a new id.
StateIndex new_fragment(StringDictionary* d, const unsigned char* text, std::size_t length) {
    const unsigned char* bytes = copy_bytes(d, text, length);
    StateIndex head = NO_STATE;
    StateIndex* link = &head; // the pool does not move: insert_at reserved the links
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

} // namespace

/*
 * Insert-or-find, in two parts as in any change of the trie: find_position
 * walks from the root without changing anything and reports where it
 * stopped and why; insert_at acts on that report. L counts the bytes of the
 * text not yet consumed; it is at least 1 from step 3 on.
 *
 * 1. Null or empty text: 0 or 1, nothing stored (intern_bytes).
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

// Where find_position stopped, by the step that acts there.
enum Stop {
    STOP_FOUND,           // the text is stored, with `id`
    STOP_EMPTY,           // 2.
    STOP_END_MARKER,      // 3a. end marker `state` has no next
    STOP_SLOT_TAKEN,      // 3b. L = 1; b's slot of branch `state` leads to longer texts only
    STOP_SLOT_EMPTY,      // 3b. b's slot of branch `state` is empty
    STOP_FRAGMENT_ENDS,   // 3c. L > K, all K bytes of fragment `state` equal; it has no next
    STOP_FRAGMENT_NO_ID,  // 3c. L = K, all bytes equal; fragment `state` has no id
    STOP_INSIDE_FRAGMENT, // 3d. L < K, all L bytes equal
    STOP_DIFFERS,         // 4. fragment `state` and the text differ at byte `matched`
};

// A text's position in the trie. It names states by index, so it stays
// good while the pool grows; any insertion makes it stale.
struct TriePosition {
    Stop stop;
    StateIndex state;          // where the walk stopped; NO_STATE for STOP_EMPTY
    const unsigned char* rest; // the text's bytes not consumed before `state` (3b: b first)
    std::size_t length;        // L, their count
    std::size_t matched;       // 3d and 4: leading bytes of the fragment equal to the text's
    std::int32_t id;           // STOP_FOUND: the text's id
};

TriePosition find_position(const StringDictionary* d, const unsigned char* text,
                           std::size_t length) {
    TriePosition at = {STOP_EMPTY, d->root, text, length, 0, 0};
    if (d->root == NO_STATE) return at; // 2.
    for (;;) {                          // 3.
        const State* s = &d->states[at.state];
        if (s->length == STATE_END_MARKER) { // 3a.
            if (s->next == NO_STATE) {
                at.stop = STOP_END_MARKER;
                return at;
            }
            at.state = s->next;
            continue;
        }
        if (s->length == STATE_BRANCH) { // 3b.
            StateIndex slot = s->data.table->slot[*at.rest];
            if (slot == NO_STATE) {
                at.stop = STOP_SLOT_EMPTY;
                return at;
            }
            if (at.length > 1) {
                ++at.rest;
                --at.length;
                at.state = slot;
                continue;
            }
            if (d->states[slot].length == STATE_END_MARKER) {
                at.stop = STOP_FOUND;
                at.id = d->states[slot].id;
            } else {
                at.stop = STOP_SLOT_TAKEN;
            }
            return at;
        }
        // 3c. Fragment.
        auto k = static_cast<std::size_t>(s->length);
        std::size_t common = at.length < k ? at.length : k;
        std::size_t i = mismatch(s->data.bytes, at.rest, common);
        if (i < common) { // 4.
            at.stop = STOP_DIFFERS;
            at.matched = i;
            return at;
        }
        if (at.length > k) {
            if (s->next == NO_STATE) {
                at.stop = STOP_FRAGMENT_ENDS;
                return at;
            }
            at.rest += k;
            at.length -= k;
            at.state = s->next;
            continue;
        }
        if (at.length == k) {
            at.stop = s->id > 0 ? STOP_FOUND : STOP_FRAGMENT_NO_ID;
            at.id = s->id;
            return at;
        }
        at.stop = STOP_INSIDE_FRAGMENT; // 3d.
        at.matched = at.length;
        return at;
    }
}

// 3d. The text ends after the first `at.length` bytes of the fragment.
std::int32_t split_after(StringDictionary* d, const TriePosition& at) {
    State* s = &d->states[at.state];
    auto k = static_cast<std::size_t>(s->length);
    StateIndex tail = take_state(d, static_cast<std::int32_t>(k - at.length), s->next, s->id);
    s = &d->states[at.state];
    d->states[tail].data.bytes = s->data.bytes + at.length;
    s->length = static_cast<std::int32_t>(at.length);
    s->next = tail;
    s->id = new_id(d);
    return -s->id;
}

// 4. The text and the fragment differ at byte i = at.matched.
std::int32_t split_at(StringDictionary* d, const TriePosition& at) {
    std::size_t i = at.matched;
    const State* s = &d->states[at.state];
    auto k = static_cast<std::size_t>(s->length);
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
    if (at.length - i - 1 > 0) {
        new_side = new_fragment(d, at.rest + i + 1, at.length - i - 1);
    } else {
        new_side = new_end_marker(d, NO_STATE, new_id(d));
    }
    table->slot[at.rest[i]] = new_side;
    if (i > 0) { // 4d.
        StateIndex branch = take_state(d, STATE_BRANCH, NO_STATE, 0);
        d->states[branch].data.table = table;
        State* fragment = &d->states[at.state];
        fragment->length = static_cast<std::int32_t>(i);
        fragment->id = 0;
        fragment->next = branch;
    } else {
        State* fragment = &d->states[at.state];
        fragment->length = STATE_BRANCH;
        fragment->data.table = table;
        fragment->next = NO_STATE;
        fragment->id = 0;
    }
    return -d->id_counter;
}

// Adds the text at the position find_position gave for it (not found) and
// returns the negative of its new id. Room for every state it may take is
// reserved first, so the steps below never see the pool move.
std::int32_t insert_at(StringDictionary* d, const TriePosition& at) {
    assert(at.stop != STOP_FOUND);
    reserve_states(d, MOST_NEW_STATES + at.length / MAX_FRAGMENT);
    switch (at.stop) {
    case STOP_EMPTY: // 2.
        d->root = new_fragment(d, at.rest, at.length);
        return -d->id_counter;
    case STOP_END_MARKER: { // 3a. the rest becomes its next
        StateIndex rest = new_fragment(d, at.rest, at.length);
        d->states[at.state].next = rest;
        return -d->id_counter;
    }
    case STOP_SLOT_TAKEN: { // 3b. an end marker in front of the slot's state
        StateIndex* slot = &d->states[at.state].data.table->slot[*at.rest];
        *slot = new_end_marker(d, *slot, new_id(d));
        return -d->id_counter;
    }
    case STOP_SLOT_EMPTY: { // 3b. the bytes after b, or an end marker for b alone
        StateIndex* slot = &d->states[at.state].data.table->slot[*at.rest];
        if (at.length >= 2) {
            *slot = new_fragment(d, at.rest + 1, at.length - 1);
        } else {
            *slot = new_end_marker(d, NO_STATE, new_id(d));
        }
        return -d->id_counter;
    }
    case STOP_FRAGMENT_ENDS: { // 3c. the rest after its K bytes becomes its next
        auto k = static_cast<std::size_t>(d->states[at.state].length);
        StateIndex rest = new_fragment(d, at.rest + k, at.length - k);
        d->states[at.state].next = rest;
        return -d->id_counter;
    }
    case STOP_FRAGMENT_NO_ID: { // 3c. the fragment takes a new id
        State* s = &d->states[at.state];
        s->id = new_id(d);
        return -s->id;
    }
    case STOP_INSIDE_FRAGMENT: // 3d.
        return split_after(d, at);
    case STOP_DIFFERS: // 4.
        return split_at(d, at);
    case STOP_FOUND:
        break;
    }
    return at.id;
}

// Steps 2 to 4 for a text of at least one byte.
std::int32_t find_or_insert(StringDictionary* d, const unsigned char* text, std::size_t length) {
    TriePosition at = find_position(d, text, length);
    return at.stop == STOP_FOUND ? at.id : insert_at(d, at);
}

// The recent texts, or null while they are not allocated. They are
// allocated with the first text; without them every call walks the trie.
RecentTexts* recent_texts(StringDictionary* d) {
    if (d->recent == nullptr && !d->recent_refused) {
        d->recent = new_recent_texts();
        d->recent_refused = d->recent == nullptr;
    }
    return d->recent;
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

std::int32_t intern_string(StringDictionary* d, const char* text) {
    if (text == nullptr) return 0;
    return intern_bytes(d, reinterpret_cast<const unsigned char*>(text), std::strlen(text));
}

// A text seen lately is answered from the recent texts; every other text is
// found or inserted in the trie (steps 2 to 4) and then remembered. The
// recent texts only ever hold ids the trie gave, so the answer is the
// trie's in every case. Without them litsieve runs 26.7 % more instructions
// on oltp-1m, where most texts come again; on distinct-200k, where most are
// new, they cost 5.6 % (bench/results/PROFILE.md). The dictionary tests run
// a dictionary that could not have them beside one that has them.
std::int32_t intern_bytes(StringDictionary* d, const unsigned char* text, std::size_t length) {
    // 1.
    if (text == nullptr) return 0;
    if (length == 0) return 1;
    if (length > RECENT_TEXT_MOST) return find_or_insert(d, text, length);
    RecentTexts* r = recent_texts(d);
    if (r == nullptr) return find_or_insert(d, text, length);
    RecentKey key = recent_key(text, length);
    std::int32_t id = recall_text(r, key, text, length);
    if (id != 0) return id;
    std::int32_t result = find_or_insert(d, text, length);
    remember_text(r, key, text, length, result < 0 ? -result : result);
    return result;
}

std::int32_t dictionary_last_id(const StringDictionary* d) {
    return d->id_counter;
}

/*
 * Depth first from the root, with the bytes of the current path in a
 * buffer and the places still to visit on a stack (a chain of branches can
 * be as deep as a text is long). For each place taken off the stack:
 * 1. Cut the path back to the place's length, and add the slot's byte when
 *    the place hangs from a branch.
 * 2. Fragment: add its bytes; its id, if any, names the path; go on to its
 *    next. End marker: its id names the path as it is; go on to its next.
 *    Branch: every taken slot becomes a place, pushed from byte 255 down so
 *    that byte 0 comes off first.
 * A text is visited before everything that goes on from it, so the order
 * is ascending.
 */
namespace {

struct Place {
    StateIndex state;
    std::size_t path_length; // bytes of the path before it
    int byte;                // the slot's byte when it hangs from a branch, else -1
};

struct Visit {
    Place* places;
    std::size_t depth;
    std::size_t capacity;
    unsigned char* path;
    std::size_t path_capacity;
};

void push_place(Visit* v, StateIndex state, std::size_t path_length, int byte) {
    if (v->depth == v->capacity) {
        v->capacity = v->capacity < 256 ? 1024 : v->capacity * 2;
        v->places = static_cast<Place*>(
            checked_realloc(v->places, v->capacity * sizeof(Place), NOT_ENOUGH_MEMORY));
    }
    v->places[v->depth++] = {state, path_length, byte};
}

void reserve_path(Visit* v, std::size_t length) {
    if (length <= v->path_capacity) return;
    std::size_t capacity = v->path_capacity < 256 ? 256 : v->path_capacity;
    while (capacity < length) capacity *= 2;
    v->path = static_cast<unsigned char*>(checked_realloc(v->path, capacity, NOT_ENOUGH_MEMORY));
    v->path_capacity = capacity;
}

} // namespace

void visit_texts(const StringDictionary* d, TextVisitor visit, void* context) {
    if (d->root == NO_STATE) return;
    Visit v = {nullptr, 0, 0, nullptr, 0};
    push_place(&v, d->root, 0, -1);
    bool going = true;
    while (v.depth > 0 && going) {
        Place place = v.places[--v.depth];
        std::size_t length = place.path_length; // 1.
        if (place.byte >= 0) {
            reserve_path(&v, length + 1);
            v.path[length++] = static_cast<unsigned char>(place.byte);
        }
        const State& s = d->states[place.state]; // 2.
        if (s.length > 0) {
            assert(s.next != NO_STATE || s.id > 0);
            auto k = static_cast<std::size_t>(s.length);
            reserve_path(&v, length + k);
            std::memcpy(v.path + length, s.data.bytes, k);
            length += k;
            if (s.id > 0) going = visit(context, v.path, length, s.id);
            if (s.next != NO_STATE) push_place(&v, s.next, length, -1);
        } else if (s.length == STATE_END_MARKER) {
            going = visit(context, v.path, length, s.id);
            if (s.next != NO_STATE) push_place(&v, s.next, length, -1);
        } else {
            for (int b = 255; b >= 0; --b) {
                StateIndex slot = s.data.table->slot[b];
                if (slot != NO_STATE) push_place(&v, slot, length, b);
            }
        }
    }
    release(v.places);
    release(v.path);
}

std::size_t dictionary_heap_bytes(const StringDictionary* d) {
    return sizeof(StringDictionary) + std::size_t{d->state_capacity} * sizeof(State) +
           d->table_bytes + d->byte_total + (d->recent != nullptr ? recent_texts_bytes() : 0);
}
