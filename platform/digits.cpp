#include "platform/digits.h"

const char HEX_DIGITS[17] = "0123456789ABCDEF";

namespace {
// "00" to "99": two digits per division.
struct DigitPairs {
    char text[200];
    constexpr DigitPairs() : text() {
        for (int i = 0; i < 100; ++i) {
            text[2 * i] = static_cast<char>('0' + i / 10);
            text[2 * i + 1] = static_cast<char>('0' + i % 10);
        }
    }
};
constexpr DigitPairs digit_pairs;

template <typename Unsigned> char* format_magnitude(Unsigned magnitude, char* p) {
    while (magnitude >= 100) {
        auto pair = static_cast<std::size_t>(magnitude % 100) * 2;
        magnitude /= 100;
        *--p = digit_pairs.text[pair + 1];
        *--p = digit_pairs.text[pair];
    }
    if (magnitude >= 10) {
        auto pair = static_cast<std::size_t>(magnitude) * 2;
        *--p = digit_pairs.text[pair + 1];
        *--p = digit_pairs.text[pair];
    } else {
        *--p = static_cast<char>('0' + magnitude);
    }
    return p;
}
} // namespace

char* format_decimal(std::int64_t value, char* end) {
    // Work on the magnitude as unsigned so that the most negative value
    // converts too; 32-bit values, the report's, take the cheaper divisions.
    std::uint64_t magnitude =
        value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    char* p = magnitude <= UINT32_MAX ? format_magnitude(static_cast<std::uint32_t>(magnitude), end)
                                      : format_magnitude(magnitude, end);
    if (value < 0) *--p = '-';
    return p;
}

std::size_t decimal_width(std::int64_t value) {
    char digits[DECIMAL_MOST];
    return static_cast<std::size_t>(digits + sizeof digits -
                                    format_decimal(value, digits + sizeof digits));
}
