#include "accountserver/AdministratorPassword.h"

#include "common/PasswordDigest.h"
#include "common/ProfileFile.h"

namespace quorvex::accountserver {

std::optional<std::string> StoredAdministratorDigest(const std::string& config_ini) {
    std::string stored = ReadProfileString(config_ini, "System", "Password", "");
    if (stored.empty()) return std::nullopt;
    return stored;
}

std::optional<std::string> AdministratorPasswordUnreadable(const std::string& config_ini) {
    return ProfileFile(config_ini).ReadFailure();
}

bool NetworkAdministratorPasswordMatches(const std::string& config_ini, std::string_view entered) {
    // The digest is computed for every attempt, so an empty password takes
    // as long to refuse as a wrong one.
    const std::string digest = HashAccountPassword(entered, 1);
    const std::string stored =
        StoredAdministratorDigest(config_ini).value_or(std::string(kDefaultAdministratorPassword));
    return !entered.empty() && digest == stored;
}

std::string_view NetworkPasswordRefusal(std::string_view password) {
    if (password.empty()) return kReplyUpdateFailed;
    if (password.find('#') != std::string_view::npos) return kReplyPasswordIllegalLetter;
    if (password.size() > kMaxNetworkAdministratorPassword) return kReplyPasswordTooLong;
    return {};
}

}  // namespace quorvex::accountserver
