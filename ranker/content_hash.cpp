#include "ranker/content_hash.h"

#include <cstdint>
#include <cstring>

namespace {

// First 32 bits of the fractional parts of the cube roots of the first 64
// primes.
const std::uint32_t ROUND_CONSTANTS[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

// First 32 bits of the fractional parts of the square roots of the first 8
// primes.
const std::uint32_t INITIAL_STATE[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

inline std::uint32_t rotate_right(std::uint32_t x, int n) {
    return x >> n | x << (32 - n);
}

// One 64-byte block into the state.
void compress(std::uint32_t state[8], const unsigned char block[64]) {
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i) {
        w[i] = std::uint32_t{block[4 * i]} << 24 | std::uint32_t{block[4 * i + 1]} << 16 |
               std::uint32_t{block[4 * i + 2]} << 8 | std::uint32_t{block[4 * i + 3]};
    }
    for (int i = 16; i < 64; ++i) {
        std::uint32_t s0 =
            rotate_right(w[i - 15], 7) ^ rotate_right(w[i - 15], 18) ^ w[i - 15] >> 3;
        std::uint32_t s1 = rotate_right(w[i - 2], 17) ^ rotate_right(w[i - 2], 19) ^ w[i - 2] >> 10;
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int i = 0; i < 64; ++i) {
        std::uint32_t s1 = rotate_right(e, 6) ^ rotate_right(e, 11) ^ rotate_right(e, 25);
        std::uint32_t choice = (e & f) ^ (~e & g);
        std::uint32_t t1 = h + s1 + choice + ROUND_CONSTANTS[i] + w[i];
        std::uint32_t s0 = rotate_right(a, 2) ^ rotate_right(a, 13) ^ rotate_right(a, 22);
        std::uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
        std::uint32_t t2 = s0 + majority;
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

const char BASE64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

} // namespace

/*
 * 1. Whole 64-byte blocks of the data.
 * 2. The rest, a 0x80 byte, zeros, and the length in bits as a big-endian
 *    64-bit value, in one block or, when it does not fit, two.
 */
void sha256(const char* data, std::size_t length, unsigned char digest[SHA256_BYTES]) {
    std::uint32_t state[8];
    std::memcpy(state, INITIAL_STATE, sizeof state);
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    std::size_t whole = length / 64 * 64;
    for (std::size_t i = 0; i < whole; i += 64) compress(state, p + i); // 1.
    unsigned char tail[128] = {};                                       // 2.
    std::size_t rest = length - whole;
    std::memcpy(tail, p + whole, rest);
    tail[rest] = 0x80;
    std::size_t tail_length = rest + 1 + 8 <= 64 ? 64 : 128;
    std::uint64_t bits = static_cast<std::uint64_t>(length) * 8;
    for (int i = 0; i < 8; ++i) {
        tail[tail_length - 1 - static_cast<std::size_t>(i)] =
            static_cast<unsigned char>(bits >> (8 * i));
    }
    compress(state, tail);
    if (tail_length == 128) compress(state, tail + 64);
    for (int i = 0; i < 8; ++i) {
        for (int j = 0; j < 4; ++j) {
            digest[4 * i + j] = static_cast<unsigned char>(state[i] >> (24 - 8 * j));
        }
    }
}

void csp_hash(const char* data, std::size_t length, char out[CSP_HASH_MAX]) {
    unsigned char digest[SHA256_BYTES];
    sha256(data, length, digest);
    std::memcpy(out, "sha256-", 7);
    char* p = out + 7;
    // 32 bytes: ten groups of three, then two bytes and one '='.
    for (std::size_t i = 0; i < SHA256_BYTES; i += 3) {
        std::uint32_t group = std::uint32_t{digest[i]} << 16;
        if (i + 1 < SHA256_BYTES) group |= std::uint32_t{digest[i + 1]} << 8;
        if (i + 2 < SHA256_BYTES) group |= digest[i + 2];
        *p++ = BASE64[group >> 18 & 63];
        *p++ = BASE64[group >> 12 & 63];
        *p++ = i + 1 < SHA256_BYTES ? BASE64[group >> 6 & 63] : '=';
        *p++ = i + 2 < SHA256_BYTES ? BASE64[group & 63] : '=';
    }
    *p = '\0';
}
