// The "/maildata/" URLs of fetched message files. Files below the POP3
// work root are published under "/maildata/", so a file's URL is that
// prefix and its path relative to the root. Each byte that may not stand
// in a URL path as it is (a blank, "%", "#", "?", a quote, 8-bit bytes...)
// is percent-encoded, so every file name makes a working link.
#pragma once

#include <string>
#include <string_view>

namespace quorvex::webcom::pop3 {

inline constexpr std::string_view kMailDataPrefix = "/maildata/";

// The path less the root prefix (the root with its trailing "/"); a path
// outside the root is returned whole.
std::string RelativeToRoot(std::string_view path, std::string_view root_prefix);

// "/maildata/" and the relative path, encoded.
std::string MailDataUrl(std::string_view relative_path);

// Percent-encodes every byte but letters, digits, "-", ".", "_", "~" and
// the "/" between segments.
std::string EncodeUrlPath(std::string_view path);

}  // namespace quorvex::webcom::pop3
