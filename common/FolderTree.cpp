// Tree removal through directory descriptors (openat/unlinkat with
// O_NOFOLLOW), so a link planted inside the tree, or a folder swapped for a
// link while we work, can never lead the removal outside it.
#include "common/FolderTree.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/UniqueFd.h"

namespace quorvex {

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

constexpr int kOpenFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Removes everything inside the open folder `folder_fd`.
void RemoveContents(int folder_fd) {
    const int listing_fd = ::dup(folder_fd);
    if (listing_fd < 0) return;
    std::unique_ptr<DIR, DirCloser> dir(::fdopendir(listing_fd));
    if (!dir) {
        ::close(listing_fd);
        return;
    }
    while (const dirent* entry = ::readdir(dir.get())) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        UniqueFd sub(::openat(folder_fd, name, kOpenFolderFlags));
        if (sub) {
            RemoveContents(sub.get());
            sub.reset();
            ::unlinkat(folder_fd, name, AT_REMOVEDIR);
        } else {
            // Files, links (O_NOFOLLOW refused them) and anything else.
            ::unlinkat(folder_fd, name, 0);
        }
    }
}

}  // namespace

bool DeleteFolderTree(const std::string& path) {
    UniqueFd folder(::open(path.c_str(), kOpenFolderFlags));
    if (!folder) return false;
    RemoveContents(folder.get());
    folder.reset();
    return ::rmdir(path.c_str()) == 0;
}

bool CreateFolderWithFullAccess(const std::string& path) {
    if (::mkdir(path.c_str(), kSharedFolderMode) == 0) {
        // The umask may have taken the group's bits.
        ::chmod(path.c_str(), kSharedFolderMode);
        return true;
    }
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool GrantFileFullAccess(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) return false;
    const mode_t wanted = S_ISDIR(st.st_mode) ? kSharedFolderMode : kSharedFileMode;
    const mode_t mode = (st.st_mode | wanted) & 07775;  // never world-writable
    return ::chmod(path.c_str(), mode) == 0;
}

bool ShareWithGroup(const std::string& path, const std::string& group, unsigned mode, std::string* reason) {
    const auto fail = [&](std::string text) {
        if (reason != nullptr) *reason = std::move(text);
        return false;
    };
    std::vector<char> buffer(16384);
    struct group entry {};
    struct group* found = nullptr;
    if (::getgrnam_r(group.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
        return fail("There is no group \"" + group + "\" on this machine.");
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return fail(path + ": " + std::strerror(errno) + ".");
    if (S_ISLNK(st.st_mode)) return fail(path + " is a symbolic link.");
    // The group first: a change of group may clear the set-group-ID bit.
    if (::lchown(path.c_str(), static_cast<uid_t>(-1), found->gr_gid) != 0) {
        const int error = errno;
        std::string text = "Giving " + path + " to the group \"" + group + "\" was refused: " + std::strerror(error);
        if (error == EPERM && ::geteuid() != 0)
            text += " (a process that is not root may only give its files to a group it is a member of)";
        return fail(text + ".");
    }
    if (::chmod(path.c_str(), static_cast<mode_t>(mode) & 07775) != 0)
        return fail(path + ": " + std::strerror(errno) + ".");
    return true;
}

}  // namespace quorvex
