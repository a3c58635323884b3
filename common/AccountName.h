// The one rule for what an account (or domain) name may be before it is
// used to find anything on disk. Every entry point (SMTP, POP3, account
// server, GUI, web component) checks names with it, so that no name can
// leave the mail folder.
#pragma once

#include <string_view>

namespace quorvex {

// Account names live in 77-byte buffers: at most 76 characters.
inline constexpr std::size_t kMaxAccountNameLength = 76;

// False for "", ".", "..", names holding '/', '\\', NUL, CR, LF or any other
// control character, and names longer than kMaxAccountNameLength.
bool IsValidAccountName(std::string_view name);

// Compares two names without regard to ASCII case.
bool SameName(std::string_view a, std::string_view b);

}  // namespace quorvex
