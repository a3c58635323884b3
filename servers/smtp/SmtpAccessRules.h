// The pure parts of the SMTP access rules: the client address block list,
// the permitted-address list, the sender block list and the From: line of
// a message header. The session applies them (SmtpSession).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/ServerSettings.h"

namespace quorvex::smtp {

// The warning for settings under which anyone may relay mail through this
// server to any domain: "OpenRelay" set, or the Internet server model
// without "ESMTP" (then naming a local account as sender is enough).
// Nothing for settings that do not.
std::optional<std::string> OpenRelayWarning(const CServerSettings& settings);

// The address of an access-list entry (blanks around it allowed) in host
// byte order; nothing for anything else.
std::optional<std::uint32_t> ParseIpv4Entry(std::string_view text);

// True when the client address lies in one entry: a single dotted address,
// or a low and a high address joined by "-" (inclusive). Entries that are
// not addresses never match.
bool IsAddressBlocked(const std::vector<std::string>& entries, std::string_view client);

// True when `peer` is one of the ";"-separated addresses, compared whole
// and without regard to case.
bool IsPermittedAddress(std::string_view list, std::string_view peer);

// The address of a header From: line ("From: Name <a@b>" -> "a@b"), or
// nothing when the line is not a From: line.
std::optional<std::string> HeaderFromAddress(std::string_view line);

// The first block-list entry that the address matches: an entry beginning
// "@" matches the address's text from its first "@"; any entry matches the
// whole address. Both without regard to case.
std::optional<std::string> MatchBlockedSender(const std::vector<std::string>& entries, std::string_view address);

}  // namespace quorvex::smtp
