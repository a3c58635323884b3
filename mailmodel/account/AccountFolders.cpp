// Account folder and settings paths, and the account-file lock.
#include "mailmodel/account/AccountFolders.h"

#include "common/AccountName.h"
#include "common/Paths.h"
#include "mailmodel/account/AccountList.h"

namespace quorvex {

std::string MailFolderPath() { return JoinPath(ProgramFolder(), "mail"); }

std::optional<std::string> AccountFolderPathFor(std::string_view stored_name) {
    if (!IsValidAccountName(stored_name)) return std::nullopt;
    if (ProgramFolder().size() + stored_name.size() > kMaxAccountPathLength) return std::nullopt;
    return JoinPath(MailFolderPath(), stored_name);
}

std::optional<std::string> AccountSettingsPathFor(std::string_view stored_name) {
    if (!IsValidAccountName(stored_name)) return std::nullopt;
    std::string path = JoinPath(MailFolderPath(), stored_name, kAccountSettingsFile);
    if (path.size() > kMaxAccountPathLength) return std::nullopt;
    return path;
}

std::optional<std::string> GetAccountFolderPath(std::string_view account) {
    return Accounts().GetFolderPath(account);
}

std::optional<std::string> GetAccountSettingsPath(std::string_view account) {
    return Accounts().GetSettingsPath(account);
}

std::mutex& AccountIniLock() {
    static std::mutex lock;
    return lock;
}

}  // namespace quorvex
