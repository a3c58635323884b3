// The system administrator's session.
#include "accountserver/SysAdminSession.h"

#include <array>
#include <mutex>

#include "accountserver/AccountProtocol.h"
#include "accountserver/AdminCommands.h"
#include "accountserver/AdministratorPassword.h"
#include "accountserver/TableRights.h"
#include "common/AccountName.h"
#include "common/AsciiCase.h"
#include "common/DecimalScan.h"
#include "common/PasswordDigest.h"
#include "common/ProfileFile.h"
#include "common/RunFlag.h"
#include "common/ServerSettings.h"
#include "mailmodel/account/AccountConfig.h"
#include "mailmodel/account/AccountList.h"
#include "mailmodel/account/EmailForward.h"
#include "mailmodel/store/MailStore.h"

namespace quorvex::accountserver {

namespace {

// Serialises the changes of the server's domain table made here.
std::mutex& DomainEditLock() {
    static std::mutex lock;
    return lock;
}

}  // namespace

struct SysAdminCommands {
    using S = SysAdminSession;
    static constexpr std::array<CommandRule<S>, 8> kRules{{
        {"STAT", Match::kWhole, &S::Stat},
        {"LIST", Match::kWhole, &S::List},
        {"LIST ", Match::kPrefix, &S::ListRange},
        {"NOOP", Match::kWhole, &S::Noop},
        {"PASS ", Match::kPrefix, &S::Password, true},
        {"DELE ", Match::kPrefix, &S::DeleteDomain, true},
        {"INST ", Match::kPrefix, &S::InstallDomain, true},
        {"QUIT", Match::kWhole, &S::Quit},
    }};
};

void SysAdminSession::Run(std::string_view text) {
    const auto credentials = SplitCredentials(text);
    if (!credentials) {
        context_.Reply(kReplyNoPassword);
        return;
    }
    context_.ShowMessage("SYSADMIN CONFIG", credentials->account);
    const std::string account = context_.CutForwardedSuffix(credentials->account);
    if (HasRefusedNameCharacter(account, false)) {
        context_.Reply(kReplyIllegalLetter);
        return;
    }
    if (account.empty()) {
        context_.Reply(kReplyAccountEmpty);
        return;
    }
    if (context_.LoginLocked()) {
        context_.Reply(kReplyIllegalUser);
        return;
    }
    const bool password_matches = NetworkAdministratorPasswordMatches(Settings()->ConfigIni(), credentials->password);
    const bool administrator = AsciiLowerCase(account) == kAdministratorAccount;
    if (!administrator || !password_matches) {
        context_.LoginFailed(account, administrator ? LoginOutcome::kWrongPassword : LoginOutcome::kUnknownAccount);
        context_.Reply(kReplyIllegalUser);
        return;
    }
    context_.Progress();
    if (!context_.Reply(kReplyOk)) return;
    RunCommandLoop(context_, *this, SysAdminCommands::kRules);
}

bool SysAdminSession::Stat(std::string_view) {
    return context_.Reply("+OK " + std::to_string(Settings()->Domains.GetCount()));
}

bool SysAdminSession::SendDomains(int first, int last) {
    const auto settings = Settings();
    const auto& domains = settings->Domains.records();
    if (!context_.Reply("+OK " + std::to_string(domains.size()))) return false;
    for (int position = std::max(first, 1); position <= last && position <= static_cast<int>(domains.size()); ++position)
        if (!context_.Reply(std::to_string(position) + " " + domains[static_cast<std::size_t>(position - 1)].Name))
            return false;
    return context_.Reply(".");
}

bool SysAdminSession::List(std::string_view) { return SendDomains(1, Settings()->Domains.GetCount()); }

bool SysAdminSession::ListRange(std::string_view argument) {
    const auto range = ScanNumbers<2>(argument, {0, 0});
    return SendDomains(range[0], range[1]);
}

bool SysAdminSession::Noop(std::string_view) { return context_.Reply("+OK noop"); }

bool SysAdminSession::Password(std::string_view argument) {
    // A password that could never log in here again is not stored.
    if (const std::string_view refusal = NetworkPasswordRefusal(argument); !refusal.empty()) {
        context_.Reply(refusal);
        return false;
    }
    if (!ProfileFile(Settings()->ConfigIni()).WriteString("System", "Password", HashAccountPassword(argument, 1))) {
        context_.Reply(kReplyUpdateFailed);
        return false;
    }
    return context_.Reply(kReplyOkBlank);
}

bool SysAdminSession::DeleteDomain(std::string_view argument) {
    if (argument.size() > kMaxCommandArgument) {
        context_.Reply("-ERR domain is too long");
        return false;
    }
    std::lock_guard edit(DomainEditLock());
    DomainTable domains = Settings()->Domains;
    if (const int index = domains.Find(argument); index >= 0) domains.Delete(index);
    if (domains.Save() != 1) {
        context_.Reply(kReplyUpdateFailed);
        return false;
    }
    return context_.Reply(kReplyOk);
}

bool SysAdminSession::InstallDomain(std::string_view argument) {
    if (argument.size() > kMaxCommandArgument) {
        context_.Reply("-ERR domain is too long");
        return false;
    }
    const std::string name(argument.substr(0, kMaxDomainNameLength));
    DomainRecord record;
    record.Name = name;
    bool added = false;
    if (IsAcceptableDomainName(name)) {
        std::lock_guard edit(DomainEditLock());
        UpdateSettings([&](CServerSettings& settings) {
            if (settings.Domains.Find(name) < 0) added = settings.Domains.Add(record) == 1;
        });
    }
    // The addition lives in memory only, until the table is stored.
    return context_.Reply(added ? kReplyOkBlank : kReplyAddNewFailed);
}

bool SysAdminSession::Quit(std::string_view) {
    context_.Reply(kReplyBye);
    return false;
}

}  // namespace quorvex::accountserver
