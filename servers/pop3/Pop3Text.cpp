// The unique-id number of a stored message.
#include "servers/pop3/Pop3Text.h"

#include <cstdint>

namespace quorvex::pop3 {
std::uint32_t UidNumberOf(std::string_view uid_text) {
    const std::size_t dot = uid_text.rfind('.');
    if (dot == std::string_view::npos) return 0;
    std::uint64_t number = 0;
    for (std::size_t i = dot + 1; i < uid_text.size(); ++i) {
        const char c = uid_text[i];
        if (c < '0' || c > '9') break;
        number = number * 10 + static_cast<std::uint64_t>(c - '0');
        if (number > UINT32_MAX) return 0;  // no stored id is that large
    }
    return static_cast<std::uint32_t>(number);
}

}  // namespace quorvex::pop3
