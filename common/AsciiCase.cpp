// ASCII case helpers.
#include "common/AsciiCase.h"

namespace quorvex {

std::string AsciiLowerCase(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = AsciiLower(c);
    return out;
}

std::string AsciiUpperCase(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = AsciiUpper(c);
    return out;
}

std::size_t FindNoCase(std::string_view text, std::string_view needle) {
    if (needle.size() > text.size()) return std::string_view::npos;
    for (std::size_t at = 0; at + needle.size() <= text.size(); ++at) {
        if (EqualsNoCase(text.substr(at, needle.size()), needle)) return at;
    }
    return std::string_view::npos;
}

}  // namespace quorvex
