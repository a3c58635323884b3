// The decimal arguments of line protocols, read the way the C library's
// scanf "%d" and atoi read them. Pure.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace quorvex {

// Reads up to N decimal numbers the way "%d %d ..." of scanf does: blanks
// are skipped before each number, an optional sign and at least one digit
// form it, the first text that is not a number stops the scan and the
// numbers not read keep their defaults. Values beyond the int range are
// clamped, so they can never look like a valid message number.
template <std::size_t N>
std::array<int, N> ScanNumbers(std::string_view text, std::array<int, N> defaults);

// Reads one number as above; `used` tells how many characters it took
// (0 when there was none).
bool ScanOneNumber(std::string_view text, int& value, std::size_t& used);

// The C library's atoi: leading blanks, sign, digits; 0 when none.
int AtoiLike(std::string_view text);

template <std::size_t N>
std::array<int, N> ScanNumbers(std::string_view text, std::array<int, N> defaults) {
    std::array<int, N> out = defaults;
    for (std::size_t i = 0; i < N; ++i) {
        int value = 0;
        std::size_t used = 0;
        if (!ScanOneNumber(text, value, used)) break;
        out[i] = value;
        text.remove_prefix(used);
    }
    return out;
}

}  // namespace quorvex
