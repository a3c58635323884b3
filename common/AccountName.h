// The rules for account names. IsValidAccountName decides what a name may
// be before it is used to find anything on disk: every entry point (SMTP,
// POP3, account server, GUI, web component) checks names with it, so that
// no name can leave the mail folder, and existing accounts of any such
// name keep working. IsValidNewAccountName is the stricter rule for a name
// being created (sign-up, the administrators' create commands, the GUI and
// the web component).
#pragma once

#include <functional>
#include <string_view>

#include "common/AsciiCase.h"

namespace quorvex {

class DomainTable;

// Account names live in 77-byte buffers: at most 76 characters.
inline constexpr std::size_t kMaxAccountNameLength = 76;

// False for "", ".", "..", names holding '/', '\\', NUL, CR, LF or any other
// control character, and names longer than kMaxAccountNameLength.
bool IsValidAccountName(std::string_view name);

// A name the account folders reserve, never an account: one beginning
// with "_", or "All" in any case.
bool IsReservedAccountName(std::string_view name);

// A new account name is plain: the account part is ASCII letters, digits,
// ".", "_" and "-", neither beginning nor ending with "." and without "..";
// it is not a name the account folders reserve (one beginning with "_", or
// "All" in any case); in multi-domain mode "@" and a domain for which
// `is_domain` holds follow it, in single-domain mode there is no "@"; at
// most kMaxAccountNameLength characters in all.
bool IsValidNewAccountName(std::string_view name, bool multi_domain,
                           const std::function<bool(std::string_view domain)>& is_domain);
// The same with the domain mode and the domains of a domain table (its
// records are the local domains in multi-domain mode).
bool IsValidNewAccountName(std::string_view name, const DomainTable& domains);

// The characters a client may not put into an account name it names:
// ~ ` ! # $ % ^ & * ( ) + = | \ { } [ ] : ; < , > ? / and both quotes; with
// `refuse_blank` (a name being created) the blank as well.
bool HasRefusedNameCharacter(std::string_view name, bool refuse_blank);

// Compares two names without regard to ASCII case.
constexpr bool SameName(std::string_view a, std::string_view b) { return EqualsNoCase(a, b); }

}  // namespace quorvex
