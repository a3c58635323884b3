// Character classes of the MIME library (RFC 2045 tokens and specials,
// RFC 822 white space). One 128-entry table built at compile time from the
// class rules; every test answers false for a byte with the high bit set,
// except IsMimeTokenChar, which accepts it.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace quorvex::mime {

inline constexpr std::uint8_t kCharControl = 0x01;
inline constexpr std::uint8_t kCharSpace = 0x02;
inline constexpr std::uint8_t kCharAlnum = 0x04;
inline constexpr std::uint8_t kCharPunct = 0x10;
inline constexpr std::uint8_t kCharSpecial = 0x20;
inline constexpr std::uint8_t kCharUpperHex = 0x40;

constexpr std::array<std::uint8_t, 128> BuildMimeCharClass() {
    std::array<std::uint8_t, 128> table{};
    constexpr std::string_view kSpecials = "()<>@,;:\\\".[]=";
    for (int c = 0; c < 128; ++c) {
        std::uint8_t bits = 0;
        const bool digit = c >= '0' && c <= '9';
        if (c < 0x20 || c == 0x7F) bits |= kCharControl;
        if (c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == ' ') bits |= kCharSpace;
        if (digit || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) bits |= kCharAlnum;
        if ((c >= 0x21 && c <= 0x2F) || (c >= 0x3A && c <= 0x40) || (c >= 0x5B && c <= 0x60) ||
            (c >= 0x7B && c <= 0x7E))
            bits |= kCharPunct;
        if (c != 0 && kSpecials.find(static_cast<char>(c)) != std::string_view::npos) bits |= kCharSpecial;
        if (digit || (c >= 'A' && c <= 'F')) bits |= kCharUpperHex;
        table[static_cast<std::size_t>(c)] = bits;
    }
    return table;
}

inline constexpr std::array<std::uint8_t, 128> kMimeCharClass = BuildMimeCharClass();

inline bool HasMimeClass(unsigned char c, std::uint8_t bits) { return c < 128 && (kMimeCharClass[c] & bits) != 0; }
inline bool IsMimeSpace(unsigned char c) { return HasMimeClass(c, kCharSpace); }
inline bool IsMimeSpecial(unsigned char c) { return HasMimeClass(c, kCharSpecial); }
inline bool IsMimeSpaceOrSpecial(unsigned char c) { return HasMimeClass(c, kCharSpace | kCharSpecial); }
inline bool IsMimeAlnum(unsigned char c) { return HasMimeClass(c, kCharAlnum); }
inline bool IsUpperHexDigit(unsigned char c) { return HasMimeClass(c, kCharUpperHex); }
inline bool IsMimeTokenChar(unsigned char c) { return c >= 128 || (c > 32 && !IsMimeSpecial(c)); }


}  // namespace quorvex::mime
