// Hexadecimal digits as quoted-printable, encoded words and URLs write
// them: either case; percent-encoding.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
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

// `text` with every byte that `keep` refuses written as '%' and two
// upper-case hex digits (URLs, RFC 2231 parameter values).
template <typename Keep>
std::string PercentEncode(std::string_view text, Keep keep) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (keep(c)) {
            out += c;
            continue;
        }
        const auto byte = static_cast<unsigned char>(c);
        out += '%';
        out += kUpperHexDigits[byte >> 4];
        out += kUpperHexDigits[byte & 15];
    }
    return out;
}

}  // namespace quorvex
