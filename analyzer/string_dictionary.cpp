#include "analyzer/string_dictionary.h"

#include "analyzer/dictionary_trie.h"
#include "platform/allocation.h"

#include <cassert>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Index of the first byte within `common` where a node's label and the
// text differ, or `common`; the text has `left` >= `common` bytes from
// `text`. Eight bytes at a time: a loop that stops on the first unequal
// byte has its exit mispredicted at nearly every node of a walk. The label
// may be read up to 7 bytes past its end (its node's header follows it);
// the text only within its `left` bytes, byte by byte where fewer than 8
// are left.
inline std::size_t label_mismatch(const unsigned char* label, const unsigned char* text,
                                  std::size_t common, std::size_t left) {
    std::size_t i = 0;
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    static_assert(HEADER_UNITS * 4 >= 7, "a label is followed by at least 7 readable bytes");
    for (;;) {
        if (left - i < 8) break;
        std::uint64_t x;
        std::uint64_t y;
        std::memcpy(&x, label + i, 8);
        std::memcpy(&y, text + i, 8);
        std::uint64_t diff = x ^ y;
        std::size_t rest = common - i;
        if (rest < 8) diff &= (std::uint64_t{1} << (8 * rest)) - 1; // bytes past `common`
        if (diff != 0) return i + (static_cast<std::size_t>(__builtin_ctzll(diff)) >> 3);
        if (rest <= 8) return common;
        i += 8;
    }
#endif
    while (i < common && label[i] == text[i]) ++i;
    return i;
}

inline std::int32_t new_id(StringDictionary* d) {
    return ++d->id_counter;
}

inline unsigned char* writable_label(std::uint32_t* n) {
    return reinterpret_cast<unsigned char*>(n) - label_length(n);
}

// Drops the first `count` bytes of a node's label: the rest stays in place.
inline void drop_label_front(std::uint32_t* n, std::size_t count) {
    n[0] -= static_cast<std::uint32_t>(count);
}

// A new branch of `kind` holding a copy of `length` label bytes and `id`.
NodeRef new_branch(StringDictionary* d, NodeKind kind, const unsigned char* label,
                   std::size_t length, std::int32_t id) {
    NodeRef node = new_node(d, kind, length);
    std::uint32_t* n = node_units(d, node);
    std::memcpy(writable_label(n), label, length);
    n[1] = static_cast<std::uint32_t>(id);
    return node;
}

// Where `byte` is among the `count` keys of a small branch, or `count`: the
// plain loop, for builds without the word and vector compares below.
[[maybe_unused]] inline unsigned sorted_key_at(const unsigned char* keys, unsigned count,
                                               unsigned char byte) {
    unsigned at = 0;
    while (at < count && keys[at] != byte) ++at;
    return at;
}

// The child a branch has for `byte`, or NO_NODE; a leaf has none. Also
// gives, in *slot, the unit that holds it (for a child that is present).
//
// A walk meets a small branch at nearly every step, and which of its keys
// matches is as good as random to the branch predictor: the keys of an N4
// are compared all at once (the lowest zero byte of keys ^ byte, exact
// whatever the bytes above it), those of an N16 in one vector compare.
inline NodeRef find_child(const std::uint32_t* n, NodeRef node, unsigned char byte,
                          std::uint32_t* slot) {
    std::uint32_t at;
    const std::uint32_t* children;
    switch (node_kind(n)) {
    case NODE_4: {
        unsigned count = child_count(n);
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        std::uint32_t keys;
        std::memcpy(&keys, node_keys(n), sizeof keys);
        std::uint32_t x = keys ^ (0x01010101u * byte);
        std::uint32_t zero = (x - 0x01010101u) & ~x & 0x80808080u;
        if (zero == 0) return NO_NODE;
        at = static_cast<std::uint32_t>(__builtin_ctz(zero)) >> 3;
        if (at >= count) return NO_NODE; // a stale key past the children
#else
        at = sorted_key_at(node_keys(n), count, byte);
        if (at == count) return NO_NODE;
#endif
        children = n + HEADER_UNITS + 1;
        break;
    }
    case NODE_16: {
        unsigned count = child_count(n);
#if defined(__SSE2__)
        __m128i keys = _mm_loadu_si128(reinterpret_cast<const __m128i*>(node_keys(n)));
        __m128i same = _mm_cmpeq_epi8(keys, _mm_set1_epi8(static_cast<char>(byte)));
        unsigned hits = static_cast<unsigned>(_mm_movemask_epi8(same)) & ((1u << count) - 1);
        if (hits == 0) return NO_NODE;
        at = static_cast<std::uint32_t>(__builtin_ctz(hits));
#else
        at = sorted_key_at(node_keys(n), count, byte);
        if (at == count) return NO_NODE;
#endif
        children = n + HEADER_UNITS + 4;
        break;
    }
    case NODE_48: {
        unsigned index = node_keys(n)[byte];
        if (index == 0) return NO_NODE;
        at = index - 1;
        children = n + HEADER_UNITS + 64;
        break;
    }
    case NODE_256:
        at = byte;
        children = n + HEADER_UNITS;
        break;
    default:
        return NO_NODE;
    }
    *slot = node + static_cast<std::uint32_t>(children + at - n);
    return children[at];
}

