// Every account of the server in memory: name, stored password digest,
// quota and flags, so the per-connection checks never touch the disk.
// Filled once at start-up from the mail folder and kept current by account
// creation, update and deletion. One lock guards it; when the account-file
// lock is needed too, that one is taken first.
#pragma once

#include <cstdint>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quorvex {

// Quota of an account whose [System] Max is set: no limit.
inline constexpr std::uint64_t kNoQuotaLimit = std::numeric_limits<std::uint64_t>::max();
inline constexpr int kDefaultListVolumeMb = 20;

struct AccountListEntry {
    std::string Name;      // the stored spelling: the account folder's name
    std::string Password;  // [System] Password, at most 76 characters
    // [System] Volume in MB as bytes (64-bit: volumes of 4 GiB and more
    // stay exact), or kNoQuotaLimit.
    std::uint64_t QuotaBytes = 0;
    std::uint16_t Enabled = 0;
    std::uint16_t IsGroup = 0;
    std::uint16_t Permission = 0;
};

class AccountList {
public:
    // Rebuilds the list from the folders below the mail folder; folders
    // whose name begins with "_" or is not a valid account name are skipped.
    bool Load();

    bool Exists(std::string_view name) const;
    // Reads the entry from the account's file and appends it.
    bool Add(std::string_view name);
    bool Remove(std::string_view name);
    // Reads the entry again into its place.
    bool Refresh(std::string_view name);

    int GetCount() const;
    std::optional<std::string> GetName(int index) const;
    std::optional<std::string> GetPassword(std::string_view name) const;
    std::uint64_t GetQuotaBytes(std::string_view name) const;  // 0 when not listed
    bool IsDisabled(std::string_view name) const;
    int IsGroup(std::string_view name) const;
    int GetPermission(std::string_view name) const;
    // All names at one moment (walks that must not miss or repeat a name).
    std::vector<std::string> Names() const;

    // The listed spelling of a name, or the name as given when not listed.
    std::string StoredName(std::string_view name) const;

    std::optional<std::string> GetSettingsPath(std::string_view name) const;
    std::optional<std::string> GetFolderPath(std::string_view name) const;

    // Fills an entry from the "maillist.ini" of the account whose folder is
    // named stored_name. False for an invalid name or a path too long. Takes
    // no lock.
    static bool ReadEntry(std::string_view stored_name, AccountListEntry& entry);

private:
    int IndexOf(std::string_view name) const;  // caller holds lock_
    void RebuildIndex();                       // caller holds lock_

    mutable std::mutex lock_;
    std::vector<AccountListEntry> entries_;
    // Lower-cased name -> position in entries_: a lookup costs the same
    // with ten accounts or ten thousand.
    std::unordered_map<std::string, std::size_t> index_;
};

// The process's account list (owned by the application for the whole run).
AccountList& Accounts();

// "admin" and names beginning "admin@", in any case: created with
// Permission 1.
bool IsAdminAccountName(std::string_view name);

}  // namespace quorvex
