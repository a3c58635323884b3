// What must hold before the program touches its folder: the folder can be
// written by the program and by no other user (UnsafeFolderProblem), and
// config.ini is there and readable (its values are checked as
// the settings are loaded). Each problem is one clear sentence naming the
// file or folder; nothing is written while checking.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace quorvex::app {

// A user's login name; nothing for a user without an entry.
std::optional<std::string> LoginNameOf(uid_t user);

// Empty when the program may start.
std::vector<std::string> CheckProgramFolder(const std::string& folder, const std::string& config_path);

// The sentence that refuses the program folder `folder` (whose status is
// `st`) when a local user other than its owner and root could put files
// of their own in it, in place of the lock, the control socket or the
// settings: it can be written by its group or by everyone (the sticky bit
// does not help: a name not yet taken is anyone's). It names the folder,
// its owner and its mode. Empty when the folder is safe. Its owner is
// trusted: root may run a switch on the folder of the service's user.
std::string UnsafeFolderProblem(const std::string& folder, const struct stat& st);

// Why a file cannot be read, for a sentence about it: the system's reason,
// naming the user it was refused to where it is a permission ("Permission
// denied for user nobody"), or that it is no regular file; empty when it
// can be read.
std::string ReadProblemReason(const std::string& path);

// The ports the listeners use and those the settings now give.
struct ListenerPorts {
    int smtp = 0;
    int pop3 = 0;
    int admin = 0;
};
// After a reload: where the settings now give other ports than those the
// listeners use, a sentence saying they take effect at the next start;
// empty when none changed (a 0 in use: that listener is not running).
std::string PortChangeNote(const ListenerPorts& in_use, const ListenerPorts& configured);

// One warning line when config.ini or an account's settings file
// (mail/<account>/maillist.ini) can be read by other users, naming them;
// nothing when every one is private.
std::optional<std::string> ReadableByOthersWarning(const std::string& config_path,
                                                   const std::vector<std::string>& account_settings_paths);

}  // namespace quorvex::app
