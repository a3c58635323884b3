// Scrambling and unscrambling stored passwords. Both directions go
// through a 4097-byte work buffer and the bounded helpers, so a hostile or
// over-long stored value is cut and logged, never overrun.
#include "common/PasswordScramble.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/BoundedString.h"
#include "common/ErrorLog.h"

namespace quorvex {

namespace {

// atoi of a three-character group: leading blanks, one sign, then digits
// up to the first other character; no digit gives 0.
int ParseGroup(const char* group) {
    std::size_t i = 0;
    while (i < 3 && std::isspace(static_cast<unsigned char>(group[i]))) ++i;
    bool negative = false;
    if (i < 3 && (group[i] == '+' || group[i] == '-')) negative = group[i++] == '-';
    int value = 0;
    while (i < 3 && std::isdigit(static_cast<unsigned char>(group[i]))) value = value * 10 + (group[i++] - '0');
    return negative ? -value : value;
}

std::string FromBuffer(const std::vector<char>& buffer) { return std::string(buffer.data()); }

}  // namespace

void ScramblePassword(char* text, std::uint32_t capacity) {
    if (text == nullptr || capacity == 0) return;
    std::vector<char> work(kScrambleWorkBuffer, '\0');
    const std::size_t length = strnlen(text, capacity);
    for (std::size_t i = 0; i < length; ++i) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%03d", 999 - static_cast<unsigned char>(text[i]));
        if (!QUORVEX_BOUNDED(AppendStringBounded(work.data(), kScrambleWorkBuffer, digits))) break;
    }
    QUORVEX_BOUNDED(CopyStringBounded(text, capacity, work.data()));
}

void UnscramblePassword(char* text, std::uint32_t capacity) {
    if (text == nullptr || capacity == 0) return;
    std::vector<char> work(kScrambleWorkBuffer, '\0');
    // The stored text may lack its NUL within capacity; copy what is there.
    std::string stored(text, strnlen(text, capacity));
    QUORVEX_BOUNDED(CopyStringBounded(work.data(), kScrambleWorkBuffer, stored.c_str()));
    std::string clear;
    const std::size_t groups = std::strlen(work.data()) / 3;
    for (std::size_t k = 0; k < groups; ++k) {
        const auto code = static_cast<unsigned char>(999 - ParseGroup(work.data() + 3 * k));
        if (code != 0) clear += static_cast<char>(code);
    }
    QUORVEX_BOUNDED(CopyStringBounded(text, capacity, clear.c_str()));
}

std::string ScrambledPassword(std::string_view clear, std::size_t capacity) {
    if (capacity == 0) return {};
    std::vector<char> buffer(std::max(capacity, clear.size() + 1), '\0');
    std::memcpy(buffer.data(), clear.data(), std::min(clear.size(), capacity - 1));
    ScramblePassword(buffer.data(), static_cast<std::uint32_t>(std::min(capacity, buffer.size())));
    return FromBuffer(buffer);
}

std::string UnscrambledPassword(std::string_view stored, std::size_t capacity) {
    if (capacity == 0) return {};
    std::vector<char> buffer(std::max(capacity, stored.size() + 1), '\0');
    std::memcpy(buffer.data(), stored.data(), std::min(stored.size(), capacity - 1));
    UnscramblePassword(buffer.data(), static_cast<std::uint32_t>(std::min(capacity, buffer.size())));
    return FromBuffer(buffer);
}

}  // namespace quorvex
