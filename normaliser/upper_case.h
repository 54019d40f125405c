// Upper-casing of token texts for the normalised text. Only 'a'..'z' change;
// every other byte, 0x80..0xFF included, maps to itself whatever the locale.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

struct UpperTable {
    unsigned char map[256];
    constexpr UpperTable() : map() {
        for (int i = 0; i < 256; ++i) {
            map[i] = static_cast<unsigned char>(i >= 'a' && i <= 'z' ? i - 'a' + 'A' : i);
        }
    }
};
inline constexpr UpperTable upper_case;

// Copies `length` bytes from `text` to `out` upper-cased, one byte at a
// time through the table; returns the end of the copy.
inline char* copy_upper(char* out, const char* text, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        out[i] = static_cast<char>(upper_case.map[static_cast<unsigned char>(text[i])]);
    }
    return out + length;
}

// Bytes a word store of copy_identifier_upper may write past the copy: the
// text it writes into needs that much room behind it.
constexpr std::size_t WORD_SLACK = 8;

// copy_upper for an identifier (bytes 0-9 A-Z _ a-z only), eight bytes at a
// time, when eight-byte words can be read within the statement, whose end
// (one past its NUL) is `limit` (null: unknown). With copy_upper instead,
// litsieve runs 7.8 % more instructions on oltp-1m and 5.0 % more on
// distinct-200k (bench/results/PROFILE.md); the parser tests check it
// against copy_upper.
//
// Among identifier bytes the lower-case letters are exactly those above '_'
// (0x5F), so adding 0x20 sets the high bit of exactly those, and no sum
// leaves its byte. Bytes of the last word past the identifier may come out
// changed; they lie past the copy (at most WORD_SLACK - 1 bytes) and are
// written over or ignored.
inline char* copy_identifier_upper(char* out, const char* text, std::size_t length,
                                   const char* limit) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // Little-endian: a carry out of a byte past the identifier runs into a
    // later byte, never into the identifier's own.
    std::size_t words = (length + 7) / 8;
    if (limit != nullptr && static_cast<std::size_t>(limit - text) >= 8 * words) {
        constexpr std::uint64_t ones = 0x0101010101010101u;
        for (std::size_t i = 0; i < 8 * words; i += 8) {
            std::uint64_t word;
            std::memcpy(&word, text + i, 8);
            std::uint64_t lower = (word + 0x20 * ones) & (0x80 * ones);
            word -= lower >> 2;
            std::memcpy(out + i, &word, 8);
        }
        return out + length;
    }
#endif
    return copy_upper(out, text, length);
}