// Puts `child` under `byte` into a branch that has room for it and no child
// for that byte yet.
void put_child(std::uint32_t* n, unsigned char byte, NodeRef child) {
    NodeKind kind = node_kind(n);
    unsigned count = child_count(n);
    std::uint32_t* children = node_children(n);
    if (kind == NODE_256) {
        children[byte] = child;
        return;
    }
    unsigned char* keys = node_keys(n);
    if (kind == NODE_48) {
        children[count] = child;
        keys[byte] = static_cast<unsigned char>(count + 1);
    } else { // N4, N16: keys kept in ascending order
        unsigned at = count;
        while (at > 0 && keys[at - 1] > byte) {
            keys[at] = keys[at - 1];
            children[at] = children[at - 1];
            --at;
        }
        keys[at] = byte;
        children[at] = child;
    }
    ++n[2];
}

// A leaf for the `length` bytes of `text` with `id`; a text longer than a
// label holds is a chain of branches of one child each (LABEL_MOST bytes
// and the byte that selects the next link), the last link a leaf.
NodeRef new_leaf(StringDictionary* d, const unsigned char* text, std::size_t length,
                 std::int32_t id) {
    NodeRef head = NO_NODE;
    std::uint32_t* link_owner = nullptr; // the chain's last branch, whose child is still to come
    unsigned char link_byte = 0;
    while (length > LABEL_MOST) {
        NodeRef link = new_branch(d, NODE_4, text, LABEL_MOST, 0);
        if (link_owner == nullptr) {
            head = link;
        } else {
            put_child(link_owner, link_byte, link);
        }
        link_owner = node_units(d, link);
        link_byte = text[LABEL_MOST];
        text += LABEL_MOST + 1;
        length -= LABEL_MOST + 1;
    }
    NodeRef leaf = new_node(d, NODE_LEAF, length);
    std::uint32_t* n = node_units(d, leaf);
    std::memcpy(writable_label(n), text, length);
    n[1] = static_cast<std::uint32_t>(id);
    if (link_owner == nullptr) return leaf;
    put_child(link_owner, link_byte, leaf);
    return head;
}

} // namespace

