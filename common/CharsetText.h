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

// `bytes` in `charset` as UTF-8, every sequence that is not valid there
// (or cut at the end) written as U+FFFD; nothing when the set is unknown.
std::optional<std::string> DecodeToUtf8(std::string_view bytes, std::string_view charset);

// Text of a message as UTF-8: in its `declared` charset when that is known;
// undeclared (or declared unknown), UTF-8 stays as it is and other 8-bit
// bytes are read in `fallback` (the language's charset), as is 7-bit text
// with escape sequences when `fallback` is stateful (ISO-2022-JP).
// Invalid bytes become U+FFFD.
std::string TextToUtf8(std::string_view bytes, std::string_view declared, std::string_view fallback);

// The longest start of UTF-8 `text` within `max_bytes` that ends on a
// character boundary.
std::string_view Utf8Prefix(std::string_view text, std::size_t max_bytes);

// Sets whose bytes mean different characters after a shift sequence
// (ISO-2022-*, UTF-7, HZ): no cut of such text stands on its own.
bool IsStatefulCharset(std::string_view charset);

// One flag per byte: true where a character of `charset` begins. Where the
// set is unknown or the bytes are not valid in it, every byte counts as a
// beginning.
std::vector<bool> CharacterStarts(std::string_view bytes, std::string_view charset);

}  // namespace quorvex
