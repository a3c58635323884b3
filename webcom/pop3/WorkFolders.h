// The per-user work area below the POP3 work root, which the web server
// publishes as "/maildata" without a login: a user folder per account,
// holding one work folder with an unguessable name, holding one folder per
// fetched message. Nothing is ever written directly into a user folder,
// whose name anyone can guess. A user text becomes a folder name only when
// it is a valid account name, so no text can reach a folder outside the
// root or another user's.
//
// Two accounts never share a user folder, and an account has one whatever
// case its logins use: its name is the account name as the server's
// account list spells it. Every work folder records the account that made
// it in its owner file, and only that account (in any case) ever works in
// it or deletes it. Work folders made before
// owner files existed have none; earlier user folder names turned every
// "." into "-", so such a folder is taken as the account's own only where
// no other account could have made it: in a user folder whose name holds
// no "-".
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quorvex::webcom::pop3 {

// The owner file inside a work folder.
inline constexpr std::string_view kOwnerFileName = ".owner";

// The account part of a login or user text: the text before its first
// ":" unchanged. Nothing when that part is not a valid account name.
std::optional<std::string> UserFolderName(std::string_view user_text);

// What Logout and CreateUserPath do with a user text.
enum class UserFolderAction {
    kIgnore,          // a text of kMaxLogoutText characters or more: nothing
    kIllegalAccount,  // the text names no valid account
    kNotLoggedIn,     // the object never logged in: nothing is deleted or made
    kOtherAccount,    // another account than the one logged in
    kOwn,             // the account logged in: its user folder
};

inline constexpr std::size_t kMaxLogoutText = 4097;

// The action for a user text given to an object logged in as
// `logged_in_user` (the account part of its login text; empty when it
// never logged in). Accounts compare without regard to case.
UserFolderAction DecideUserFolderCall(std::string_view user_text, std::string_view logged_in_user);

// A fresh work folder name: 128 random bits as 32 hexadecimal digits
// (everything below the root is served without a login, so the name is
// the only key). Empty if the system has no random bytes to give.
std::string NewWorkFolderName();

// Whether a folder name is one NewWorkFolderName gives.
bool IsWorkFolderName(std::string_view name);

// In the functions below `account` is a user folder name: the account name
// as the account list spells it.

// Deletes what belongs to the account in its user folder (its work
// folders with everything in them; the folder itself once nothing else is
// left) and makes a new work folder there, owned by the account. The new
// work folder's path; empty when no name could be made for it.
std::string ResetUserFolder(const std::string& root, const std::string& account);

// Deletes what belongs to the account in its user folder, as
// ResetUserFolder, and in every user folder of another spelling of its
// name (earlier versions named them as each login gave the name).
void DeleteUserFolder(const std::string& root, const std::string& account);

// The work folder a login of the account uses: the first subfolder of its
// user folder that bears a work folder name and belongs to the account (in
// the order the file system lists them; links, other names and folders of
// other accounts are skipped), or else a new one, made here. The path even
// when it could not be made (a later file creation reports why); empty
// when no name could be made for it.
std::string ChooseWorkFolder(const std::string& root, const std::string& account);

// A folder of the work area: group-readable so the web server's group may
// serve and clean it, never world-writable.
bool MakeWorkFolder(const std::string& path);

}  // namespace quorvex::webcom::pop3
