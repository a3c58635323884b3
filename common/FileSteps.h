// The steps of a durable write (create a file, write it, flush it, close
// it, rename it, remove it, flush its folder), each through one function.
// Tests install a watcher that sees every step in order and may fail any
// one of them, to show that a missing flush or a failed step is noticed.
// Without a watcher each function is the system call and nothing more.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <string_view>

#include "common/UniqueFd.h"

namespace quorvex::fs {

enum class Step { kCreate, kWrite, kSync, kClose, kRename, kUnlink, kSyncFolder };

// "create", "write", "sync", "close", "rename", "unlink", "sync-folder".
std::string_view StepName(Step step);

// Sees a step before it runs (for a rename, `path` is the target); returns
// 0 to let it run, or an errno value to fail it with (the step then does
// nothing and reports that error).
using StepWatcher = std::function<int(Step step, std::string_view path)>;

// Installs a watcher for its own lifetime (tests; one at a time). The
// watcher may be called from any thread that writes files meanwhile.
class ScopedStepWatcher {
public:
    explicit ScopedStepWatcher(StepWatcher watcher);
    ~ScopedStepWatcher();
    ScopedStepWatcher(const ScopedStepWatcher&) = delete;
    ScopedStepWatcher& operator=(const ScopedStepWatcher&) = delete;

private:
    StepWatcher watcher_;
};

// A new file that must not exist yet, write-only; invalid (errno set) when
// it exists or cannot be made.
UniqueFd CreateNew(const std::string& path, mode_t mode);
// A new file named after `name_template` (ending in "XXXXXX", replaced by
// the name made), read-write, owner-only.
UniqueFd CreateTemporary(std::string& name_template);
// A new file without a name in `folder` (O_TMPFILE), read-write,
// owner-only: nothing of it stays when it is closed unless it is linked.
// Invalid (errno set) when it cannot be made; EOPNOTSUPP or EISDIR when
// the file system or the kernel has no such files. The watcher sees it as
// a create of `label`.
UniqueFd CreateUnnamed(const std::string& folder, std::string_view label);
// Gives the unnamed file `fd` the name `to`, never over an existing file:
// false (errno EEXIST) when `to` exists. The watcher sees it as a rename.
bool LinkNew(int fd, const std::string& to);
// All of `bytes`, continuing short writes; false (errno set) on an error.
bool WriteAll(int fd, std::string_view bytes, std::string_view path);
bool Sync(int fd, std::string_view path);
// The same for the data and size only, not the times (fdatasync): for files
// rewritten in place. The watcher sees it as a sync.
bool SyncData(int fd, std::string_view path);
// Closes now, reporting a failed close (it can fail after good writes).
bool Close(UniqueFd& fd, std::string_view path);
bool Rename(const std::string& from, const std::string& to);
// The same, never over an existing file: false (errno EEXIST) when `to`
// exists. The watcher sees it as a rename.
bool RenameNew(const std::string& from, const std::string& to);
bool Unlink(const std::string& path);
// Flushes a folder so that a create or rename inside it is durable.
bool SyncFolder(const std::string& folder);

}  // namespace quorvex::fs
