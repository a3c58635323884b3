// The two account tables the account server edits: AccountInfo (one
// account's settings and mailbox totals) and AccountListInfo (a domain's
// accounts and limits, through which accounts are created and deleted).
// Thin layers over the account operations; they hold no lock of their own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex {

class NoticeSink;

struct AccountInfoRecord {
    std::int64_t Used = 0;  // bytes in the mailbox
    int Volume = 0;         // MB
    int MailCount = 0;
    std::string TimeStamp;  // 19 characters
    std::string Name;       // 76
    std::string Password;   // 76, stored form
    int Max = 0;
    std::string UserName;   // 76
    std::string Comment;    // 256
    std::string InterMail;  // 256
    int Disabled = 0;
    int IsGroup = 0;
    int Permission = 0;

    void Clear() { *this = AccountInfoRecord{}; }
};

class AccountInfoTable {
public:
    virtual ~AccountInfoTable() = default;

    // Loads a listed account and its mailbox totals.
    bool Open(std::string_view account);
    // Takes every field but Used, MailCount and IsGroup.
    bool SetRecord(const AccountInfoRecord& record);
    // Saves under the name given to Open (not the record's Name); the group
    // flag keeps the value Open read.
    bool Save(NoticeSink* notices = nullptr);
    bool GetRecord(AccountInfoRecord& out) const;

private:
    AccountInfoRecord record_;
    std::string account_;
};

struct DomainAccountEntry {
    std::string Account;
    // The account's quota in bytes (-1: no limit) when the list was opened;
    // the mailbox size in MB when handed to AddAccount.
    std::int64_t Size = 0;

    void Clear() { *this = DomainAccountEntry{}; }
};

class DomainAccountList {
public:
    virtual ~DomainAccountList() = default;

    // Selects a domain of the domain table and lists its accounts.
    bool Open(std::string_view domain);
    int GetCount() const { return static_cast<int>(entries_.size()); }
    // Whether a new account named "admin" (or "admin@...") becomes a domain
    // administrator: only when a system administrator creates it.
    enum class AdminName { kAdministrator, kMailAccount };
    // Creates the account when the name belongs to the opened domain and
    // passes the new-account decision (limits, folder, welcome message and
    // notice come from StoreAccount); the new entry shows Size 0.
    bool AddAccount(const DomainAccountEntry& entry, NoticeSink* notices = nullptr,
                    AdminName admin_name = AdminName::kAdministrator);
    bool DeleteAccount(int index, NoticeSink* notices = nullptr);
    int Find(std::string_view name) const;
    bool GetEntry(int index, DomainAccountEntry& out) const;

    int MaxCount() const { return max_count_; }
    int MaxSpace() const { return max_space_; }
    int DefaultSize() const { return default_size_; }

private:
    std::vector<DomainAccountEntry> entries_;
    std::string domain_;
    int max_count_ = -1;
    int max_space_ = -1;
    int default_size_ = 20;
};

}  // namespace quorvex
