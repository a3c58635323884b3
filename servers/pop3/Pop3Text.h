// The unique-id number of a stored message. Pure; tested on its own.
#pragma once

#include <cstdint>
#include <string_view>

namespace quorvex::pop3 {

// The number after the last "." of a unique-id text, 0 when there is none.
std::uint32_t UidNumberOf(std::string_view uid_text);

}  // namespace quorvex::pop3
