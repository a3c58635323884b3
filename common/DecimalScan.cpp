// Decimal arguments read like scanf "%d".
#include "common/DecimalScan.h"

#include <climits>
#include <cstdint>

namespace quorvex {
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

}  // namespace quorvex