/*
 * Insert-or-find, in two parts as in any change of the trie: find_position
 * walks from the root without changing anything and reports where it
 * stopped and why; insert_at acts on that report. L counts the bytes of the
 * text not yet consumed when the walk reaches a node, K the bytes of the
 * node's label.
 *
 * 1. Null or empty text: 0 or 1, nothing stored (intern_bytes).
 * 2. Empty dictionary: the root becomes a leaf of the whole text.
 * 3. Walk from the root, comparing the node's label with the text over
 *    min(L, K) bytes:
 *    3a. First difference at i: split the node there (step 4).
 *    3b. All equal, L < K: the text ends inside the label: a new branch
 *        takes the first L bytes of the label and a new id; the node, its
 *        label shortened by L + 1 bytes, becomes its child under label byte
 *        L. It takes the node's place in its parent.
 *    3c. All equal, L = K: the node's id is the text's (found); a branch
 *        without one takes a new id.
 *    3d. All equal, L > K: b is the byte after the label.
 *        - a leaf: a branch N4 with a copy of its label and its id takes
 *          its place, with one child under b: a leaf of the text after b,
 *          with a new id. The leaf's block is freed.
 *        - a branch with a child for b: consume K + 1 bytes, go on to it.
 *        - a branch without: a leaf of the text after b, with a new id,
 *          becomes its child under b (step 5 when the branch is full).
 * 4. Split at i, x the label's byte there and y the text's: a new branch N4
 *    with a copy of the first i label bytes and no id takes the node's
 *    place. Its children: the node under x, its label shortened by i + 1
 *    bytes; and under y a leaf of the text after byte i, with a new id.
 * 5. Growth: a full branch is copied into one of the next size (N4 into
 *    N16, N16 into N48, N48 into N256) with its label, id and children, the
 *    new child is put there, the copy takes the branch's place, and the
 *    branch's block is freed.
 * Exactly one new id is taken for every text added.
 */
