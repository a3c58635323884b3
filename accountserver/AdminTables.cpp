// The administration tables: one account's settings (AccountInfo), the
// accounts of a mail domain (AccountListInfo) and the server's mail
// domains (DomainInfo).
#include <mutex>
#include <optional>

#include "accountserver/AccountProtocol.h"
#include "accountserver/RequestContext.h"
#include "accountserver/Table.h"
#include "common/AccountName.h"
#include "common/DomainTable.h"
#include "common/PasswordDigest.h"
#include "common/SettingRanges.h"
#include "mailmodel/account/AccountList.h"
#include "mailmodel/provision/AccountTables.h"

namespace quorvex::accountserver {

namespace {

constexpr std::size_t kNameField = 76;
constexpr std::size_t kTextField = 256;
constexpr std::size_t kTimeField = 19;

class AccountInfoTableView final : public Table {
public:
    explicit AccountInfoTableView(const TableLogin& login) : login_(login) {}

    bool Open(const std::string& argument) override {
        if (!table_.Open(argument)) return false;
        account_ = argument;
        current_.Clear();
        return table_.GetRecord(current_);
    }
    std::optional<bool> Update() override { return table_.SetRecord(current_) && table_.Save(login_.notices); }

    std::optional<std::string> GetValue(std::string_view name) override {
        if (SameName(name, "Enable")) return std::to_string(current_.Disabled == 0 ? 1 : 0);
        if (SameName(name, "Group")) return std::to_string(current_.IsGroup);
        if (SameName(name, "MaxSize")) return std::to_string(current_.Max);
        if (SameName(name, "MailCount")) return std::to_string(current_.MailCount);
        if (SameName(name, "Size")) return std::to_string(current_.Volume);
        if (SameName(name, "Used")) return std::to_string(current_.Used);
        if (SameName(name, "Permission")) return std::to_string(current_.Permission);
        if (SameName(name, "Comment")) return current_.Comment;
        if (SameName(name, "ContactEmail")) return current_.InterMail;
        if (SameName(name, "LastVisitedTime")) return current_.TimeStamp;
        if (SameName(name, "Password")) return current_.Password;
        if (SameName(name, "UserName")) return current_.UserName;
        return std::nullopt;
    }

    bool SetValue(std::string_view name, std::string_view value) override {
        if (login_.permission >= kDomainAdministrator && SetAdministrativeValue(name, value)) return true;
        // The account's settings file holds one line per value, so the
        // texts are kept as sent: the escaped line break stays escaped.
        if (SameName(name, "Comment")) current_.Comment = CutText(value, kTextField);
        else if (SameName(name, "ContactEmail")) current_.InterMail = CutText(value, kTextField);
        else if (SameName(name, "LastVisitedTime")) current_.TimeStamp = CutText(value, kTimeField);
        else if (SameName(name, "Password")) current_.Password = CutText(HashAccountPassword(CutText(value, kNameField), 1), kNameField);
        else if (SameName(name, "UserName")) current_.UserName = CutText(value, kNameField);
        else return false;
        return true;
    }

private:
    bool SetAdministrativeValue(std::string_view name, std::string_view value) {
        const int number = ReadDecimal(value);
        if (SameName(name, "Enable")) current_.Disabled = number == 0 ? 1 : 0;
        else if (SameName(name, "Group")) current_.IsGroup = number;
        else if (SameName(name, "MaxSize")) current_.Max = number;
        else if (SameName(name, "Size")) current_.Volume = number;
        else if (SameName(name, "Permission")) {
            // A refused change leaves the value and is answered like a done one.
            if (MaySetPermission(login_.permission, current_.Permission, number, SameName(account_, login_.account)))
                current_.Permission = number;
        } else {
            return false;
        }
        return true;
    }

    TableLogin login_;
    AccountInfoTable table_;
    AccountInfoRecord current_;
    std::string account_;
};

class AccountListInfoTable final : public Table {
public:
    explicit AccountListInfoTable(const TableLogin& login) : login_(login) {}

    bool Open(const std::string& argument) override { return list_.Open(argument); }
    std::optional<bool> AddNew() override {
        return list_.AddAccount(current_, login_.notices,
                                login_.permission >= kSystemAdministrator ? DomainAccountList::AdminName::kAdministrator
                                                                          : DomainAccountList::AdminName::kMailAccount);
    }
    std::optional<int> GetCount() override { return list_.GetCount(); }
    std::optional<bool> Delete(int index) override {
        DomainAccountEntry entry;
        if (!list_.GetEntry(index, entry)) return false;
        // Nobody deletes an account of a higher level than his own.
        if (PermissionLevel(Accounts().GetPermission(entry.Account)) > login_.permission) return false;
        return list_.DeleteAccount(index, login_.notices);
    }
    std::optional<bool> GetData(int index) override {
        DomainAccountEntry entry;
        if (!list_.GetEntry(index, entry)) return false;
        current_ = entry;
        return true;
    }
    std::optional<int> Find(std::string_view name) override { return list_.Find(name); }

