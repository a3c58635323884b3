// Relative paths and their URLs.
#include "webcom/pop3/MailDataUrl.h"

#include "common/AsciiCase.h"
#include "common/HexDigits.h"

namespace quorvex::webcom::pop3 {
namespace {

// What a URL path carries as it is: the unreserved characters and '/'.
bool KeptInPath(char c) { return IsAsciiAlnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/'; }

}  // namespace

std::string RelativeToRoot(std::string_view path, std::string_view root_prefix) {
    if (!root_prefix.empty() && path.starts_with(root_prefix)) path.remove_prefix(root_prefix.size());
    return std::string(path);
}

std::string EncodeUrlPath(std::string_view path) { return PercentEncode(path, KeptInPath); }

std::string MailDataUrl(std::string_view relative_path) {
    return std::string(kMailDataPrefix) + EncodeUrlPath(relative_path);
}

}  // namespace quorvex::webcom::pop3
