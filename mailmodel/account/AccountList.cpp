// The in-memory account list.
#include "mailmodel/account/AccountList.h"

#include <sys/stat.h>

#include <algorithm>

#include "common/AccountName.h"
#include "common/AsciiCase.h"
#include "common/ErrorLog.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/SettingRanges.h"
#include "mailmodel/FolderListing.h"
#include "mailmodel/account/AccountFolders.h"

namespace quorvex {

namespace {

constexpr std::size_t kMaxListedPassword = 76;
constexpr std::uint64_t kBytesPerMb = 1024 * 1024;

// The key of a name in the index: names compare without regard to ASCII case.
std::string IndexKey(std::string_view name) { return AsciiLowerCase(name); }

// [System] `key` of the account file `path` when it holds a number in
// `range`; else its default, and a value that is there is named in the
// error log: a typo never disables an account, makes it a group or lifts
// its quota.
int AccountNumber(const IniDocument& doc, const std::string& path, std::string_view key, int default_value,
                  const NumberRange& range) {
    const auto value = doc.Find("System", key);
    if (!value) return default_value;
    if (const auto number = NumberInRange(*value, range)) return *number;
    QUORVEX_ERROR_LOG(RefusedValueText(path, "System", key, *value, range.Expected()) + " The account keeps " +
                      std::string(key) + "=" + std::to_string(default_value) + ".");
    return default_value;
}

}  // namespace

bool IsAdminAccountName(std::string_view name) {
    return SameName(name, "admin") || (name.size() > 6 && SameName(name.substr(0, 6), "admin@"));
}

bool AccountList::ReadEntry(std::string_view stored_name, AccountListEntry& entry) {
    const auto path = AccountSettingsPathFor(stored_name);
    if (!path) return false;
    entry = AccountListEntry{};
    entry.Name = stored_name;
    const auto doc = ProfileFile(*path).Load();
    const auto text = [&](std::string_view key) { return doc->Find("System", key).value_or(""); };
    entry.Password = std::string(text("Password").substr(0, kMaxListedPassword));
    const int volume = AccountNumber(*doc, *path, "Volume", kDefaultListVolumeMb, kAccountVolumeRange);
    // A negative volume cannot be a size; it allows nothing rather than wrapping.
    entry.QuotaBytes = volume > 0 ? static_cast<std::uint64_t>(volume) * kBytesPerMb : 0;
    if (AccountNumber(*doc, *path, "Max", 0, kAccountSwitchRange) != 0) entry.QuotaBytes = kNoQuotaLimit;
    entry.Enabled = AccountNumber(*doc, *path, "Disabled", 0, kAccountSwitchRange) == 0 ? 1 : 0;
    entry.IsGroup = static_cast<std::uint16_t>(AccountNumber(*doc, *path, "IsGroup", 0, kAccountSwitchRange));
    entry.Permission = static_cast<std::uint16_t>(
        AccountNumber(*doc, *path, "Permission", IsAdminAccountName(stored_name) ? 1 : 0, kAccountPermissionRange));
    return true;
}

bool AccountList::Load() {
    std::vector<AccountListEntry> found;
    found.reserve(100);
    const std::string mail = MailFolderPath();
    for (const std::string& name : ListFolder(mail)) {
        if (name.front() == '_') continue;
        struct stat st {};
        if (::stat(JoinPath(mail, name).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
        AccountListEntry entry;
        if (ReadEntry(name, entry))
            found.push_back(std::move(entry));
        else
            QUORVEX_ERROR_LOG("skipping mail folder with an unusable name: " + name);
    }
    std::lock_guard guard(lock_);
    entries_ = std::move(found);
    RebuildIndex();
    return true;
}

void AccountList::RebuildIndex() {
    index_.clear();
    index_.reserve(entries_.size());
    // The first entry of a name is the one found, as a search from the top.
    for (std::size_t i = 0; i < entries_.size(); ++i) index_.emplace(IndexKey(entries_[i].Name), i);
}

int AccountList::IndexOf(std::string_view name) const {
    const auto found = index_.find(IndexKey(name));
    return found == index_.end() ? -1 : static_cast<int>(found->second);
}

bool AccountList::Exists(std::string_view name) const {
    std::lock_guard guard(lock_);
    return IndexOf(name) >= 0;
}

bool AccountList::Add(std::string_view name) {
    AccountListEntry entry;
    if (!ReadEntry(name, entry)) return false;
    std::lock_guard guard(lock_);
    index_.emplace(IndexKey(entry.Name), entries_.size());
    entries_.push_back(std::move(entry));
    return true;
}

bool AccountList::Remove(std::string_view name) {
    std::lock_guard guard(lock_);
    const int i = IndexOf(name);
    if (i < 0) return false;
    entries_.erase(entries_.begin() + i);
    RebuildIndex();
    return true;
}

bool AccountList::Refresh(std::string_view name) {
    const std::string stored = StoredName(name);
    AccountListEntry entry;
    if (!ReadEntry(stored, entry)) return false;
    std::lock_guard guard(lock_);
    const int i = IndexOf(name);
    if (i < 0) return false;
    entries_[static_cast<std::size_t>(i)] = std::move(entry);
    return true;
}

int AccountList::GetCount() const {
    std::lock_guard guard(lock_);
    return static_cast<int>(entries_.size());
}

std::optional<std::string> AccountList::GetName(int index) const {
    std::lock_guard guard(lock_);
    if (index < 0 || static_cast<std::size_t>(index) >= entries_.size()) return std::nullopt;
    return entries_[static_cast<std::size_t>(index)].Name;
}

std::vector<std::string> AccountList::Names() const {
    std::lock_guard guard(lock_);
    std::vector<std::string> names;
    names.reserve(entries_.size());
    for (const auto& entry : entries_) names.push_back(entry.Name);
    return names;
}

std::optional<std::string> AccountList::GetPassword(std::string_view name) const {
    std::lock_guard guard(lock_);
    const int i = IndexOf(name);
    if (i < 0) return std::nullopt;
    return entries_[static_cast<std::size_t>(i)].Password;
}

std::uint64_t AccountList::GetQuotaBytes(std::string_view name) const {
    std::lock_guard guard(lock_);
    const int i = IndexOf(name);
    return i < 0 ? 0 : entries_[static_cast<std::size_t>(i)].QuotaBytes;
}

bool AccountList::IsDisabled(std::string_view name) const {
    std::lock_guard guard(lock_);
    const int i = IndexOf(name);
    return i >= 0 && entries_[static_cast<std::size_t>(i)].Enabled == 0;
}

int AccountList::IsGroup(std::string_view name) const {
    std::lock_guard guard(lock_);
    const int i = IndexOf(name);
    return i < 0 ? 0 : entries_[static_cast<std::size_t>(i)].IsGroup;
}

int AccountList::GetPermission(std::string_view name) const {
    std::lock_guard guard(lock_);
    const int i = IndexOf(name);
    return i < 0 ? 0 : entries_[static_cast<std::size_t>(i)].Permission;
}

std::string AccountList::StoredName(std::string_view name) const {
    std::lock_guard guard(lock_);
    const int i = IndexOf(name);
    return i < 0 ? std::string(name) : entries_[static_cast<std::size_t>(i)].Name;
}

std::optional<std::string> AccountList::GetSettingsPath(std::string_view name) const {
    if (!IsValidAccountName(name)) return std::nullopt;
    return AccountSettingsPathFor(StoredName(name));
}

std::optional<std::string> AccountList::GetFolderPath(std::string_view name) const {
    if (!IsValidAccountName(name)) return std::nullopt;
    return AccountFolderPathFor(StoredName(name));
}

AccountList& Accounts() {
    static AccountList list;
    return list;
}

}  // namespace quorvex
