// Where an account lives on disk: its folder "<program folder>/mail/<name>"
// and its settings file "maillist.ini" inside it, and the one lock that
// guards every account settings file. Names are checked here, so no name
// that could leave the mail folder ever becomes a path.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace quorvex {

// Account paths are kept to 260 characters (a longer one is refused).
inline constexpr std::size_t kMaxAccountPathLength = 260;
inline constexpr std::string_view kAccountSettingsFile = "maillist.ini";

// The folder holding all accounts: "<program folder>/mail".
std::string MailFolderPath();

// Paths for a name already in its stored spelling (the folder's own name).
// Empty when the name is not a valid account name or the path is too long:
// the folder test adds the lengths of the program folder and the name only,
// the settings test counts the whole path.
std::optional<std::string> AccountFolderPathFor(std::string_view stored_name);
std::optional<std::string> AccountSettingsPathFor(std::string_view stored_name);

// The same for a name as a client typed it: mapped to the listed account's
// stored spelling first (names compare without regard to case, Linux paths
// do not). An unlisted name is used as given. Takes the account-list lock
// briefly, so callers build paths before taking the mailbox lock.
std::optional<std::string> GetAccountFolderPath(std::string_view account);
std::optional<std::string> GetAccountSettingsPath(std::string_view account);

// Guards every read and write of any account's "maillist.ini". Lock order:
// this lock first, then the account-list lock; never the reverse.
std::mutex& AccountIniLock();

}  // namespace quorvex