namespace {

// Where find_position stopped, by the step that acts there.
enum Stop {
    STOP_FOUND,        // the text is stored, with `id`
    STOP_EMPTY,        // 2.
    STOP_DIFFERS,      // 3a. the text and the label of `node` differ at byte `matched`
    STOP_INSIDE_LABEL, // 3b. L < K, all L bytes equal
    STOP_NO_ID,        // 3c. L = K; branch `node` has no id
    STOP_LEAF_ENDS,    // 3d. L > K; `node` is a leaf
    STOP_NO_CHILD,     // 3d. L > K; branch `node` has no child for the byte after its label
};

// A text's position in the trie. It names nodes by index, so it stays good
// while storage grows; any insertion makes it stale.
struct TriePosition {
    Stop stop;
    NodeRef node;              // where the walk stopped; NO_NODE for STOP_EMPTY
    std::uint32_t link;        // the unit that holds `node` in its parent; 0: the root
    const unsigned char* rest; // the text's bytes not consumed before `node`
    std::size_t length;        // L, their count
    std::size_t matched;       // 3a: leading label bytes equal to the text's
    std::int32_t id;           // STOP_FOUND: the text's id
};

TriePosition find_position(const StringDictionary* d, const unsigned char* text,
                           std::size_t length) {
    TriePosition at = {STOP_EMPTY, d->root, 0, text, length, 0, 0};
    if (d->root == NO_NODE) return at; // 2.
    for (;;) {                         // 3.
        const std::uint32_t* n = node_units(d, at.node);
        std::size_t k = label_length(n);
        std::size_t common = at.length < k ? at.length : k;
        std::size_t i = label_mismatch(label_bytes(n), at.rest, common, at.length);
        if (i < common) { // 3a.
            at.stop = STOP_DIFFERS;
            at.matched = i;
            return at;
        }
        if (at.length < k) { // 3b.
            at.stop = STOP_INSIDE_LABEL;
            return at;
        }
        if (at.length == k) { // 3c.
            at.id = static_cast<std::int32_t>(n[1]);
            at.stop = at.id > 0 ? STOP_FOUND : STOP_NO_ID;
            return at;
        }
        if (node_kind(n) == NODE_LEAF) { // 3d.
            at.stop = STOP_LEAF_ENDS;
            return at;
        }
        std::uint32_t slot;
        NodeRef child = find_child(n, at.node, at.rest[k], &slot);
        if (child == NO_NODE) {
            at.stop = STOP_NO_CHILD;
            return at;
        }
        at.rest += k + 1;
        at.length -= k + 1;
        at.node = child;
        at.link = slot;
    }
}

// Makes `node` the child that `link` names (0: the root).
inline void replace_at(StringDictionary* d, std::uint32_t link, NodeRef node) {
    if (link == 0) {
        d->root = node;
    } else {
        *node_units(d, link) = node;
    }
}

// 3a and 4. The text and the label differ at byte i = at.matched.
std::int32_t split_at(StringDictionary* d, const TriePosition& at) {
    std::size_t i = at.matched;
    const std::uint32_t* n = node_units(d, at.node);
    NodeRef branch = new_branch(d, NODE_4, label_bytes(n), i, 0);
    std::int32_t id = new_id(d);
    NodeRef leaf = new_leaf(d, at.rest + i + 1, at.length - i - 1, id);
    std::uint32_t* old = node_units(d, at.node); // no node moves; read again for clarity
    unsigned char x = label_bytes(old)[i];
    drop_label_front(old, i + 1);
    std::uint32_t* b = node_units(d, branch);
    put_child(b, x, at.node);
    put_child(b, at.rest[i], leaf);
    replace_at(d, at.link, branch);
    return -id;
}

// 3b. The text ends after the first L = at.length bytes of the label.
std::int32_t split_after(StringDictionary* d, const TriePosition& at) {
    std::size_t l = at.length;
    std::uint32_t* n = node_units(d, at.node);
    std::int32_t id = new_id(d);
    NodeRef branch = new_branch(d, NODE_4, label_bytes(n), l, id);
    unsigned char x = label_bytes(n)[l];
    drop_label_front(n, l + 1);
    put_child(node_units(d, branch), x, at.node);
    replace_at(d, at.link, branch);
    return -id;
}

// 3d. A leaf whose text the new one continues becomes a branch.
std::int32_t extend_leaf(StringDictionary* d, const TriePosition& at) {
    const std::uint32_t* n = node_units(d, at.node);
    std::size_t k = label_length(n);
    NodeRef branch = new_branch(d, NODE_4, label_bytes(n), k, static_cast<std::int32_t>(n[1]));
    std::int32_t id = new_id(d);
    NodeRef leaf = new_leaf(d, at.rest + k + 1, at.length - k - 1, id);
    put_child(node_units(d, branch), at.rest[k], leaf);
    replace_at(d, at.link, branch);
    free_node(d, at.node);
    ++d->grown[NODE_4];
    return -id;
}

// 3d and 5. A new leaf under the byte after a branch's label.
std::int32_t add_child(StringDictionary* d, const TriePosition& at) {
    const std::uint32_t* n = node_units(d, at.node);
    std::size_t k = label_length(n);
    unsigned char byte = at.rest[k];
    std::int32_t id = new_id(d);
    NodeRef leaf = new_leaf(d, at.rest + k + 1, at.length - k - 1, id);
    n = node_units(d, at.node);
    NodeKind kind = node_kind(n);
    unsigned count = child_count(n);
    if (kind == NODE_256 || count < KIND_CHILDREN[kind]) {
        put_child(node_units(d, at.node), byte, leaf);
        return -id;
    }
    // 5. Full: copy into the next size; children go in ascending byte order.
    auto bigger = static_cast<NodeKind>(kind + 1);
    NodeRef grown = new_branch(d, bigger, label_bytes(n), k, static_cast<std::int32_t>(n[1]));
    n = node_units(d, at.node);
    std::uint32_t* g = node_units(d, grown);
    const std::uint32_t* children = node_children(n);
    const unsigned char* keys = node_keys(n);
    if (kind == NODE_48) {
        for (unsigned b = 0; b < 256; ++b) {
            if (keys[b] != 0) put_child(g, static_cast<unsigned char>(b), children[keys[b] - 1]);
        }
    } else {
        for (unsigned c = 0; c < count; ++c) put_child(g, keys[c], children[c]);
    }
    put_child(g, byte, leaf);
    replace_at(d, at.link, grown);
    free_node(d, at.node);
    ++d->grown[bigger];
    return -id;
}

// Adds the text at the position find_position gave for it (not found) and
// returns the negative of its new id.
std::int32_t insert_at(StringDictionary* d, const TriePosition& at) {
    assert(at.stop != STOP_FOUND);
    switch (at.stop) {
    case STOP_EMPTY: { // 2.
        std::int32_t id = new_id(d);
        d->root = new_leaf(d, at.rest, at.length, id);
        return -id;
    }
    case STOP_DIFFERS: // 3a.
        return split_at(d, at);
    case STOP_INSIDE_LABEL: // 3b.
        return split_after(d, at);
    case STOP_NO_ID: { // 3c.
        std::int32_t id = new_id(d);
        node_units(d, at.node)[1] = static_cast<std::uint32_t>(id);
        return -id;
    }
    case STOP_LEAF_ENDS: // 3d.
        return extend_leaf(d, at);
    case STOP_NO_CHILD: // 3d.
        return add_child(d, at);
    case STOP_FOUND:
        break;
    }
    return at.id;
}

// Steps 2 to 5 for a text of at least one byte.
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
    d->root = NO_NODE;
    d->id_counter = 1;
    return d;
}

