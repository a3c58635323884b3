// Account records and the shared account operations.
#include "mailmodel/account/AccountConfig.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <vector>

#include "common/AccountName.h"
#include "common/ConfigWriter.h"
#include "common/ErrorLog.h"
#include "common/FolderTree.h"
#include "common/Notices.h"
#include "common/Paths.h"
#include "common/PasswordDigest.h"
#include "common/ProfileFile.h"
#include "common/ServerSettings.h"
#include "common/SettingRanges.h"
#include "mailmodel/account/AccountFolders.h"
#include "mailmodel/account/AccountList.h"
#include "mailmodel/account/AccountSettingsFile.h"
#include "mailmodel/account/EmailForward.h"
#include "mailmodel/account/NewAccountName.h"

namespace quorvex {

namespace {

constexpr std::int64_t kBytesPerMb = 1024 * 1024;
// How long an account operation waits for the window to show its notice.
constexpr std::chrono::milliseconds kNoticeWait{1000};

std::string_view AfterFirstAt(std::string_view name) {
    const auto at = name.find('@');
    return at == std::string_view::npos ? std::string_view() : name.substr(at + 1);
}

// Whether a listed name belongs to the domain: by the text after its first
// "@" in multi-domain mode, by having no "@" otherwise.
bool NameInDomain(const CServerSettings& settings, std::string_view name, std::string_view domain) {
    if (IsMultiDomain(settings)) return name.find('@') != std::string_view::npos && SameName(AfterFirstAt(name), domain);
    return name.find('@') == std::string_view::npos;
}

// Quota bytes that count against a domain's space: none for groups and for
// accounts without a limit.
std::int64_t CountedQuota(std::string_view name) {
    if (Accounts().IsGroup(name)) return 0;
    const std::uint64_t quota = Accounts().GetQuotaBytes(name);
    return quota == kNoQuotaLimit ? 0 : static_cast<std::int64_t>(quota);
}

// A switch of the account file as it is written: 1 for on, whatever
// number the record holds, so that the file always reads back the same.
std::string Switch(int value) { return value != 0 ? "1" : "0"; }

// The permission level as it is written: the nearest level there is.
std::string Level(int value) {
    return std::to_string(std::clamp<long long>(value, kAccountPermissionRange.low, kAccountPermissionRange.high));
}

bool HasStorableTexts(const AccountRecord& r) {
    for (const std::string* text : {&r.Password, &r.UserName, &r.Comment, &r.TimeStamp, &r.InterMail})
        if (!IsStorableValue(*text) || text->size() > kMaxAccountText) return false;
    return true;
}

// The store's result for a name the new-account decision refused.
AccountStoreResult StoreRefusal(NewAccountRefusal refusal) {
    switch (refusal) {
        case NewAccountRefusal::kTaken: return AccountStoreResult::kExists;
        case NewAccountRefusal::kNoDomain:
        case NewAccountRefusal::kUnknownDomain:
        case NewAccountRefusal::kDomainNotAllowed: return AccountStoreResult::kUnknownDomain;
        default: return AccountStoreResult::kRefusedName;
    }
}

}  // namespace

void PostAccountNotice(NoticeSink* notices, NoticeId id, std::string_view account) {
    (notices ? *notices : static_cast<NoticeSink&>(ProcessNoticeBus())).PostAndWait(id, account, kNoticeWait);
}

AccountRecord::AccountRecord() : Volume(Settings()->DefaultVolume) {}

std::string AccountTimeStampNow() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y/%m/%d %H:%M:%S", &tm);
    return buf;
}

