// Copy, printf-style format and append into a fixed-size character buffer.
// They never write past the buffer: a text that does not fit is cut and a
// constant message text is thrown, which the caller logs with its own file
// and line (see QUORVEX_BOUNDED in ErrorLog.h) before going on with the cut
// text. A bad argument throws without writing anything.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvex {

// Valid capacities (bytes of the destination, its NUL included) run from 1
// to kMaxBoundedCapacity inclusive.
inline constexpr std::uint32_t kMaxBoundedCapacity = 1024 * 1024;

// The only values these helpers ever throw (as const char*).
inline constexpr const char* kBoundedDestNull = "_STR_DEST is NULL";
inline constexpr const char* kBoundedSrcNull = "_STR_SRC is NULL";
inline constexpr const char* kBoundedCapacityZero = "_CCH_DEST < 1";
inline constexpr const char* kBoundedFormatCapacityZero = "_CCH_DEST < 1 is NULL";
inline constexpr const char* kBoundedCapacityTooLarge = "_CCH_DEST > 1024 * 1024";
inline constexpr const char* kBoundedDestUnterminated = "_CCH_DEST <= LEN _STR_DEST";
inline constexpr const char* kBoundedOverflow = "Buffer overflow";

// Copies src with its NUL. Returns 0; throws on a bad argument or a cut.
int CopyStringBounded(char* dest, std::uint32_t capacity, const char* src);

// printf-style formatting into dest. Returns 0; throws on a bad argument or
// a cut (dest then holds the first capacity - 1 characters of the output).
int FormatStringBounded(char* dest, std::uint32_t capacity, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Appends src to the NUL-terminated text in dest; capacity is the size of
// the whole buffer. Returns 0; throws on a bad argument or a cut.
int AppendStringBounded(char* dest, std::uint32_t capacity, const char* src);

// Array forms: the capacity is the array's size.
template <std::size_t N>
int CopyStringBounded(char (&dest)[N], const char* src) {
    return CopyStringBounded(dest, static_cast<std::uint32_t>(N), src);
}
template <std::size_t N>
int AppendStringBounded(char (&dest)[N], const char* src) {
    return AppendStringBounded(dest, static_cast<std::uint32_t>(N), src);
}

}  // namespace quorvex
