#include "analyzer/recent_texts.h"

#include "platform/allocation.h"

#include <cstring>
#include <utility>

// One set: two entries, the one used last first, each naming which of the
// set's two text buffers holds its bytes (so that reordering them moves 16
// bytes, not texts). An entry of length 0 is empty. The entries of all sets
// lie together (64 KiB, which the near caches keep), apart from the texts
// (2 MiB).
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
static_assert(RECENT_TEXT_MOST <= UINT16_MAX, "an entry's length is 16 bits");
constexpr int RECENT_SET_BITS = 11;
static_assert(RECENT_SETS == std::size_t{1} << RECENT_SET_BITS, "the set is the hash's top bits");

RecentTexts* new_recent_texts() {
    return static_cast<RecentTexts*>(optional_calloc(1, sizeof(RecentTexts)));
}

std::size_t recent_texts_bytes() {
    return sizeof(RecentTexts);
}

// 64-bit hash of a text, eight bytes at a time in two lanes, so that each
// multiplication waits for the one two words back. Only the choice of the
// set depends on it: an entry answers only after its bytes compare equal.
RecentKey recent_key(const unsigned char* text, std::size_t length) {
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
    h ^= h >> 32;
    return RecentKey{h, static_cast<std::size_t>(h >> (64 - RECENT_SET_BITS))};
}

std::int32_t recall_text(RecentTexts* r, const RecentKey& key, const unsigned char* text,
                         std::size_t length) {
    RecentSet& set = r->set[key.set];
    for (int n = 0; n < 2; ++n) {
        const RecentEntry& e = set.entry[n];
        if (e.hash == key.hash && e.length == length &&
            std::memcmp(r->text[key.set][e.buffer], text, length) == 0) {
            std::int32_t id = e.id;
            if (n == 1) std::swap(set.entry[0], set.entry[1]);
            return id;
        }
    }
    return 0;
}

void remember_text(RecentTexts* r, const RecentKey& key, const unsigned char* text,
                   std::size_t length, std::int32_t id) {
    RecentSet& set = r->set[key.set];
    std::uint16_t buffer = 0;
    if (set.entry[0].length != 0) {
        buffer = set.entry[1].length != 0 ? set.entry[1].buffer
                                          : static_cast<std::uint16_t>(1 - set.entry[0].buffer);
    }
    set.entry[1] = set.entry[0];
    set.entry[0] = RecentEntry{key.hash, id, static_cast<std::uint16_t>(length), buffer};
    std::memcpy(r->text[key.set][buffer], text, length);
}
