// The stored form of passwords that the server must be able to read back
// (remote POP3 boxes, the relay server): each character written as the
// three decimal digits of 999 minus its byte value. This hides a password
// from a casual look at the file; it is not encryption.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvex {

// Texts pass through a work buffer of this many bytes: at most 4096 digits,
// so 1365 clear characters, survive scrambling.
inline constexpr std::size_t kScrambleWorkBuffer = 4097;

// Rewrite the NUL-terminated text in `text` in place, bounded by
// `capacity` (the buffer's size). What does not fit is cut and the cut is
// written to the error log.
void ScramblePassword(char* text, std::uint32_t capacity);
void UnscramblePassword(char* text, std::uint32_t capacity);

// The same on strings: the result is what a buffer of `capacity` bytes
// would hold afterwards.
std::string ScrambledPassword(std::string_view clear, std::size_t capacity);
std::string UnscrambledPassword(std::string_view stored, std::size_t capacity);

}  // namespace quorvex
