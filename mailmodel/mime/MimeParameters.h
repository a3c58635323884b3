// Parameters of a header field value ("attachment; filename=a.txt"): the
// one reader for every part of the program that needs a parameter, so the
// web mail that saves an attachment and the filter that judges it read the
// same name.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvex::mime {

// The value of parameter `name` (matched without regard to case) in a
// field value, the text before the first ';' being the field's own value:
// - "name*=charset'language'%XX..." (RFC 2231) wins over the continuations
//   "name*0*=", "name*1=" ... (read in order from 0 up to the first gap),
//   which win over a plain "name=" (RFC 6266); the extended forms are
//   converted from their charset to UTF-8, invalid bytes becoming U+FFFD;
// - a quoted value loses its quotes and backslashes, and whatever it holds
//   (";", "name*=") is part of the value, never a parameter;
// - an unquoted value runs to the next ';', its line breaks, trailing
//   blanks and a trailing comment dropped.
// Nothing when the parameter is absent.
std::optional<std::string> ReadParameter(std::string_view fieldValue, std::string_view name);

}  // namespace quorvex::mime