    std::optional<std::string> GetValue(std::string_view name) override {
        if (SameName(name, "Account")) return current_.Account;
        if (SameName(name, "Size")) return std::to_string(current_.Size);
        if (SameName(name, "MaxCount")) return std::to_string(list_.MaxCount());
        if (SameName(name, "MaxSpace")) return std::to_string(list_.MaxSpace());
        if (SameName(name, "DefaultSize")) return std::to_string(list_.DefaultSize());
        return std::nullopt;
    }
    bool SetValue(std::string_view name, std::string_view value) override {
        if (SameName(name, "Account")) current_.Account = CutText(value, kNameField);
        else if (SameName(name, "Size")) current_.Size = ReadDecimal(value);
        else return false;
        return true;
    }

private:
    TableLogin login_;
    DomainAccountList list_;
    DomainAccountEntry current_;
};

// A decimal `value` into `field` when `range` takes it; false (the field
// unchanged) otherwise.
bool SetLimit(std::string_view value, const NumberRange& range, int& field) {
    const auto number = NumberInRange(value, range);
    if (number) field = *number;
    return number.has_value();
}

class DomainInfoTable final : public Table {
public:
    bool Open(const std::string&) override { return table_.Load(DomainTable::kModeFromSettings) == 1; }
    std::optional<bool> AddNew() override {
        if (!IsAcceptableDomainName(current_.Name) || table_.Find(current_.Name) >= 0) return false;
        return table_.Add(current_) == 1;
    }
    std::optional<int> GetCount() override { return table_.GetCount(); }
    std::optional<bool> Update() override { return table_.Save() == 1; }
    std::optional<bool> Delete(int index) override { return table_.Delete(index) == 1; }
    std::optional<bool> Edit(int index) override {
        const int same = table_.Find(current_.Name);
        if (!IsAcceptableDomainName(current_.Name) || (same >= 0 && same != index)) return false;
        return table_.Set(index, current_) == 1;
    }
    std::optional<bool> GetData(int index) override {
        DomainRecord record;
        if (table_.Get(index, record) != 1) return false;
        current_ = record;
        return true;
    }
    std::optional<int> Find(std::string_view name) override { return table_.Find(name); }

    std::optional<std::string> GetValue(std::string_view name) override {
        if (SameName(name, "Domain")) return current_.Name;
        if (SameName(name, "MaxCount")) return std::to_string(current_.MaxAccounts);
        if (SameName(name, "MaxSpace")) return std::to_string(current_.MaxSpace);
        if (SameName(name, "DefaultSize")) return std::to_string(current_.MailboxDefaultSize);
        if (SameName(name, "MultipleDomain")) return std::to_string(table_.mode() == DomainTable::kMultiDomain ? 1 : 0);
        return std::nullopt;
    }
    // The limits are kept to the ranges config.ini takes, so that a table
    // stored here never stops the next start.
    bool SetValue(std::string_view name, std::string_view value) override {
        if (SameName(name, "Domain")) current_.Name = CutText(value, kMaxDomainNameLength);
        else if (SameName(name, "MaxCount")) return SetLimit(value, kDomainMailboxesRange, current_.MaxAccounts);
        else if (SameName(name, "MaxSpace")) return SetLimit(value, kDomainSpaceRange, current_.MaxSpace);
        else if (SameName(name, "DefaultSize")) return SetLimit(value, kMailboxSizeRange, current_.MailboxDefaultSize);
        else return false;
        return true;
    }

private:
    DomainTable table_;
    DomainRecord current_;
};

}  // namespace

std::unique_ptr<Table> MakeAccountInfoTable(const TableLogin& login) { return std::make_unique<AccountInfoTableView>(login); }
std::unique_ptr<Table> MakeAccountListInfoTable(const TableLogin& login) { return std::make_unique<AccountListInfoTable>(login); }
std::unique_ptr<Table> MakeDomainInfoTable(const TableLogin&) { return std::make_unique<DomainInfoTable>(); }

}  // namespace quorvex::accountserver
