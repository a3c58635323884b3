// Small text operations shared by protocol parsing, list values and header
// fields: trimming a token from both ends, replacing every occurrence of a
// text (line-break and quote escaping), splitting and joining lists, and
// taking the address out of "Name <address>". Cuts are written to the error log.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex {

// ReplaceAllSubstrings works through a buffer of this many characters: its
// result never grows beyond it, whatever the caller's capacity.
inline constexpr std::size_t kReplaceWorkLength = 4096;

// Strips whole occurrences of `token` from the start of `text` as long as
// it begins with one, then from the end as long as it ends with one.
// Nothing happens when text or token is empty or the token is longer.
void TrimToken(std::string& text, std::string_view token);

// Every occurrence of `search` replaced by `replacement`, left to right,
// without any length limit. An empty search changes nothing.
std::string ReplaceAll(std::string_view text, std::string_view search, std::string_view replacement);
// The same on `text` itself, which is left untouched when nothing matches.
void ReplaceAllInPlace(std::string& text, std::string_view search, std::string_view replacement);

// The text without any of `chars` at either end.
std::string_view TrimChars(std::string_view text, std::string_view chars);

// Splits a ";"-separated list, dropping empty pieces.
std::vector<std::string> SplitList(std::string_view list);
// The texts one after the other, `separator` between each two.
std::string JoinTexts(const std::vector<std::string>& texts, std::string_view separator);

// Replaces every occurrence of `search` (never empty) by `replacement`,
// left to right; the replacement itself is never searched again. The
// result is cut to kReplaceWorkLength characters and then to capacity - 1
// (capacity counts a terminating NUL, as the caller's buffer size). A cut
// is logged. True when nothing was cut.
bool ReplaceAllSubstrings(std::string& text, std::size_t capacity, std::string_view search,
                          std::string_view replacement);
inline bool ReplaceAllSubstrings(std::string& text, std::string_view search, std::string_view replacement) {
    return ReplaceAllSubstrings(text, kReplaceWorkLength + 1, search, replacement);
}

// The address of "Name <address>": the text between the first "<" and the
// first ">" (blanks kept; "<>" gives ""). Without "<" the whole text, cut
// to capacity - 1 characters (logged). With "<" but no ">" the rest of the
// text behind the "<". Returns 1 with the address in `out`; 0 with `out`
// empty when a ">" stands before the first "<", when nothing follows a
// final "<", or when the address needs capacity characters or more.
int ExtractAngleAddress(std::string_view text, std::string& out, std::size_t capacity);

}  // namespace quorvex
