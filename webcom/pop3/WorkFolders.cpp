// User and work folders.
#include "webcom/pop3/WorkFolders.h"

#include <dirent.h>
#include <sys/stat.h>

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

constexpr std::size_t kWorkFolderNameBytes = 16;

// A new work folder in the user folder `path`; empty without a name.
std::string MakeNewWorkFolder(const std::string& path) {
    const std::string name = NewWorkFolderName();
    if (name.empty()) return {};
    const std::string work = JoinPath(path, name);
    MakeWorkFolder(work);
    return work;
}

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

std::string NewWorkFolderName() { return RandomHexText(kWorkFolderNameBytes); }

bool IsWorkFolderName(std::string_view name) {
    return name.size() == 2 * kWorkFolderNameBytes &&
           name.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

bool MakeWorkFolder(const std::string& path) { return MakeFolders(path, kSharedFolderMode); }

std::string ResetUserFolder(const std::string& root, const std::string& user_folder) {
    const std::string path = JoinPath(root, user_folder);
    DeleteFolderTree(path);
    return MakeNewWorkFolder(path);
}

std::string ChooseWorkFolder(const std::string& root, const std::string& user_folder) {
    const std::string path = JoinPath(root, user_folder);
    MakeWorkFolder(path);
    if (std::unique_ptr<DIR, DirCloser> dir(::opendir(path.c_str())); dir) {
        while (const dirent* entry = ::readdir(dir.get())) {
            if (!IsWorkFolderName(entry->d_name)) continue;
            const std::string candidate = JoinPath(path, entry->d_name);
            struct stat st {};
            if (::lstat(candidate.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return candidate;
        }
    }
    return MakeNewWorkFolder(path);
}

}  // namespace quorvex::webcom::pop3