std::int32_t intern_string(StringDictionary* d, const char* text) {
    if (text == nullptr) return 0;
    return intern_bytes(d, reinterpret_cast<const unsigned char*>(text), std::strlen(text));
}

// A text seen lately is answered from the recent texts; every other text is
// found or inserted in the trie (steps 2 to 5) and then remembered. The
// recent texts only ever hold ids the trie gave, so the answer is the
// trie's in every case. Without them litsieve runs 26.7 % more instructions
// on oltp-1m, where most texts come again; on distinct-200k, where most are
// new, they cost 5.6 % (bench/results/PROFILE.md). The dictionary tests run
// a dictionary that could not have them beside one that has them.
namespace {

// The recent texts for a text of `length` bytes, or null: a text too long
// for them, none allocated, or resting (RECENT_WINDOW).
RecentTexts* recent_for(StringDictionary* d, std::size_t length) {
    if (length > RECENT_TEXT_MOST) return nullptr;
    if (d->recent_resting > 0) {
        --d->recent_resting;
        return nullptr;
    }
    return recent_texts(d);
}

// Counts whether the recent texts answered; at the end of a window, they
// rest if they answered too few.
void note_recall(StringDictionary* d, bool answered) {
    d->recent_answered += answered ? 1 : 0;
    if (++d->recent_asked < RECENT_WINDOW) return;
    if (d->recent_answered * RECENT_WORTH < RECENT_WINDOW) d->recent_resting = RECENT_REST;
    d->recent_asked = d->recent_answered = 0;
}

} // namespace

std::int32_t intern_bytes(StringDictionary* d, const unsigned char* text, std::size_t length) {
    // 1.
    if (text == nullptr) return 0;
    if (length == 0) return 1;
    RecentTexts* r = recent_for(d, length);
    if (r == nullptr) return find_or_insert(d, text, length);
    RecentKey key = recent_key(text, length);
    std::int32_t id = recall_text(r, key, text, length);
    note_recall(d, id != 0);
    if (id != 0) return id;
    std::int32_t result = find_or_insert(d, text, length);
    remember_text(r, key, text, length, result < 0 ? -result : result);
    return result;
}