bool LoadAccount(std::string_view account, AccountRecord& record) {
    const auto doc = LoadAccountSettings(account);
    if (!doc) return false;
    record.Name = std::string(account.substr(0, kMaxAccountText));
    record.Password = ReadValue(*doc, "System", "Password", kMaxAccountText);
    record.UserName = ReadValue(*doc, "System", "UserName", kMaxAccountText);
    record.Comment = ReadValue(*doc, "System", "Comment", kMaxAccountText);
    record.InterMail = ReadValue(*doc, "System", "InterMail", kMaxAccountText);
    record.TimeStamp = ReadValue(*doc, "System", "TimeStamp", kMaxAccountText);
    // Read as the account list reads them, which names a refused value in
    // the error log.
    record.Volume = NumberOrDefault(*doc, "System", "Volume", record.Volume, kAccountVolumeRange);
    record.Max = NumberOrDefault(*doc, "System", "Max", 0, kAccountSwitchRange);
    record.Disabled = NumberOrDefault(*doc, "System", "Disabled", 0, kAccountSwitchRange);
    record.IsGroup = Accounts().IsGroup(account);
    record.Permission = Accounts().GetPermission(account);
    return true;
}

AccountPresence AccountExists(std::string_view account) {
    if (IsReservedAccountName(account)) return AccountPresence::kReserved;
    const auto settings = Settings();
    const auto at = account.rfind('@');
    if (IsMultiDomain(*settings)) {
        if (at == std::string_view::npos || settings->Domains.Find(account.substr(at + 1)) < 0) {
            return AccountPresence::kMissing;
        }
    } else if (at != std::string_view::npos) {
        return AccountPresence::kMissing;
    }
    return Accounts().Exists(account) ? AccountPresence::kListed : AccountPresence::kMissing;
}

AccountStoreResult WriteAccount(std::string_view account, AccountRecord record, AccountStoreMode mode, bool& created) {
    using Result = AccountStoreResult;
    if (!HasStorableTexts(record)) return Result::kRefusedText;
    const auto settings = Settings();
    created = false;
    {
        std::lock_guard guard(AccountIniLock());
        // Decided under the lock: a name another request creates meanwhile
        // is taken, never overwritten.
        AccountPresence exists = AccountPresence::kMissing;
        if (mode == AccountStoreMode::kCreateOnly) {
            if (const NewAccountName decided = DecideNewAccountName(account, *settings, Accounts()); !decided.accepted())
                return StoreRefusal(decided.refusal);
        } else {
            exists = AccountExists(account);
            // Reserved names never become accounts.
            if (exists == AccountPresence::kReserved) return Result::kRefusedName;
            if (exists == AccountPresence::kMissing && mode == AccountStoreMode::kUpdateOnly) return Result::kMissing;
        }
        // A new name is its own stored spelling; a listed one is mapped to it.
        const bool listed = exists == AccountPresence::kListed;
        const auto settings_path = listed ? GetAccountSettingsPath(account) : AccountSettingsPathFor(account);
        const auto folder = listed ? GetAccountFolderPath(account) : AccountFolderPathFor(account);
        if (!settings_path || !folder) return Result::kRefusedName;
        if (record.Password.empty()) record.Password = HashAccountPassword("", 1);

        const std::string domain = account.find('@') == std::string_view::npos ? settings->Dominame
                                                                                 : std::string(AfterFirstAt(account));
        const int domain_index = settings->Domains.Find(domain);
        DomainRecord limits;
        if (domain_index < 0 || !settings->Domains.Get(domain_index, limits)) return Result::kUnknownDomain;

        const auto space_allows = [&](std::int64_t used) {
            if (limits.MaxSpace == -1) return true;
            return record.Volume >= 0 && used / kBytesPerMb + record.Volume <= limits.MaxSpace;
        };
        if (exists == AccountPresence::kMissing) {
            if (limits.MaxAccounts != -1 && CountDomainAccounts(domain) >= limits.MaxAccounts)
                return Result::kAccountLimit;
            if (!space_allows(GetDomainAllocatedSpace(domain))) return Result::kSpaceLimit;
            MakeFolders(MailFolderPath());
            // Also refused when the folder exists (an unlisted leftover).
            if (::mkdir(folder->c_str(), 0700) != 0) return Result::kExists;
            record.TimeStamp = AccountTimeStampNow();
            created = true;
        } else if (!space_allows(GetDomainAllocatedSpace(domain) - CountedQuota(account))) {
            return Result::kSpaceLimit;
        }

        const bool written = ProfileFile(*settings_path).Edit([&](IniDocument& doc) {
            return doc.Set("System", "Password", record.Password) && doc.Set("System", "UserName", record.UserName) &&
                   doc.Set("System", "Comment", record.Comment) && doc.Set("System", "TimeStamp", record.TimeStamp) &&
                   doc.Set("System", "InterMail", record.InterMail) &&
                   doc.Set("System", "Volume", std::to_string(record.Volume)) &&
                   doc.Set("System", "Max", Switch(record.Max)) &&
                   doc.Set("System", "Disabled", Switch(record.Disabled)) &&
                   doc.Set("System", "IsGroup", Switch(record.IsGroup)) &&
                   doc.Set("System", "Permission", Level(record.Permission));
        });
        if (!written) {
            QUORVEX_ERROR_LOG("cannot write the settings of account " + std::string(account));
            if (created) DeleteFolderTree(*folder);
            return Result::kWriteFailed;
        }
        if (created) Accounts().Add(account);
        else Accounts().Refresh(account);
    }
    return Result::kStored;
}

