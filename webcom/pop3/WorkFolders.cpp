// User and work folders.
#include "webcom/pop3/WorkFolders.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "common/AccountName.h"
#include "common/AtomicFile.h"
#include "common/FolderTree.h"
#include "common/Paths.h"
#include "common/RandomText.h"

namespace quorvex::webcom::pop3 {
namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

constexpr std::size_t kWorkFolderNameBytes = 16;

// Whether what has no owner file in this user folder is the account's: a
// folder made before owner files existed could be another account's only
// where the earlier names (every "." a "-") could have made this name.
bool UnrecordedIsOwn(std::string_view user_folder) {
    return user_folder.find('.') != std::string_view::npos || user_folder.find('-') == std::string_view::npos;
}

enum class Owner { kUnrecorded, kAccount, kOther };

// The owner file of a work folder, compared with `account`. A file that is
// there but cannot be read as a name counts as another account's.
Owner OwnerOf(const std::string& work_folder, std::string_view account) {
    const std::string path = JoinPath(work_folder, kOwnerFileName);
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT ? Owner::kUnrecorded : Owner::kOther;
    std::string owner;
    if (!S_ISREG(st.st_mode) || !ReadWholeFile(path, owner)) return Owner::kOther;
    return SameName(owner, account) ? Owner::kAccount : Owner::kOther;
}

bool IsRealFolder(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Whether the entry `name` of the user folder `path` of `account` belongs
// to the account.
bool BelongsTo(const std::string& path, const std::string& account, const std::string& name) {
    const std::string entry = JoinPath(path, name);
    const Owner owner = IsWorkFolderName(name) && IsRealFolder(entry) ? OwnerOf(entry, account) : Owner::kUnrecorded;
    return owner == Owner::kAccount || (owner == Owner::kUnrecorded && UnrecordedIsOwn(account));
}

std::vector<std::string> EntryNames(const std::string& path) {
    std::vector<std::string> names;
    if (std::unique_ptr<DIR, DirCloser> dir(::opendir(path.c_str())); dir) {
        while (const dirent* entry = ::readdir(dir.get())) {
            const std::string_view name = entry->d_name;
            if (name != "." && name != "..") names.emplace_back(name);
        }
    }
    return names;
}

// A new work folder of `account` in the user folder `path`; empty without
// a name. A folder whose owner file cannot be written is removed again:
// no later login could tell whose it is.
std::string MakeNewWorkFolder(const std::string& path, std::string_view account) {
    const std::string name = NewWorkFolderName();
    if (name.empty()) return {};
    const std::string work = JoinPath(path, name);
    if (MakeWorkFolder(work) && !AtomicWriteFile(JoinPath(work, kOwnerFileName), account, kSharedFileMode))
        DeleteFolderTree(work);
    return work;
}

}  // namespace

std::optional<std::string> UserFolderName(std::string_view user_text) {
    const std::string_view user = user_text.substr(0, user_text.find(':'));
    if (!IsValidAccountName(user)) return std::nullopt;
    return std::string(user);
}

UserFolderAction DecideUserFolderCall(std::string_view user_text, std::string_view logged_in_user) {
    if (user_text.size() >= kMaxLogoutText) return UserFolderAction::kIgnore;
    if (!UserFolderName(user_text)) return UserFolderAction::kIllegalAccount;
    if (logged_in_user.empty()) return UserFolderAction::kNotLoggedIn;
    if (!SameName(user_text.substr(0, user_text.find(':')), logged_in_user)) return UserFolderAction::kOtherAccount;
    return UserFolderAction::kOwn;
}

std::string NewWorkFolderName() { return RandomHexText(kWorkFolderNameBytes); }

bool IsWorkFolderName(std::string_view name) {
    return name.size() == 2 * kWorkFolderNameBytes &&
           name.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

bool MakeWorkFolder(const std::string& path) { return MakeFolders(path, kSharedFolderMode); }

namespace {

// Deletes what belongs to the account in the user folder `folder` (one of
// its spellings).
void DeleteOwnedIn(const std::string& root, const std::string& folder) {
    const std::string path = JoinPath(root, folder);
    if (!IsRealFolder(path)) return;  // a link leads out of the work root
    for (const std::string& name : EntryNames(path)) {
        if (!BelongsTo(path, folder, name)) continue;
        const std::string entry = JoinPath(path, name);
        if (IsRealFolder(entry)) DeleteFolderTree(entry);
        else ::unlink(entry.c_str());
    }
    ::rmdir(path.c_str());  // only once nothing of another account is left in it
}

}  // namespace

void DeleteUserFolder(const std::string& root, const std::string& account) {
    // Names compare without regard to case: every spelling is this account.
    DeleteOwnedIn(root, account);
    for (const std::string& name : EntryNames(root))
        if (name != account && SameName(name, account)) DeleteOwnedIn(root, name);
}

std::string ResetUserFolder(const std::string& root, const std::string& account) {
    DeleteUserFolder(root, account);
    const std::string path = JoinPath(root, account);
    MakeWorkFolder(path);
    return MakeNewWorkFolder(path, account);
}

std::string ChooseWorkFolder(const std::string& root, const std::string& account) {
    const std::string path = JoinPath(root, account);
    MakeWorkFolder(path);
    for (const std::string& name : EntryNames(path)) {
        if (IsWorkFolderName(name) && IsRealFolder(JoinPath(path, name)) && BelongsTo(path, account, name))
            return JoinPath(path, name);
    }
    return MakeNewWorkFolder(path, account);
}

}  // namespace quorvex::webcom::pop3
