// Small text routines of the stored-message parser: the boundary parameter,
// line decoders for quoted-printable and base64, hex digits, file-name
// sanitising, replace-all, token trimming and the RFC 2231 form of
// parameter values. All are pure functions.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quorvex::mime {

// The longest file name written for a part; longer names are cut, their
// extension kept.
inline constexpr std::size_t kMaxPartFileNameBytes = 200;

// The boundary parameter of a Content-Type value (quoted or not); nothing
// when absent, without '=', unterminated or empty.
std::optional<std::string> FindBoundary(std::string_view contentType);

// Decodes one quoted-printable body line (its line end included) and
// appends the bytes; a soft break leaves no line end.
void DecodeQuotedPrintableLine(std::string_view line, std::string& out);

// Decodes base64 groups up to the line end; appends the bytes and returns
// their count, 0 for an empty line, -1 (appending nothing) on any stray
// character or a short group.
int DecodeBase64Run(std::string_view in, std::string& out);

// Makes a name from a message safe as a file name inside one folder: no
// path separators or other reserved characters, no control characters, no
// "..", no leading dot, at most kMaxPartFileNameBytes bytes; never empty.
void SanitizeFileName(std::string& text);

// RFC 2231 parameter values ("name*=utf-8''Gr%C3%B6%C3%9Fe.txt"): text for
// people that a quoted string cannot carry (8-bit bytes, controls, a double
// quote or a backslash) goes out in this form, with the charset of its bytes.
bool NeedsExtendedParameter(std::string_view value);
// "charset''" and the value with every byte but letters, digits and
// "!#$&+-.^_`|~" written as '%' and two hex digits.
std::string EncodeExtendedParameter(std::string_view value, std::string_view charset);
// The bytes of an extended value (charset and language dropped, "%XX"
// undone; a '%' without two hex digits stays as it is).
std::string DecodeExtendedParameter(std::string_view text);

// True for an empty line, one starting with LF, or exactly CR LF.
bool IsBlankPartLine(std::string_view line);

}  // namespace quorvex::mime
