// Hexadecimal digits as quoted-printable, encoded words and URLs write
// them: either case.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace quorvex {

// The digits for writing hex, by value.
inline constexpr std::string_view kUpperHexDigits = "0123456789ABCDEF";
inline constexpr std::string_view kLowerHexDigits = "0123456789abcdef";

constexpr bool IsHexDigit(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// 0-15 for a hex digit; any other byte as its own code.
constexpr int HexDigitValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c;
}

// Two hex digits as one byte; nothing when either is not a hex digit.
constexpr std::optional<std::uint8_t> DecodeHexPair(unsigned char high, unsigned char low) {
    if (!IsHexDigit(high) || !IsHexDigit(low)) return std::nullopt;
    return static_cast<std::uint8_t>(HexDigitValue(high) * 16 + HexDigitValue(low));
}

}  // namespace quorvex
