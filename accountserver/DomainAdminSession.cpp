// The domain administrator's session.
#include "accountserver/DomainAdminSession.h"

#include <array>
#include <mutex>

#include "accountserver/AccountProtocol.h"
#include "accountserver/AdminCommands.h"
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
#include "mailmodel/account/NewAccountName.h"
#include "mailmodel/provision/AccountProvision.h"
#include "mailmodel/store/MailStore.h"

namespace quorvex::accountserver {

namespace {

constexpr std::int64_t kBytesPerMb = 1024 * 1024;
constexpr std::string_view kReplyAccountExists = "-ERR account already exists";

// The first blank-separated word of a text, as "%s" of scanf reads it.
std::string_view FirstWord(std::string_view text) {
    const auto begin = text.find_first_not_of(" \t");
    if (begin == std::string_view::npos) return {};
    const auto end = text.find_first_of(" \t", begin);
    return text.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin);
}

std::int64_t QuotaOrNone(std::string_view account) {
    const std::uint64_t quota = Accounts().GetQuotaBytes(account);
    return quota == kNoQuotaLimit ? -1 : static_cast<std::int64_t>(quota);
}

}  // namespace

struct DomainAdminCommands {
    using S = DomainAdminSession;
    static constexpr std::array<CommandRule<S>, 10> kRules{{
        {"STAT", Match::kWhole, &S::Stat},
        {"SIZE ", Match::kPrefix, &S::Size},
        {"LIST", Match::kWhole, &S::List},
        {"LIST ", Match::kPrefix, &S::ListRange},
        {"NOOP", Match::kFirstFour, &S::Noop},
        {"RETR ", Match::kPrefix, &S::Retr},
        {"CREA ", Match::kPrefix, &S::Create, true},
        {"CONF ", Match::kPrefix, &S::Configure, true},
        {"DELE ", Match::kPrefix, &S::Delete, true},
        {"QUIT", Match::kWhole, &S::Quit},
    }};
};

void DomainAdminSession::Run(std::string_view text) {
    const auto account = context_.CheckCredentials(text, "ACCOUNT CONFIG");
    if (!account) return;
    login_ = AsciiLowerCase(*account);
    const auto settings = Settings();
    if (settings->DomainNameType == 1) {
        const auto at = login_.find('@');
        if (at == std::string::npos) {
            context_.Reply(kReplyNoMailDomain);
            return;
        }
        domain_ = login_.substr(at + 1);
        if (settings->Domains.Find(domain_) < 0) {
            context_.Reply(kReplyNoSuchDomain);
            return;
        }
    } else {
        domain_ = settings->Dominame;
    }
    level_ = PermissionLevel(Accounts().GetPermission(login_));
    if (level_ == kMailAccount) {
        context_.LoginFailed(login_, LoginOutcome::kNotPermitted);
        context_.Reply(kReplyIllegalUser);
        return;
    }
    if (!context_.Reply(kReplyOk)) return;
    RunCommandLoop(context_, *this, DomainAdminCommands::kRules);
}

std::string DomainAdminSession::StatLine() const {
    return "+OK " + std::to_string(CountDomainAccounts(domain_)) + " " + std::to_string(GetDomainAllocatedSpace(domain_));
}

bool DomainAdminSession::Stat(std::string_view) { return context_.Reply(StatLine()); }

bool DomainAdminSession::CheckManagedAccount(std::string_view argument) {
    if (argument.size() > kMaxCommandArgument) {
        context_.Reply(kReplyUserNameTooLong);
        return false;
    }
    if (!IsAccountInDomain(argument, domain_)) {
        context_.Reply(kReplyIllegalUserName);
        return false;
    }
    return true;
}

bool DomainAdminSession::Size(std::string_view argument) {
    if (!CheckManagedAccount(argument)) return false;
    const std::int64_t quota = QuotaOrNone(argument);
    return context_.Reply("+OK " + std::to_string(quota < 0 ? -1 : quota / kBytesPerMb) + " " +
                          std::to_string(GetMailboxTotalSize(Accounts().StoredName(argument)) / 1024));
}

