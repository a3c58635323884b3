// Base64 of RFC 2045 for SMTP and proxy authentication and encoded header
// words. The encoder writes one line without breaks; the decoder reads one
// line of a protocol exchange and stops at its end, and never reads or
// writes outside the text and the limit it is given.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorvex {

inline constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

namespace detail {
constexpr std::array<std::int8_t, 256> MakeBase64Values() {
    std::array<std::int8_t, 256> table{};
    for (auto& entry : table) entry = -1;
    for (std::size_t i = 0; i < kBase64Alphabet.size(); ++i)
        table[static_cast<unsigned char>(kBase64Alphabet[i])] = static_cast<std::int8_t>(i);
    return table;
}
inline constexpr std::array<std::int8_t, 256> kBase64Values = MakeBase64Values();
}  // namespace detail

// The six bits a character stands for, -1 for one outside the alphabet
// ("=" included).
constexpr int Base64Value(unsigned char c) { return detail::kBase64Values[c]; }

// The four characters of one group: three bytes of `in`, or one or two
// bytes (`count`) with "=" padding.
constexpr void Base64EncodeGroup(const unsigned char* in, std::size_t count, char* out) {
    const std::uint32_t group = std::uint32_t{in[0]} << 16 | (count > 1 ? std::uint32_t{in[1]} << 8 : 0) |
                                (count > 2 ? std::uint32_t{in[2]} : 0);
    out[0] = kBase64Alphabet[group >> 18 & 0x3F];
    out[1] = kBase64Alphabet[group >> 12 & 0x3F];
    out[2] = count > 1 ? kBase64Alphabet[group >> 6 & 0x3F] : '=';
    out[3] = count > 2 ? kBase64Alphabet[group & 0x3F] : '=';
}

// Characters that encoding `length` bytes produces (padding included).
constexpr std::size_t Base64EncodedLength(std::size_t length) { return (length + 2) / 3 * 4; }

std::string Base64Encode(std::string_view data);

// Decodes one encoded line into `out` (replacing its content). `capacity`
// plays the part of the receiving buffer's size: it must be at least
// text.size() / 4 * 3 + 6, else the result is -1 and nothing is decoded.
//
// A leading "+ " (a continuation prompt echoed back) is skipped; a text
// that then starts with CR gives 0. Groups of four characters are decoded
// until the text ends, a CR or LF follows a group, or a group ends in "=".
// Returns the number of bytes decoded, or -1 on a character outside the
// alphabet (NUL, blanks, line breaks and bytes of 128 or more included) or
// a misplaced "="; the bytes of the groups before it stay in `out`.
int Base64Decode(std::string_view text, std::size_t capacity, std::string& out);

// The same with the limit taken from the text itself: for callers that
// only need the bytes of a line.
int Base64Decode(std::string_view text, std::string& out);

// Base64Decode that appends to `out` instead of replacing it (decoders of
// whole message parts, line after line); the limit counts only the bytes
// this call adds.
int Base64DecodeAppend(std::string_view text, std::size_t capacity, std::string& out);

}  // namespace quorvex
