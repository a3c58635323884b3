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

}  // namespace quorvex
