#include "gui/logic/AdminSettings.h"

#include "accountserver/SysAdminSession.h"
#include "common/PasswordDigest.h"
#include "common/ProfileFile.h"

namespace quorvex::gui {

namespace {

std::string StoredDigest(const std::string& config_ini, std::size_t limit) {
    std::string stored = ReadProfileString(config_ini, "System", "Password",
                                           accountserver::kDefaultAdministratorPassword);
    if (stored.size() > limit) stored.resize(limit);
    return stored;
}

}  // namespace

bool VerifyAdminPassword(const std::string& config_ini, std::string_view entered) {
    return HashAccountPassword(entered, 1) == StoredDigest(config_ini, kStoredPasswordReadLength);
}

PasswordChange ChangeAdminPassword(const std::string& config_ini, std::string_view old_password,
                                   std::string_view new_password, std::string_view confirmation) {
    // The change dialog reads the stored digest into 77 characters.
    if (HashAccountPassword(old_password, 1) != StoredDigest(config_ini, 76)) return PasswordChange::kWrongOld;
    if (new_password != confirmation) return PasswordChange::kMismatch;
    if (!ProfileFile(config_ini).WriteString("System", "Password", HashAccountPassword(new_password, 1))) {
        return PasswordChange::kWriteFailed;
    }
    return PasswordChange::kChanged;
}

int ReadCloseMode(const std::string& config_ini) {
    const int mode = ReadProfileInt(config_ini, "system", "CloseMode", kCloseModeShutdown);
    return mode == kCloseModeHide ? kCloseModeHide : kCloseModeShutdown;
}

bool WriteCloseMode(const std::string& config_ini, int mode) {
    if (mode != kCloseModeHide && mode != kCloseModeShutdown) return false;
    return ProfileFile(config_ini).WriteInt("system", "CloseMode", mode);
}

}  // namespace quorvex::gui
