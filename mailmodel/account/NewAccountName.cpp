// The new-account name decision.
#include "mailmodel/account/NewAccountName.h"

#include "common/AccountName.h"
#include "common/ServerSettings.h"
#include "mailmodel/account/AccountList.h"

namespace quorvex {

namespace {

NewAccountName Refused(NewAccountRefusal refusal) { return {refusal, {}, 0}; }

}  // namespace

NewAccountName DecideNewAccountName(std::string_view text, const CServerSettings& settings,
                                    const AccountList& accounts) {
    using enum NewAccountRefusal;
    if (HasRefusedNameCharacter(text, true)) return Refused(kRefusedCharacter);
    const DomainTable& domains = settings.Domains;
    const std::size_t at = text.find('@');
    DomainRecord domain(settings.DefaultVolume);
    if (IsMultiDomain(settings)) {
        if (at == std::string_view::npos) return Refused(kNoDomain);
        const int index = domains.Find(text.substr(at + 1));
        if (index < 0 || !domains.Get(index, domain)) return Refused(kUnknownDomain);
    } else {
        if (at != std::string_view::npos) return Refused(kDomainNotAllowed);
        domains.Get(0, domain);
    }
    if (text.empty() || text.front() == '@') return Refused(kEmpty);
    if (text.size() > kMaxAccountNameLength) return Refused(kTooLong);
    if (IsReservedAccountName(text)) return Refused(kReserved);
    if (accounts.Exists(text)) return Refused(kTaken);
    if (!IsValidNewAccountName(text, domains)) return Refused(kNotPlain);
    return {kNone, std::string(text), domain.MailboxDefaultSize};
}

}  // namespace quorvex