namespace {

// Where intern_run leaves the steps of its warming walks. A loop whose only
// effects are prefetches is dead code to the compiler, which drops it
// whole (so it was, unnoticed, until the instructions were looked at); a
// result that must be stored keeps it.
volatile std::size_t warm_sink;

inline void prefetch(const void* address) {
#if defined(__GNUC__)
    __builtin_prefetch(address);
#else
    (void)address;
#endif
}

// The cache lines of a node that a walk reads: its header, the end of its
// label before it (12 bytes, more than most labels) and the keys and
// children of a branch of up to 4 after it. Two addresses 43 bytes apart:
// one line or two, never a line the walk does not read; asking for the
// line before the header as well, whatever the label, left interning
// adhoc-1m's texts no faster (0.80-1.01 s against 0.77-0.87 s, 3 alternated
// pairs), the requests in flight being what the walks wait on.
inline void prefetch_node(const StringDictionary* d, NodeRef node) {
    const std::uint32_t* n = node_units(d, node);
    prefetch(reinterpret_cast<const char*>(n) - 12);
    prefetch(reinterpret_cast<const char*>(n) + 31);
}

/*
 * Walks of several texts side by side, one node each per round, touching
 * what find_position will read: each round asks for the next node of every
 * walk, so their misses overlap, and reads it in the next round, when it
 * has come. A walk follows label lengths only, without comparing bytes:
 * where the text turns out to differ, the real walk stops earlier and the
 * rest was fetched in vain. Changes nothing.
 */
std::size_t warm_walks(const StringDictionary* d, const unsigned char* const* texts,
                       const std::size_t* lengths, const bool* walk, std::size_t count) {
    std::size_t steps = 0;
    struct Walk {
        const unsigned char* rest;
        std::size_t left;
        NodeRef node;
    };
    Walk walks[INTERN_RUN_MOST];
    std::size_t active = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (walk[i]) walks[active++] = {texts[i], lengths[i], d->root};
    }
    while (active > 0) {
        std::size_t kept = 0;
        for (std::size_t w = 0; w < active; ++w) {
            Walk& at = walks[w];
            const std::uint32_t* n = node_units(d, at.node);
            std::size_t k = label_length(n);
            // A label longer than prefetch_node covered: the real walk
            // compares it from its first byte.
            const char* label = reinterpret_cast<const char*>(n) - k;
            for (std::size_t byte = 0; byte + 12 < k; byte += 64) prefetch(label + byte);
            if (k >= at.left || node_kind(n) == NODE_LEAF) continue;
            std::uint32_t slot;
            NodeRef child = find_child(n, at.node, at.rest[k], &slot);
            if (child == NO_NODE) continue;
            prefetch_node(d, child);
            walks[kept++] = {at.rest + k + 1, at.left - k - 1, child};
        }
        steps += active;
        active = kept;
    }
    return steps;
}

} // namespace

void intern_run(StringDictionary* d, const unsigned char* const* texts, const std::size_t* lengths,
                std::size_t count, std::int32_t* results) {
    assert(count <= INTERN_RUN_MOST);
    RecentTexts* recent[INTERN_RUN_MOST];
    RecentKey keys[INTERN_RUN_MOST];
    bool walk[INTERN_RUN_MOST];
    bool any = false;
    // Answered now: null and empty texts, and texts the recent sets hold
    // (their ids are the trie's, whatever comes after them).
    for (std::size_t i = 0; i < count; ++i) {
        walk[i] = false;
        recent[i] = nullptr;
        results[i] = texts[i] == nullptr ? 0 : 1;
        if (texts[i] == nullptr || lengths[i] == 0) continue;
        recent[i] = recent_for(d, lengths[i]);
        if (recent[i] != nullptr) {
            keys[i] = recent_key(texts[i], lengths[i]);
            std::int32_t id = recall_text(recent[i], keys[i], texts[i], lengths[i]);
            note_recall(d, id != 0);
            if (id != 0) {
                results[i] = id;
                continue;
            }
        }
        walk[i] = any = true;
    }
    if (!any) return;
    if (d->root != NO_NODE) warm_sink = warm_sink + warm_walks(d, texts, lengths, walk, count);
    // The others in order; a text met twice in the run is found by the trie.
    for (std::size_t i = 0; i < count; ++i) {
        if (!walk[i]) continue;
        results[i] = find_or_insert(d, texts[i], lengths[i]);
        if (recent[i] != nullptr) {
            remember_text(recent[i], keys[i], texts[i], lengths[i],
                          results[i] < 0 ? -results[i] : results[i]);
        }
    }
}

void warm_run(StringDictionary* d, const unsigned char* const* texts, const std::size_t* lengths,
              std::size_t count) {
    assert(count <= INTERN_RUN_MOST);
    if (d->root == NO_NODE || (d->recent != nullptr && d->recent_resting == 0)) return;
    bool walk[INTERN_RUN_MOST];
    for (std::size_t i = 0; i < count; ++i) walk[i] = texts[i] != nullptr && lengths[i] > 0;
    warm_sink = warm_sink + warm_walks(d, texts, lengths, walk, count);
}

