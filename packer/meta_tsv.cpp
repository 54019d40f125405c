#include "packer/meta_tsv.h"

#include <cstring>

const char META_HEADER[] = "id\tsource\tline\tduration_ms\tuser\tdatabase\ttime\n";

namespace {

const char HEX[] = "0123456789ABCDEF";

// Bytes the plain run stops at: C0 controls, backslash, DEL and every byte
// from 0x80 up (decoded as UTF-8 to find C1 controls and lone bytes).
struct EscapeTable {
    bool special[256];
    constexpr EscapeTable() : special() {
        for (int b = 0; b < 256; ++b) special[b] = b < 0x20 || b == '\\' || b >= 0x7F;
    }
};
constexpr EscapeTable escape_table;

/*
 * Length of the well-formed UTF-8 sequence at p (of at most `left` bytes),
 * or 0 when p does not start one (Unicode standard, table 3-7):
 *   C2..DF  80..BF
 *   E0      A0..BF  80..BF
 *   E1..EC  80..BF  80..BF
 *   ED      80..9F  80..BF        (no surrogates)
 *   EE..EF  80..BF  80..BF
 *   F0      90..BF  80..BF  80..BF
 *   F1..F3  80..BF  80..BF  80..BF
 *   F4      80..8F  80..BF  80..BF (nothing above U+10FFFF)
 */
std::size_t utf8_length(const unsigned char* p, std::size_t left) {
    unsigned char b = p[0];
    std::size_t n = b >= 0xC2 && b <= 0xDF   ? 2
                    : b >= 0xE0 && b <= 0xEF ? 3
                    : b >= 0xF0 && b <= 0xF4 ? 4
                                             : 0;
    if (n == 0 || left < n) return 0;
    unsigned char low = b == 0xE0 ? 0xA0 : b == 0xF0 ? 0x90 : 0x80;
    unsigned char high = b == 0xED ? 0x9F : b == 0xF4 ? 0x8F : 0xBF;
    if (p[1] < low || p[1] > high) return 0;
    for (std::size_t k = 2; k < n; ++k) {
        if (p[k] < 0x80 || p[k] > 0xBF) return 0;
    }
    return n;
}

bool append_decimal(ByteBuffer* out, std::int64_t value) {
    char digits[24];
    std::size_t n = 0;
    bool negative = value < 0;
    // Work in the negative range so that the smallest value converts too.
    std::int64_t v = negative ? value : -value;
    do {
        digits[n++] = static_cast<char>('0' - v % 10);
        v /= 10;
    } while (v != 0);
    if (negative) digits[n++] = '-';
    char text[24];
    for (std::size_t k = 0; k < n; ++k) text[k] = digits[n - 1 - k];
    return buffer_append(out, text, n);
}

} // namespace

bool tsv_append_field(ByteBuffer* out, const char* text, std::size_t length) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    const auto* end = p + length;
    const auto* plain = p; // first byte not yet written
    while (p < end) {
        unsigned char b = *p;
        if (!escape_table.special[b]) {
            ++p;
            continue;
        }
        char escape[8];
        std::size_t n = 4;
        std::size_t consumed = 1;
        if (b >= 0x80) {
            consumed = utf8_length(p, static_cast<std::size_t>(end - p));
            bool c1 = consumed == 2 && b == 0xC2 && p[1] <= 0x9F;
            if (consumed == 0 && b > 0x9F) consumed = 1; // a lone byte that is no control
            if (consumed > 0 && !c1) {
                p += consumed;
                continue;
            }
            if (c1) {
                const char code[] = {'\\', 'u', '{', '0', '0', HEX[p[1] >> 4], HEX[p[1] & 15], '}'};
                std::memcpy(escape, code, sizeof code);
                n = sizeof code;
            } else {
                consumed = 1;
                const char byte[] = {'\\', 'x', HEX[b >> 4], HEX[b & 15]};
                std::memcpy(escape, byte, sizeof byte);
            }
        } else if (b == '\\' || b == '\t' || b == '\n' || b == '\r') {
            escape[0] = '\\';
            escape[1] = b == '\\' ? '\\' : b == '\t' ? 't' : b == '\n' ? 'n' : 'r';
            n = 2;
        } else {
            const char byte[] = {'\\', 'x', HEX[b >> 4], HEX[b & 15]};
            std::memcpy(escape, byte, sizeof byte);
        }
        if (!buffer_append(out, reinterpret_cast<const char*>(plain),
                           static_cast<std::size_t>(p - plain)) ||
            !buffer_append(out, escape, n)) {
            return false;
        }
        p += consumed;
        plain = p;
    }
    return buffer_append(out, reinterpret_cast<const char*>(plain),
                         static_cast<std::size_t>(p - plain));
}

bool meta_append_row(ByteBuffer* out, std::int32_t id, TextRef source, std::int64_t line,
                     const EntryMeta& meta) {
    const TextRef fields[] = {meta.duration_ms, meta.user, meta.database, meta.time};
    if (!append_decimal(out, id) || !buffer_append(out, "\t", 1) ||
        !tsv_append_field(out, source.data, source.length) || !buffer_append(out, "\t", 1) ||
        !append_decimal(out, line)) {
        return false;
    }
    for (const TextRef& field : fields) {
        if (!buffer_append(out, "\t", 1) || !tsv_append_field(out, field.data, field.length)) {
            return false;
        }
    }
    return buffer_append(out, "\n", 1);
}
