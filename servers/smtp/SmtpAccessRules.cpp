// Address and sender matching for the SMTP access rules.
#include "servers/smtp/SmtpAccessRules.h"

#include <arpa/inet.h>

#include "common/AccountName.h"
#include "common/AsciiCase.h"
#include "common/TextHelpers.h"
#include "common/net/PeerAddress.h"
#include "common/ReplyFormat.h"
#include "servers/smtp/SmtpCommand.h"
#include "servers/smtp/SmtpReplies.h"

namespace quorvex::smtp {

std::optional<std::string> OpenRelayWarning(const CServerSettings& settings) {
    if (settings.OpenRelay != 0) {
        return std::string("Warning: the SMTP server is an open relay ([System] OpenRelay=1): anyone can send "
                           "mail through it to any domain.");
    }
    if (IsInternetMailServer(settings) && settings.ESMTP == 0) {
        return std::string("Warning: the SMTP server is an open relay ([System] ESMTP=0 with MailServerModel=1): "
                           "anyone who names a local account as sender can send mail through it to any domain; "
                           "set ESMTP=1.");
    }
    return std::nullopt;
}

std::optional<std::uint32_t> ParseIpv4Entry(std::string_view text) { return ParseIpv4(TrimChars(text, " \t")); }

bool IsAddressBlocked(const std::vector<std::string>& entries, std::string_view client) {
    const auto value = ParseIpv4Entry(client);
    if (!value) return false;
    for (const auto& entry : entries) {
        const auto dash = entry.find('-');
        const auto low = ParseIpv4Entry(std::string_view(entry).substr(0, dash));
        const auto high = dash == std::string::npos ? low : ParseIpv4Entry(std::string_view(entry).substr(dash + 1));
        if (low && high && *low <= *value && *value <= *high) return true;
    }
    return false;
}

bool IsPermittedAddress(std::string_view list, std::string_view peer) {
    for (const auto& entry : SplitList(list)) {
        if (SameName(entry, peer)) return true;
    }
    return false;
}

std::optional<std::string> FullRecipientAddress(const CServerSettings& settings, std::string_view address) {
    if (address.find('@') != std::string_view::npos) return std::string(address);
    if (IsMultiDomain(settings) || settings.LocalAbbrv == 0) return std::nullopt;
    std::string full(address);
    full += '@';
    full += settings.Dominame;
    return full;
}

RecipientDecision DecideRecipient(const CServerSettings& s, const RecipientFacts& facts,
                                  const SenderInterMail& sender_inter_mail) {
    RecipientDecision decision;
    decision.recipient = facts.recipient;
    if (facts.recipient_class == ADDRESS_LOCAL_UNKNOWN) {
        if (s.EnableCatchAll != 0) {
            decision.recipient = s.AccountCatchAll;
            if (s.AccountCatchAll.find('@') == std::string::npos) {
                decision.recipient += facts.recipient.substr(facts.recipient.rfind('@'));
            }
        } else if (s.SendOutIfAbsent == 0) {
            decision.refusal = FormatReply(kAbsentFormat, {facts.recipient});
        }
        return decision;
    }
    if (facts.recipient_class != ADDRESS_REMOTE) return decision;

    const bool local_sender = facts.sender_class == ADDRESS_LOCAL_ACCOUNT;
    if (SendersMustBeLocal(s) && local_sender) {
        std::string inter_mail = sender_inter_mail();
        if (inter_mail.empty()) {
            decision.refusal = FormatReply(kNoInterMailFormat, {facts.recipient});
            return decision;
        }
        decision.from_rewrite = std::move(inter_mail);
    }
    if (s.OpenRelay != 0) return decision;
    if (IsLanMailServer(s)) {
        decision.refusal = std::string(kLanOnly);
    } else if (SendersMustBeLocal(s) && !local_sender) {
        decision.refusal = FormatReply(kNotLocalUserFormat, {facts.recipient});
    } else if (IsInternetMailServer(s) && !local_sender && !facts.authenticated) {
        if (IsPermittedAddress(s.PermittedIPSMTP, facts.peer)) {
            decision.anonymous_sender = true;
        } else {
            decision.refusal =
                FormatReply(kRelayDeniedFormat, {facts.sender, facts.sender, facts.recipient, s.Dominame});
        }
    }
    return decision;
}

std::optional<std::string> HeaderFromAddress(std::string_view line) {
    if (!StartsWithNoCase(line, "From:")) return std::nullopt;
    std::string_view value = TrimChars(line.substr(5), " \t\r\n");
    const auto open = value.rfind('<');
    if (open != std::string_view::npos) {
        const auto close = value.find('>', open);
        value = value.substr(open + 1, close == std::string_view::npos ? std::string_view::npos : close - open - 1);
        value = TrimChars(value, " \t");
    }
    return std::string(value);
}

std::optional<std::string> MatchBlockedSender(const std::vector<std::string>& entries, std::string_view address) {
    const auto at = address.find('@');
    const std::string_view domain_part = at == std::string_view::npos ? std::string_view{} : address.substr(at);
    for (const auto& entry : entries) {
        if (entry.empty()) continue;
        if (entry.front() == '@' && !domain_part.empty() && SameName(entry, domain_part)) return entry;
        if (SameName(entry, address)) return entry;
    }
    return std::nullopt;
}

}  // namespace quorvex::smtp
