// User and work folders.
#include "webcom/pop3/WorkFolders.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstring>
#include <memory>

#include "common/AccountName.h"
#include "common/FolderTree.h"
#include "common/Paths.h"
#include "common/RandomText.h"

namespace quorvex::webcom::pop3 {
namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

std::optional<std::string> UserFolderName(std::string_view user_text) {
    const std::string_view user = user_text.substr(0, user_text.find(':'));
    if (!IsValidAccountName(user)) return std::nullopt;
    std::string name(user);
    for (char& c : name)
        if (c == '.') c = '-';
    return name;
}

LogoutAction DecideLogout(std::string_view user_text, std::string_view logged_in_user) {
    if (user_text.size() >= kMaxLogoutText) return LogoutAction::kIgnore;
    if (!UserFolderName(user_text)) return LogoutAction::kIllegalAccount;
    if (logged_in_user.empty()) return LogoutAction::kNotLoggedIn;
    if (!SameName(user_text.substr(0, user_text.find(':')), logged_in_user)) return LogoutAction::kOtherAccount;
    return LogoutAction::kDeleteOwn;
}

std::string NewWorkFolderName() { return RandomHexText(16); }

bool MakeWorkFolder(const std::string& path) { return MakeFolders(path, kSharedFolderMode); }

bool ResetUserFolder(const std::string& root, const std::string& user_folder) {
    const std::string path = JoinPath(root, user_folder);
    DeleteFolderTree(path);
    const std::string work = NewWorkFolderName();
    return !work.empty() && MakeWorkFolder(JoinPath(path, work));
}

std::string ChooseWorkFolder(const std::string& root, const std::string& user_folder) {
    const std::string path = JoinPath(root, user_folder);
    MakeWorkFolder(path);
    std::unique_ptr<DIR, DirCloser> dir(::opendir(path.c_str()));
    if (!dir) return path;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        const std::string candidate = JoinPath(path, entry->d_name);
        struct stat st {};
        if (::lstat(candidate.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return candidate;
    }
    return path;
}

}  // namespace quorvex::webcom::pop3
