// Locked, atomic access to an account's "maillist.ini".
#include "mailmodel/account/AccountSettingsFile.h"

#include "common/ProfileFile.h"
#include "mailmodel/account/AccountFolders.h"

namespace quorvex {

std::shared_ptr<const IniDocument> LoadAccountSettings(std::string_view account) {
    const auto path = GetAccountSettingsPath(account);
    if (!path) return nullptr;
    std::lock_guard guard(AccountIniLock());
    return ProfileFile(*path).Load();
}

bool EditAccountSettings(std::string_view account, const std::function<bool(IniDocument&)>& change) {
    const auto path = GetAccountSettingsPath(account);
    if (!path) return false;
    std::lock_guard guard(AccountIniLock());
    return ProfileFile(*path).Edit(change);
}

bool IsStorableValue(std::string_view text) { return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos; }

std::string ReadValue(const IniDocument& doc, std::string_view section, std::string_view key, std::size_t limit,
                      std::string_view default_value) {
    return std::string(doc.Find(section, key).value_or(default_value).substr(0, limit));
}

}  // namespace quorvex
