// AccountInfo and AccountListInfo tables.
#include "mailmodel/provision/AccountTables.h"

#include "common/AccountName.h"
#include "common/ServerSettings.h"
#include "mailmodel/account/AccountConfig.h"
#include "mailmodel/account/AccountList.h"
#include "mailmodel/provision/AccountProvision.h"
#include "mailmodel/store/MailStore.h"

namespace quorvex {

namespace {

std::string Cut(std::string_view text, std::size_t limit) { return std::string(text.substr(0, limit)); }

}  // namespace

bool AccountInfoTable::Open(std::string_view account) {
    if (!Accounts().Exists(account)) return false;
    account_ = Cut(account, kMaxAccountNameLength);
    AccountRecord loaded;
    if (!LoadAccount(account_, loaded)) return false;
    record_.Clear();
    record_.Disabled = loaded.Disabled;
    record_.IsGroup = loaded.IsGroup;
    record_.Max = loaded.Max;
    record_.Volume = loaded.Volume;
    record_.Permission = loaded.Permission;
    record_.MailCount = GetMailboxMessageCount(account_);
    record_.Used = GetMailboxTotalSize(account_);
    record_.Name = Cut(loaded.Name, 76);
    record_.Password = Cut(loaded.Password, 76);
    record_.UserName = Cut(loaded.UserName, 76);
    record_.Comment = Cut(loaded.Comment, 256);
    record_.InterMail = Cut(loaded.InterMail, 256);
    record_.TimeStamp = Cut(loaded.TimeStamp, 19);
    return true;
}

bool AccountInfoTable::SetRecord(const AccountInfoRecord& record) {
    const AccountInfoRecord kept = record_;
    record_ = record;
    record_.Used = kept.Used;
    record_.MailCount = kept.MailCount;
    record_.IsGroup = kept.IsGroup;
    return true;
}

bool AccountInfoTable::Save(NoticeSink* notices) {
    AccountRecord record;
    record.Disabled = record_.Disabled;
    record.IsGroup = record_.IsGroup;
    record.Max = record_.Max;
    record.Volume = record_.Volume;
    record.Permission = record_.Permission;
    record.Name = record_.Name;
    record.Comment = record_.Comment;
    record.InterMail = record_.InterMail;
    record.TimeStamp = record_.TimeStamp;
    record.Password = record_.Password;
    record.UserName = record_.UserName;
    return SaveAccount(account_, record, notices);
}

bool AccountInfoTable::GetRecord(AccountInfoRecord& out) const {
    out = record_;
    return true;
}

bool DomainAccountList::Open(std::string_view domain) {
    const auto settings = Settings();
    const int index = settings->Domains.Find(domain);
    DomainRecord record;
    if (index < 0 || !settings->Domains.Get(index, record)) return false;
    domain_ = Cut(domain, 256);
    max_count_ = record.MaxAccounts;
    max_space_ = record.MaxSpace;
    default_size_ = record.MailboxDefaultSize;
    entries_.clear();
    entries_.reserve(100);
    const bool multi = settings->DomainNameType != 0;
    for (const std::string& name : Accounts().Names()) {
        const auto at = name.rfind('@');
        const bool member = multi ? at != std::string::npos && SameName(std::string_view(name).substr(at + 1), domain_)
                                  : at == std::string::npos;
        if (!member) continue;
        const std::uint64_t quota = Accounts().GetQuotaBytes(name);
        entries_.push_back({name, quota == kNoQuotaLimit ? -1 : static_cast<std::int64_t>(quota)});
    }
    return true;
}

bool DomainAccountList::AddAccount(const DomainAccountEntry& entry, NoticeSink* notices, AdminName admin_name) {
    const std::string& name = entry.Account;
    const auto settings = Settings();
    const auto at = name.rfind('@');
    if (settings->DomainNameType == 1) {
        if (at == std::string::npos || !SameName(std::string_view(name).substr(at + 1), domain_) ||
            settings->Domains.Find(domain_) < 0)
            return false;
    } else if (at != std::string::npos) {
        return false;
    }
    if (entry.Size < INT32_MIN || entry.Size > INT32_MAX) return false;
    AccountRecord record;
    record.Name = name;
    record.Volume = static_cast<int>(entry.Size);
    if (IsAdminAccountName(name) && admin_name == AdminName::kAdministrator) record.Permission = 1;
    if (StoreAccount(name, record, AccountStoreMode::kCreateOnly, notices) != AccountStoreResult::kStored) return false;
    entries_.push_back({name, 0});
    return true;
}

bool DomainAccountList::DeleteAccount(int index, NoticeSink* notices) {
    if (index < 0 || index >= GetCount()) return false;
    if (!quorvex::DeleteAccount(entries_[static_cast<std::size_t>(index)].Account, notices)) return false;
    entries_.erase(entries_.begin() + index);
    return true;
}

int DomainAccountList::Find(std::string_view name) const {
    for (std::size_t i = 0; i < entries_.size(); ++i)
        if (SameName(entries_[i].Account, name)) return static_cast<int>(i);
    return -1;
}

bool DomainAccountList::GetEntry(int index, DomainAccountEntry& out) const {
    if (index < 0 || index >= GetCount()) return false;
    out = entries_[static_cast<std::size_t>(index)];
    return true;
}

}  // namespace quorvex