std::int32_t dictionary_last_id(const StringDictionary* d) {
    return d->id_counter;
}

/*
 * Depth first from the root, with the bytes of the current path in a
 * buffer and the nodes still to visit on a stack (a chain of branches can
 * be as deep as a text is long). For each place taken off the stack:
 * 1. Cut the path back to the place's length, and add the byte that selects
 *    the node when it hangs from a branch.
 * 2. Add the node's label; its id, if any, names the path.
 * 3. Its children become places, pushed from the highest byte down so that
 *    the lowest comes off first.
 * A text is visited before everything that goes on from it, so the order
 * is ascending.
 */
namespace {

struct Place {
    NodeRef node;
    std::size_t path_length; // bytes of the path before it
    int byte;                // the byte that selects it in its parent, or -1 for the root
};

struct Visit {
    Place* places;
    std::size_t depth;
    std::size_t capacity;
    unsigned char* path;
    std::size_t path_capacity;
};

void push_place(Visit* v, NodeRef node, std::size_t path_length, int byte) {
    if (v->depth == v->capacity) {
        v->capacity = v->capacity < 256 ? 1024 : v->capacity * 2;
        v->places = static_cast<Place*>(
            checked_realloc(v->places, v->capacity * sizeof(Place), NOT_ENOUGH_MEMORY));
    }
    v->places[v->depth++] = {node, path_length, byte};
}

void reserve_path(Visit* v, std::size_t length) {
    if (length <= v->path_capacity) return;
    std::size_t capacity = v->path_capacity < 256 ? 256 : v->path_capacity;
    while (capacity < length) capacity *= 2;
    v->path = static_cast<unsigned char*>(checked_realloc(v->path, capacity, NOT_ENOUGH_MEMORY));
    v->path_capacity = capacity;
}

// 3. The children of branch `n`, highest byte first.
void push_children(Visit* v, const std::uint32_t* n, std::size_t length) {
    const std::uint32_t* children = node_children(n);
    const unsigned char* keys = node_keys(n);
    switch (node_kind(n)) {
    case NODE_4:
    case NODE_16:
        for (unsigned c = child_count(n); c-- > 0;) push_place(v, children[c], length, keys[c]);
        break;
    case NODE_48:
        for (int b = 255; b >= 0; --b) {
            if (keys[b] != 0) push_place(v, children[keys[b] - 1], length, b);
        }
        break;
    case NODE_256:
        for (int b = 255; b >= 0; --b) {
            if (children[b] != NO_NODE) push_place(v, children[b], length, b);
        }
        break;
    default:
        break;
    }
}

} // namespace

void visit_texts(const StringDictionary* d, TextVisitor visit, void* context) {
    if (d->root == NO_NODE) return;
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
        const std::uint32_t* n = node_units(d, place.node); // 2.
        std::size_t k = label_length(n);
        assert(node_kind(n) != NODE_LEAF || n[1] > 0);
        if (k > 0) { // an empty label at the root: the path may not be allocated yet
            reserve_path(&v, length + k);
            std::memcpy(v.path + length, label_bytes(n), k);
            length += k;
        }
        if (n[1] > 0) going = visit(context, v.path, length, static_cast<std::int32_t>(n[1]));
        push_children(&v, n, length); // 3.
    }
    release(v.places);
    release(v.path);
}

std::size_t dictionary_heap_bytes(const StringDictionary* d) {
    return sizeof(StringDictionary) + trie_storage_bytes(d) +
           (d->recent != nullptr ? recent_texts_bytes() : 0);
}

void dictionary_shape(const StringDictionary* d, DictionaryShape* shape) {
    for (unsigned k = 0; k < NODE_KINDS; ++k) {
        shape->nodes[k] = d->nodes[k];
        shape->grown[k] = d->grown[k];
    }
    shape->storage_bytes = trie_storage_bytes(d);
}
