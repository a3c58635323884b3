// Pure text helpers of the POP3 command line.
#include "servers/pop3/Pop3Text.h"

#include <climits>
#include <cstdint>

namespace quorvex::pop3 {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

}  // namespace

bool ScanOneNumber(std::string_view text, int& value, std::size_t& used) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const std::size_t digits_start = i;
    std::int64_t magnitude = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        if (magnitude <= std::int64_t{INT_MAX} + 1) magnitude = magnitude * 10 + (text[i] - '0');
        ++i;
    }
    if (i == digits_start) {
        used = 0;
        return false;
    }
    std::int64_t signed_value = negative ? -magnitude : magnitude;
    if (signed_value > INT_MAX) signed_value = INT_MAX;
    if (signed_value < INT_MIN) signed_value = INT_MIN;
    value = static_cast<int>(signed_value);
    used = i;
    return true;
}

int AtoiLike(std::string_view text) {
    int value = 0;
    std::size_t used = 0;
    return ScanOneNumber(text, value, used) ? value : 0;
}

std::uint32_t UidNumberOf(std::string_view uid_text) {
    const std::size_t dot = uid_text.rfind('.');
    if (dot == std::string_view::npos) return 0;
    std::uint64_t number = 0;
    for (std::size_t i = dot + 1; i < uid_text.size(); ++i) {
        const char c = uid_text[i];
        if (c < '0' || c > '9') break;
        number = number * 10 + static_cast<std::uint64_t>(c - '0');
        if (number > UINT32_MAX) return 0;  // no stored id is that large
    }
    return static_cast<std::uint32_t>(number);
}

}  // namespace quorvex::pop3
