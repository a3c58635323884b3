// The administrator password of the window's password gate and the
// remembered close choice, both in config.ini. The password is kept as
// its digest ([System] Password), the key the account server's
// administrator login checks too. While no password is set the window
// takes the empty one (as its Log on dialog says) and, as before, the
// password of the built-in default digest.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvex::gui {

// The stored digest is read with at most this many characters.
inline constexpr std::size_t kStoredPasswordReadLength = 260;

// True when the digest of `entered` equals the stored digest (read anew at
// every call, so a change counts at once), or when none is stored and
// `entered` is empty. Letter case counts. Never while config.ini is there
// but cannot be read: that is no file without a password.
bool VerifyAdminPassword(const std::string& config_ini, std::string_view entered);

enum class PasswordChange {
    kChanged,
    kWrongOld,     // the old password does not match (as the Log on dialog checks it)
    kMismatch,     // new and confirmation differ
    kWriteFailed,  // config.ini could not be written
    kUnreadable,   // config.ini is there but cannot be read: nothing is checked or written
};
PasswordChange ChangeAdminPassword(const std::string& config_ini, std::string_view old_password,
                                   std::string_view new_password, std::string_view confirmation);

// What the password dialogs say while config.ini cannot be read (naming
// the file and the reason); nothing while it can.
std::optional<std::string> UnreadablePasswordText(const std::string& config_ini);

// [system] CloseMode: 0 hide the window, 1 shut the server down. Any other
// stored value (text included) reads as the default 1, and only 0 or 1 is ever written.
inline constexpr int kCloseModeHide = 0;
inline constexpr int kCloseModeShutdown = 1;
int ReadCloseMode(const std::string& config_ini);
bool WriteCloseMode(const std::string& config_ini, int mode);

}  // namespace quorvex::gui
