// Text in named character sets: whether bytes are UTF-8, conversion from
// one set to another (through iconv, which knows every set a language file
// may name: ISO-8859-x, GB2312, Big5, Shift_JIS ...), and where the
// characters of a text begin. Whatever the program writes for people
// declares the set its bytes are in; these are the tools that keep the
// declaration true.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex {

bool IsAsciiText(std::string_view bytes);
// Well-formed UTF-8: no stray continuation byte, no cut, overlong or
// surrogate sequence, nothing above U+10FFFF. ASCII is UTF-8.
bool IsUtf8Text(std::string_view bytes);
// "UTF-8" or "utf8", in any case.
bool IsUtf8CharsetName(std::string_view charset);

// `bytes` converted from the set `from` into the set `to`; nothing when
// either set is unknown, a byte sequence is not valid in `from`, or a
// character has no place in `to` (nothing is approximated or dropped).
std::optional<std::string> ConvertCharset(std::string_view bytes, std::string_view from, std::string_view to);

// The text as UTF-8: UTF-8 as it is; other bytes are taken to be in
// `charset` (as files written before the program wrote UTF-8 hold them)
// and converted from it, and bytes that are not valid there either are
// read as Latin-1, so no byte is lost.
std::string ReadAsUtf8(std::string_view bytes, std::string_view charset);

// One flag per byte: true where a character of `charset` begins. Where the
// set is unknown or the bytes are not valid in it, every byte counts as a
// beginning.
std::vector<bool> CharacterStarts(std::string_view bytes, std::string_view charset);

}  // namespace quorvex
