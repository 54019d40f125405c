// Numbers as text: decimal digits without the C library's formatting (no
// locale, no format strings), and the one table of hexadecimal digits.
#pragma once

#include <cstddef>
#include <cstdint>

// Most characters a 64-bit value takes in decimal: 19 digits and a sign.
constexpr std::size_t DECIMAL_MOST = 20;

// Decimal digits of `value`, written backwards ending at `end`; returns the
// first digit (or the minus sign). Needs DECIMAL_MOST bytes before `end`.
char* format_decimal(std::int64_t value, char* end);

// Characters format_decimal writes for `value`.
std::size_t decimal_width(std::int64_t value);

// Upper-case hexadecimal digits, for \xNN escapes.
extern const char HEX_DIGITS[17]; // "0123456789ABCDEF"
