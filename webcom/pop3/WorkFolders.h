// The per-user work area below the POP3 work root, which the web server
// publishes as "/maildata" without a login: a user folder per account,
// holding one work folder with an unguessable name, holding one folder per
// fetched message. Nothing is ever written directly into a user folder,
// whose name anyone can guess. A user text becomes a folder name only when
// it is a valid account name, so no text can reach a folder outside the
// root or another user's.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quorvex::webcom::pop3 {

// The user folder's name for a login or user text: the text before its
// first ":" with every "." turned into "-". Nothing when that part is not
// a valid account name.
std::optional<std::string> UserFolderName(std::string_view user_text);

// What Logout does with a user text.
enum class LogoutAction {
    kIgnore,          // a text of kMaxLogoutText characters or more: nothing
    kIllegalAccount,  // the text names no valid account
    kNotLoggedIn,     // the object never logged in: nothing is deleted
    kOtherAccount,    // another account than the one logged in
    kDeleteOwn,       // the user folder of the account logged in goes
};

inline constexpr std::size_t kMaxLogoutText = 4097;

// The action for Logout(user_text) by an object logged in as
// `logged_in_user` (the account part of its login text; empty when it
// never logged in). Accounts compare without regard to case.
LogoutAction DecideLogout(std::string_view user_text, std::string_view logged_in_user);

// A fresh work folder name: 128 random bits as 32 hexadecimal digits
// (everything below the root is served without a login, so the name is
// the only key). Empty if the system has no random bytes to give.
std::string NewWorkFolderName();

// Whether a folder name is one NewWorkFolderName gives.
bool IsWorkFolderName(std::string_view name);

// Deletes the user folder with everything in it and makes it again with a
// new work folder inside. The new work folder's path; empty when no name
// could be made for it.
std::string ResetUserFolder(const std::string& root, const std::string& user_folder);

// The work folder a login uses: the first subfolder of the user folder
// that bears a work folder name (in the order the file system lists them;
// links and other names are skipped), or else a new one, made here. The
// path even when it could not be made (a later file creation reports
// why); empty when no name could be made for it.
std::string ChooseWorkFolder(const std::string& root, const std::string& user_folder);

// A folder of the work area: group-readable so the web server's group may
// serve and clean it, never world-writable.
bool MakeWorkFolder(const std::string& path);

}  // namespace quorvex::webcom::pop3
