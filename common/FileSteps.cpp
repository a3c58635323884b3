// Durable-write steps with an optional watcher in front of each.
#include "common/FileSteps.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "common/AtomicFile.h"
#include "common/TemporaryFile.h"

namespace quorvex::fs {

namespace {

std::atomic<const StepWatcher*> g_watcher{nullptr};

// False (errno set) when a watcher fails the step.
bool Allowed(Step step, std::string_view path) {
    const StepWatcher* watcher = g_watcher.load(std::memory_order_acquire);
    if (watcher == nullptr) return true;
    const int error = (*watcher)(step, path);
    if (error == 0) return true;
    errno = error;
    return false;
}

}  // namespace

std::string_view StepName(Step step) {
    switch (step) {
        case Step::kCreate: return "create";
        case Step::kWrite: return "write";
        case Step::kSync: return "sync";
        case Step::kClose: return "close";
        case Step::kRename: return "rename";
        case Step::kUnlink: return "unlink";
        case Step::kSyncFolder: break;
    }
    return "sync-folder";
}

ScopedStepWatcher::ScopedStepWatcher(StepWatcher watcher) : watcher_(std::move(watcher)) {
    g_watcher.store(&watcher_, std::memory_order_release);
}

ScopedStepWatcher::~ScopedStepWatcher() { g_watcher.store(nullptr, std::memory_order_release); }

UniqueFd CreateNew(const std::string& path, mode_t mode) {
    if (!Allowed(Step::kCreate, path)) return UniqueFd();
    return UniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
}

UniqueFd CreateTemporary(std::string& name_template) {
    if (!Allowed(Step::kCreate, name_template)) return UniqueFd();
    TemporaryFile file = TemporaryFile::Create(name_template);
    if (!file.holds_file()) return UniqueFd();
    name_template = file.path();
    UniqueFd fd = std::move(file.fd());
    file.Release();
    return fd;
}

UniqueFd CreateUnnamed(const std::string& folder, std::string_view label) {
    if (!Allowed(Step::kCreate, label)) return UniqueFd();
    return UniqueFd(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
}

bool LinkNew(int fd, const std::string& to) {
    if (!Allowed(Step::kRename, to)) return false;
    // Through /proc as any user may; AT_EMPTY_PATH (which needs a
    // privilege) where /proc is missing.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, to.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
    return errno == ENOENT && ::linkat(fd, "", AT_FDCWD, to.c_str(), AT_EMPTY_PATH) == 0;
}

bool WriteAll(int fd, std::string_view bytes, std::string_view path) {
    return Allowed(Step::kWrite, path) && WriteFully(fd, bytes);
}

bool Sync(int fd, std::string_view path) { return Allowed(Step::kSync, path) && ::fsync(fd) == 0; }

bool SyncData(int fd, std::string_view path) { return Allowed(Step::kSync, path) && ::fdatasync(fd) == 0; }

bool Close(UniqueFd& fd, std::string_view path) {
    if (!Allowed(Step::kClose, path)) {
        const int error = errno;
        fd.reset();
        errno = error;
        return false;
    }
    return fd.close_checked();
}

bool Rename(const std::string& from, const std::string& to) {
    return Allowed(Step::kRename, to) && std::rename(from.c_str(), to.c_str()) == 0;
}

bool RenameNew(const std::string& from, const std::string& to) {
    return Allowed(Step::kRename, to) && ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}

bool Unlink(const std::string& path) { return Allowed(Step::kUnlink, path) && ::unlink(path.c_str()) == 0; }

bool SyncFolder(const std::string& folder) {
    const std::string name = folder.empty() ? "." : folder;
    if (!Allowed(Step::kSyncFolder, name)) return false;
    UniqueFd dir(::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return dir && ::fsync(dir.get()) == 0;
}

}  // namespace quorvex::fs
