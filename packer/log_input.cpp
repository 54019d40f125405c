#include "packer/log_input.h"

#include <cstring>

void lines_init(LineAssembler* lines) {
    *lines = LineAssembler{};
    lines->next_line = 1;
}

bool lines_feed(LineAssembler* lines, const char* bytes, std::size_t length, LineHandler handler,
                void* context, bool* out_of_memory) {
    const char* p = bytes;
    const char* end = bytes + length;
    if (lines->partial.size > 0) {
        // Complete the line begun in an earlier chunk.
        const void* lf = std::memchr(p, '\n', length);
        const char* stop = lf == nullptr ? end : static_cast<const char*>(lf) + 1;
        if (!buffer_append(&lines->partial, p, static_cast<std::size_t>(stop - p))) {
            *out_of_memory = true;
            return false;
        }
        p = stop;
        if (lf == nullptr) return true;
        std::size_t whole = lines->partial.size;
        lines->partial.size = 0; // the bytes stay where they are until the next append
        if (!handler(context, lines->partial.data, whole, lines->next_line++)) return false;
    }
    while (p < end) {
        const void* lf = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
        if (lf == nullptr) {
            if (!buffer_append(&lines->partial, p, static_cast<std::size_t>(end - p))) {
                *out_of_memory = true;
                return false;
            }
            return true;
        }
        const char* stop = static_cast<const char*>(lf) + 1;
        if (!handler(context, p, static_cast<std::size_t>(stop - p), lines->next_line++)) {
            return false;
        }
        p = stop;
    }
    return true;
}

bool lines_finish(LineAssembler* lines, LineHandler handler, void* context) {
    if (lines->partial.size == 0) return true;
    std::size_t length = lines->partial.size;
    lines->partial.size = 0;
    return handler(context, lines->partial.data, length, lines->next_line++);
}

void lines_free(LineAssembler* lines) {
    buffer_free(&lines->partial);
}

bool starts_with(const char* text, std::size_t length, const char* prefix) {
    std::size_t n = std::strlen(prefix);
    return length >= n && std::memcmp(text, prefix, n) == 0;
}

const char* find_text(const char* text, std::size_t length, const char* needle) {
    std::size_t n = std::strlen(needle);
    if (n == 0 || length < n) return nullptr;
    const char* last = text + (length - n);
    for (const char* p = text; p <= last; ++p) {
        p = static_cast<const char*>(
            std::memchr(p, needle[0], static_cast<std::size_t>(last - p) + 1));
        if (p == nullptr) return nullptr;
        if (std::memcmp(p, needle, n) == 0) return p;
    }
    return nullptr;
}

std::size_t seconds_to_ms(TextRef seconds, char* out, std::size_t room) {
    const char* p = seconds.data;
    const char* end = p + seconds.length;
    const char* point = p;
    while (point < end && *point >= '0' && *point <= '9') ++point;
    if (point == p) return 0;
    if (point < end && *point != '.') return 0;
    const char* fraction = point < end ? point + 1 : point;
    if (point < end && fraction == end) return 0; // "12."
    for (const char* q = fraction; q < end; ++q) {
        if (*q < '0' || *q > '9') return 0;
    }
    // Whole seconds, then the first three fraction digits (padded with 0s),
    // give whole milliseconds; leading zeros go, one digit stays. The rest
    // of the fraction follows a point.
    std::size_t whole = static_cast<std::size_t>(point - p);
    std::size_t rest = end - fraction > 3 ? static_cast<std::size_t>(end - fraction) - 3 : 0;
    if (whole + 3 + (rest > 0 ? rest + 1 : 0) > room) return 0;
    std::size_t n = 0;
    for (const char* q = p; q < point; ++q) out[n++] = *q;
    for (std::size_t k = 0; k < 3; ++k) out[n++] = fraction + k < end ? fraction[k] : '0';
    std::size_t zeros = 0;
    while (zeros + 1 < n && out[zeros] == '0') ++zeros;
    if (zeros > 0) {
        for (std::size_t k = zeros; k < n; ++k) out[k - zeros] = out[k];
        n -= zeros;
    }
    if (rest > 0) {
        out[n++] = '.';
        for (const char* q = fraction + 3; q < end; ++q) out[n++] = *q;
    }
    return n;
}