bool DomainAdminSession::SendList(int first, int last, int number) {
    if (!context_.Reply(StatLine())) return false;
    const std::vector<std::string> names = Accounts().Names();
    for (int position = std::max(first, 1); position <= last && position <= static_cast<int>(names.size()); ++position) {
        const std::string& name = names[static_cast<std::size_t>(position - 1)];
        if (!IsAccountInDomain(name, domain_)) continue;
        if (!context_.Reply(std::to_string(number++) + " " + name)) return false;
    }
    return context_.Reply(".");
}

bool DomainAdminSession::List(std::string_view) { return SendList(1, static_cast<int>(Accounts().GetCount()), 1); }

bool DomainAdminSession::ListRange(std::string_view argument) {
    const auto range = ScanNumbers<2>(argument, {0, 0});
    return SendList(range[0], range[1], range[0]);
}

bool DomainAdminSession::Noop(std::string_view) { return context_.Reply("+OK noop"); }

bool DomainAdminSession::Retr(std::string_view argument) {
    if (!CheckManagedAccount(argument)) return false;
    const std::string account = Accounts().StoredName(argument);
    AccountRecord record;
    LoadAccount(account, record);
    CEmailForward forward;
    const bool has_forward = forward.Load(account);
    const std::string first = has_forward ? forward.GetAddress(0).value_or("") : std::string();
    const std::array<std::string, 13> lines{
        "+OK " + std::to_string(QuotaOrNone(account)) + " octets",
        "USER " + record.UserName,
        "USED " + std::to_string(GetMailboxTotalSize(account) / 1024),
        "SIZE " + std::to_string(record.Volume),
        "MAXI " + std::to_string(record.Max),
        "MESG " + std::to_string(GetMailboxMessageCount(account)),
        "TIME " + record.TimeStamp,
        "DISA " + std::to_string(record.Disabled),
        "COMM " + record.Comment,
        "ENFW " + std::to_string(has_forward ? forward.EnableForwardMailAddresses : 0),
        "FORW " + first,
        "LVCP " + std::to_string(has_forward ? forward.LeaveCopyLocal : 1),
        ".",
    };
    for (const std::string& line : lines)
        if (!context_.Reply(line)) return false;
    return true;
}

bool DomainAdminSession::Create(std::string_view argument) {
    if (argument.size() > kMaxCommandArgument) {
        context_.Reply(kReplyUserNameTooLong);
        return false;
    }
    const auto settings = Settings();
    const auto at = argument.find('@');
    bool in_domain;
    if (settings->DomainNameType == 1)
        in_domain = at != std::string_view::npos && SameName(argument.substr(at + 1), domain_) &&
                    settings->Domains.Find(domain_) >= 0;
    else
        in_domain = at == std::string_view::npos && SameName(domain_, settings->Dominame);
    if (!in_domain) {
        context_.Reply(kReplyIllegalUserName);
        return false;
    }
    if (argument.empty() || argument.front() == '@') {
        context_.Reply(kReplyAccountEmpty);
        return false;
    }
    switch (DecideNewAccountName(argument, *settings, Accounts()).refusal) {
        case NewAccountRefusal::kNone:
            break;
        case NewAccountRefusal::kTaken:
        case NewAccountRefusal::kReserved:
            context_.Reply(kReplyAccountExists);
            return false;
        default:
            context_.Reply(kReplyIllegalLetter);
            return false;
    }
    AccountRecord record;
    record.Name = std::string(argument);
    // An "admin" account is a domain administrator only when a system
    // administrator makes it: nobody grants the rights he holds himself.
    record.Permission = IsAdminAccountName(argument) && level_ >= kSystemAdministrator ? 1 : 0;
    // Created only: an account made meanwhile is never overwritten.
    const AccountStoreResult stored = StoreAccount(argument, record, AccountStoreMode::kCreateOnly, context_.notices());
    if (stored != AccountStoreResult::kStored) {
        context_.Reply(stored == AccountStoreResult::kExists ? kReplyAccountExists : kReplyCreateFailed);
        return false;
    }
    context_.Log(CreatedAccountLine(std::string(argument), "the administrator " + login_, context_.Origin()));
    return context_.Reply(kReplyOkBlank);
}

