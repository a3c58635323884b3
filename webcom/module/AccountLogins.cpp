// The record of logins in this process.
#include "webcom/module/AccountLogins.h"

#include "common/AsciiCase.h"

namespace quorvex::webcom {

void AccountLogins::Record(std::string_view account, const std::string& work_folder) {
    std::lock_guard guard(lock_);
    work_folders_[AsciiLowerCase(account)] = work_folder;
}

void AccountLogins::Forget(std::string_view account) {
    std::lock_guard guard(lock_);
    work_folders_.erase(AsciiLowerCase(account));
}

std::optional<std::string> AccountLogins::WorkFolderOf(std::string_view account) const {
    std::lock_guard guard(lock_);
    const auto found = work_folders_.find(AsciiLowerCase(account));
    if (found == work_folders_.end()) return std::nullopt;
    return found->second;
}

}  // namespace quorvex::webcom
