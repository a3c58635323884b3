#include "gui/logic/AdminSettings.h"

#include <optional>

#include "accountserver/AdministratorPassword.h"
#include "common/PasswordDigest.h"
#include "common/ProfileFile.h"
#include "common/SettingRanges.h"

namespace quorvex::gui {

namespace {

// `limit`: how many characters of the stored digest the dialog reads.
bool PasswordMatches(const std::string& config_ini, std::string_view entered, std::size_t limit) {
    const std::string digest = HashAccountPassword(entered, 1);
    if (accountserver::AdministratorPasswordUnreadable(config_ini)) return false;
    std::optional<std::string> stored = accountserver::StoredAdministratorDigest(config_ini);
    if (!stored) return entered.empty() || digest == accountserver::kDefaultAdministratorPassword;
    if (stored->size() > limit) stored->resize(limit);
    return digest == *stored;
}

}  // namespace

bool VerifyAdminPassword(const std::string& config_ini, std::string_view entered) {
    return PasswordMatches(config_ini, entered, kStoredPasswordReadLength);
}

PasswordChange ChangeAdminPassword(const std::string& config_ini, std::string_view old_password,
                                   std::string_view new_password, std::string_view confirmation) {
    if (accountserver::AdministratorPasswordUnreadable(config_ini)) return PasswordChange::kUnreadable;
    // The change dialog reads the stored digest into 77 characters.
    if (!PasswordMatches(config_ini, old_password, 76)) return PasswordChange::kWrongOld;
    if (new_password != confirmation) return PasswordChange::kMismatch;
    if (!ProfileFile(config_ini).WriteString("System", "Password", HashAccountPassword(new_password, 1))) {
        return PasswordChange::kWriteFailed;
    }
    return PasswordChange::kChanged;
}

std::optional<std::string> UnreadablePasswordText(const std::string& config_ini) {
    const auto failure = accountserver::AdministratorPasswordUnreadable(config_ini);
    if (!failure) return std::nullopt;
    return config_ini + " cannot be read (" + *failure +
           "), so the administrator password cannot be checked or changed; nothing was written.";
}

int ReadCloseMode(const std::string& config_ini) {
    return NumberOrDefault(*ProfileFile(config_ini).Load(), "system", "CloseMode", kCloseModeShutdown,
                           kCloseModeRange);
}

bool WriteCloseMode(const std::string& config_ini, int mode) {
    if (mode != kCloseModeHide && mode != kCloseModeShutdown) return false;
    return ProfileFile(config_ini).WriteInt("system", "CloseMode", mode);
}

}  // namespace quorvex::gui
