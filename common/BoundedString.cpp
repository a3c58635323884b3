// The bounded copy, format and append helpers. Checks run in a fixed order
// (destination, source, capacity) so that every caller sees the same text
// for the same fault.
#include "common/BoundedString.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace quorvex {

namespace {

void CheckArguments(const char* dest, const char* src, std::uint32_t capacity, const char* zero_capacity_text) {
    if (dest == nullptr) throw kBoundedDestNull;
    if (src == nullptr) throw kBoundedSrcNull;
    if (capacity < 1) throw zero_capacity_text;
    if (capacity > kMaxBoundedCapacity) throw kBoundedCapacityTooLarge;
}

}  // namespace

int CopyStringBounded(char* dest, std::uint32_t capacity, const char* src) {
    CheckArguments(dest, src, capacity, kBoundedCapacityZero);
    dest[capacity - 1] = '\0';
    const std::size_t length = std::strlen(src);
    if (length + 1 <= capacity) {
        std::memmove(dest, src, length + 1);
        return 0;
    }
    std::memmove(dest, src, capacity - 1);
    throw kBoundedOverflow;
}

int FormatStringBounded(char* dest, std::uint32_t capacity, const char* format, ...) {
    CheckArguments(dest, format, capacity, kBoundedFormatCapacityZero);
    dest[capacity - 1] = '\0';
    va_list args;
    va_start(args, format);
    // vsnprintf writes at most capacity - 1 characters and a NUL, which is
    // exactly "the first capacity - 1 characters of the output".
    const int written = std::vsnprintf(dest, capacity, format, args);
    va_end(args);
    if (written < 0) {
        dest[0] = '\0';
        throw kBoundedOverflow;
    }
    if (static_cast<std::size_t>(written) <= capacity - 1) return 0;
    throw kBoundedOverflow;
}

int AppendStringBounded(char* dest, std::uint32_t capacity, const char* src) {
    CheckArguments(dest, src, capacity, kBoundedCapacityZero);
    // Only the first capacity bytes of dest may be looked at.
    const std::size_t used = strnlen(dest, capacity);
    if (used >= capacity) throw kBoundedDestUnterminated;
    dest[capacity - 1] = '\0';
    const std::size_t length = std::strlen(src);
    if (used + length + 1 <= capacity) {
        std::memmove(dest + used, src, length + 1);
        return 0;
    }
    const std::size_t room = capacity - used - 1;
    std::memmove(dest + used, src, room);
    dest[used + room] = '\0';
    throw kBoundedOverflow;
}

}  // namespace quorvex