bool CheckAccountPassword(std::string_view account, std::string_view password) {
    // The digest first, for every name: a name that is no account costs the
    // same time as a wrong password, so the answer's timing tells nothing.
    const std::string digest = HashAccountPassword(password, 1);
    if (AccountExists(account) != AccountPresence::kListed) return false;
    const auto stored = Accounts().GetPassword(account);
    if (!stored || stored->empty()) return false;
    return digest == *stored || password == *stored;
}

std::int64_t GetDomainAllocatedSpace(std::string_view domain) {
    const auto settings = Settings();
    std::int64_t sum = 0;
    for (const std::string& name : Accounts().Names())
        if (NameInDomain(*settings, name, domain)) sum += CountedQuota(name);
    return sum;
}

int CountDomainAccounts(std::string_view domain) {
    const auto settings = Settings();
    int count = 0;
    for (const std::string& name : Accounts().Names()) count += NameInDomain(*settings, name, domain) ? 1 : 0;
    return count;
}

bool DeleteAccount(std::string_view account, NoticeSink* notices) {
    if (account.empty() || !Accounts().Exists(account)) return false;
    const std::string stored = Accounts().StoredName(account);
    const auto folder = AccountFolderPathFor(stored);
    if (!folder) return false;
    DeleteFolderTree(*folder);
    if (!Accounts().Remove(stored)) return false;
    PostAccountNotice(notices, NoticeId::WM_DELETE_ACCOUNT, stored);

    const CEmailGroup groups;
    for (const std::string& group : Accounts().Names()) {
        if (!Accounts().IsGroup(group)) continue;
        std::vector<std::string> members;
        int count = 0;
        if (!groups.LoadMembers(group, members, count)) continue;
        for (std::size_t i = 0; i < members.size(); ++i) {
            if (!SameName(members[i], stored)) continue;
            members.erase(members.begin() + static_cast<std::ptrdiff_t>(i));
            groups.SaveMembers(group, members, count - 1);
            break;
        }
    }
    return true;
}

bool IsAccountInDomain(std::string_view account, std::string_view domain) {
    if (account.empty() || account.find_first_of("\\/:") != std::string_view::npos || !Accounts().Exists(account))
        return false;
    const auto settings = Settings();
    if (settings->DomainNameType != 0)
        return account.find('@') != std::string_view::npos && SameName(AfterFirstAt(account), domain) &&
               settings->Domains.Find(domain) >= 0;
    return account.find('@') == std::string_view::npos && SameName(domain, settings->Dominame);
}

std::optional<std::string> GetAccountInterMail(std::string_view account) {
    const auto doc = LoadAccountSettings(account);
    if (!doc) return std::nullopt;
    return ReadValue(*doc, "system", "InterMail", kMaxAccountText);
}

std::optional<std::string> GetAccountUserName(std::string_view account) {
    const auto doc = LoadAccountSettings(account);
    if (!doc) return std::nullopt;
    return ReadValue(*doc, "System", "UserName", kMaxUserNameLength);
}

bool WriteAccountTimeStamp(std::string_view account, std::string_view text) {
    if (!IsStorableValue(text)) return false;
    return EditAccountSettings(account, [&](IniDocument& doc) { return doc.Set("System", "TimeStamp", text); });
}

}  // namespace quorvex
