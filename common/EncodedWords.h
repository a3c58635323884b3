// Decoding of the encoded words of a header line (RFC 2047):
// "=?charset?B?...?=" and "=?charset?Q?...?=".
#pragma once

#include <string>
#include <string_view>

namespace quorvex {

// The line with every encoded word replaced by its bytes. The charset is
// ignored (bytes are kept as decoded); white space between two adjacent
// encoded words is dropped; an unknown encoding keeps its text; an "=?"
// that starts no word is dropped; a word without its "?=" runs to the end
// of the line; a B word that is not valid base64 gives nothing.
std::string DecodeEncodedWords(std::string_view line);

// The same line as UTF-8 text: each encoded word read in its charset
// (adjacent words of one charset joined first, so a character split
// between them stays whole), the text around them read as undeclared
// text in `fallback` (TextToUtf8); invalid bytes become U+FFFD.
std::string DecodeEncodedWordsToUtf8(std::string_view line, std::string_view fallback);

}  // namespace quorvex
