// Case handling of protocol words, header names, domains and account
// names: ASCII only, whatever the process locale (a Turkish locale must not
// turn "I" into a dotless i, and bytes of UTF-8 text are never changed).
#pragma once

#include <string>
#include <string_view>

namespace quorvex {

constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

constexpr bool IsAsciiAlnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The text with A-Z turned into a-z (a-z into A-Z) and every other byte as
// it is.
std::string AsciiLowerCase(std::string_view text);
std::string AsciiUpperCase(std::string_view text);

// Equal, or `text` begins with `prefix`, when A-Z and a-z count as the same.
constexpr bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}
constexpr bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

// `a` sorts before `b` when A-Z and a-z count as the same; other bytes
// order as unsigned values, as std::string orders them.
constexpr bool LessNoCase(std::string_view a, std::string_view b) {
    const std::size_t common = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < common; ++i) {
        const auto x = static_cast<unsigned char>(AsciiLower(a[i]));
        const auto y = static_cast<unsigned char>(AsciiLower(b[i]));
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

// Where `needle` first stands in `text` when case does not count; npos when
// nowhere (an empty needle stands at 0).
std::size_t FindNoCase(std::string_view text, std::string_view needle);

}  // namespace quorvex
