#include "gui/logic/DeletedAccounts.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "common/AccountName.h"
#include "common/FolderTree.h"
#include "common/Paths.h"
#include "mailmodel/account/AccountConfig.h"
#include "mailmodel/account/AccountFolders.h"
#include "mailmodel/account/AccountList.h"

namespace quorvex::gui {

namespace {

// A real folder (not a link) directly inside the mail folder, named "_...".
bool IsDeletedAccountFolder(const std::string& name) {
    if (name.size() < 2 || name[0] != '_' || !IsValidAccountName(name)) return false;
    struct stat status {};
    return ::lstat(JoinPath(MailFolderPath(), name).c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace

std::vector<DeletedAccount> ListDeletedAccounts() {
    std::vector<DeletedAccount> found;
    DIR* dir = ::opendir(MailFolderPath().c_str());
    if (dir == nullptr) return found;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (!IsDeletedAccountFolder(name)) continue;
        found.push_back({name, GetAccountUserName(name).value_or("")});
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.folder < b.folder; });
    return found;
}

RestoreResult RestoreDeletedAccount(const std::string& folder, const DomainTable& domains, AccountList& accounts) {
    if (!IsDeletedAccountFolder(folder)) return RestoreResult::kNotDeleted;
    const std::string name = folder.substr(1);
    if (!IsValidNewAccountName(name, domains)) return RestoreResult::kInvalidName;
    if (accounts.Exists(name)) return RestoreResult::kNameTaken;
    const std::string source = JoinPath(MailFolderPath(), folder);
    const std::string target = JoinPath(MailFolderPath(), name);
    // Never over a folder of that name, even an empty one.
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
        return errno == EEXIST ? RestoreResult::kNameTaken : RestoreResult::kMoveFailed;
    }
    accounts.Add(name);
    return RestoreResult::kRestored;
}

bool RemoveDeletedAccount(const std::string& folder) {
    if (!IsDeletedAccountFolder(folder)) return false;
    return DeleteFolderTree(JoinPath(MailFolderPath(), folder));
}

}  // namespace quorvex::gui
