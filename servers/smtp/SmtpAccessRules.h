// The pure parts of the SMTP access rules: the client address block list,
// the permitted-address list, the recipient and relay rules, the sender
// block list and the From: line of a message header. The session applies
// them (SmtpSession).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/AddressClass.h"
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

// A RCPT TO address without "@" is a local name only in single-domain mode
// with "LocalAbbrv": then it is completed with "@" and "Dominame". Nothing
// when it is refused as absent; an address with "@" comes back unchanged.
std::optional<std::string> FullRecipientAddress(const CServerSettings& settings, std::string_view address);

// What RCPT TO knows of one recipient and its transaction.
struct RecipientFacts {
    std::string_view recipient;  // a full address (FullRecipientAddress)
    int recipient_class = ADDRESS_REMOTE;
    std::string_view sender;     // the transaction's sender ("" for the null sender)
    int sender_class = ADDRESS_REMOTE;
    bool authenticated = false;
    std::string_view peer;       // the peer address text (PermittedIPSMTP is matched against it)
};

// The recipient and relay rules' verdict on one recipient: a refusal (its
// reply ends the session), or the address to store with what the
// transaction takes on.
struct RecipientDecision {
    std::optional<std::string> refusal;
    std::string recipient;                    // a catch-all account may stand in for an unknown user
    std::optional<std::string> from_rewrite;  // the sender's Internet address for the first From: line
    bool anonymous_sender = false;            // relayed for a permitted address: the sender becomes AnonymousAccount
};

// The Internet address of the local sender's account ("" when it has
// none); asked only by the model that rewrites the From: line.
using SenderInterMail = std::function<std::string()>;

// Decides one recipient: an unknown local user goes to the catch-all
// account, is kept for sending out, or is refused; a remote one is taken
// or refused by the server model, "OpenRelay", authentication and the
// permitted addresses. Local recipients are always taken.
RecipientDecision DecideRecipient(const CServerSettings& settings, const RecipientFacts& facts,
                                  const SenderInterMail& sender_inter_mail);

// The address of a header From: line ("From: Name <a@b>" -> "a@b"), or
// nothing when the line is not a From: line.
std::optional<std::string> HeaderFromAddress(std::string_view line);

// The first block-list entry that the address matches: an entry beginning
// "@" matches the address's text from its first "@"; any entry matches the
// whole address. Both without regard to case.
std::optional<std::string> MatchBlockedSender(const std::vector<std::string>& entries, std::string_view address);

}  // namespace quorvex::smtp