bool DomainAdminSession::Configure(std::string_view argument) {
    if (!CheckManagedAccount(argument)) return false;
    const std::string account = Accounts().StoredName(argument);
    // Nobody changes an account of a higher level than his own.
    if (PermissionLevel(Accounts().GetPermission(account)) > level_) {
        context_.Reply(kReplyIllegalUserName);
        return false;
    }
    if (!context_.Reply(kReplyOkBlank)) return false;
    AccountRecord record;
    const bool loaded = LoadAccount(account, record);
    int forwarding = 0;
    int leave_copy = 1;
    std::string address;
    std::string line;
    for (;;) {
        if (!ServersRunning() || !context_.Read(line)) return false;
        if (line == ".") break;
        const std::string_view value = line.size() > 5 ? std::string_view(line).substr(5) : std::string_view();
        if (StartsWithNoCase(line, "USER ")) {
            if (value.size() > kMaxCommandArgument) {
                context_.Reply(kReplyUserNameTooLong);
                return false;
            }
            record.UserName = std::string(value);
        } else if (StartsWithNoCase(line, "SIZE ")) {
            record.Volume = ReadDecimal(value);
        } else if (StartsWithNoCase(line, "MAXI ")) {
            record.Max = ReadDecimal(value);
        } else if (StartsWithNoCase(line, "DISA ")) {
            record.Disabled = ReadDecimal(value);
        } else if (StartsWithNoCase(line, "COMM ")) {
            record.Comment = std::string(value.substr(0, kMaxAccountText));
        } else if (StartsWithNoCase(line, "ENFW ")) {
            forwarding = ReadDecimal(value);
        } else if (StartsWithNoCase(line, "LVCP ")) {
            leave_copy = ReadDecimal(value);
        } else if (StartsWithNoCase(line, "FORW ")) {
            address = std::string(FirstWord(value).substr(0, kMaxListEntryLength));
        } else if (StartsWithNoCase(line, "PASS ")) {
            record.Password = HashAccountPassword(FirstWord(value), 1);
        }
    }
    // "+OK" only once the account and its forwarding are stored.
    bool saved = loaded && SaveAccount(account, record, context_.notices());
    CEmailForward forward;
    if (saved && forward.Load(account)) {
        forward.LeaveCopyLocal = leave_copy;
        forward.EnableForwardMailAddresses = forwarding;
        if (forward.GetCount() > 0) saved = forward.SetAddress(0, address);
        else if (!address.empty()) saved = forward.AddAddress(address);
        saved = saved && forward.Save();
    } else {
        saved = false;
    }
    if (!saved) {
        context_.Reply(kReplyUpdateFailed);
        return false;
    }
    if (!context_.Reply(kReplyOkBlank)) return false;
    context_.Notify(NoticeId::WM_UPDATE_ACCOUNT, account);
    return true;
}

bool DomainAdminSession::Delete(std::string_view argument) {
    if (!CheckManagedAccount(argument)) return false;
    const std::string account = Accounts().StoredName(argument);
    if (PermissionLevel(Accounts().GetPermission(account)) > level_ || !DeleteAccount(account, context_.notices())) {
        context_.Reply(kReplyDeleteFailed);
        return false;
    }
    return context_.Reply(kReplyOkBlank);
}

bool DomainAdminSession::Quit(std::string_view) {
    context_.Reply(kReplyBye);
    return false;
}

}  // namespace quorvex::accountserver
