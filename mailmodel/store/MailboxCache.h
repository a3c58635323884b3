// The mailbox store's per-mailbox state inside this process, shared by the
// files of the store: each mailbox's lock, the cache of its parsed index
// (kept while the file on disk is unchanged) and the queue of stores that
// wait for a grouped commit. Not for use outside mailmodel/store.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/Paths.h"
#include "mailmodel/store/MailStore.h"
#include "mailmodel/store/MailboxIndex.h"

namespace quorvex::store {

inline std::string IndexPath(const std::string& folder) { return JoinPath(folder, kMailboxIndexFile); }

inline std::string BodyPath(const std::string& folder, std::int32_t file_number) {
    return JoinPath(folder, std::to_string(file_number) + ".eml");
}

// What identifies one version of an index file. Every write replaces the
// file, so a rewrite by anyone is noticed by its new inode and times.
struct IndexStamp {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = -1;
    long long mtime_ns = -1;
    long long ctime_ns = -1;
    bool operator==(const IndexStamp&) const = default;
};

struct PendingAdd;  // a store waiting for its commit (GroupedCommit.cpp)

// What this process keeps per mailbox.
struct Mailbox {
    std::mutex lock;  // MailStoreLock
    // Guarded by `lock`: the index as last read or written, and the stamp
    // of the file it was read from or written to.
    std::string cached_folder;
    IndexStamp cached_stamp;
    std::unique_ptr<MailboxIndexFile> cached;
    std::atomic<bool> has_cache{false};
    std::atomic<std::uint64_t> last_use{0};

    // Stores that wait for a commit. One of the waiting callers at a time
    // commits everything queued so far in one index rewrite, so callers
    // storing into one mailbox at once share the cost of the write.
    std::mutex queue_lock;
    std::condition_variable committed;
    std::vector<PendingAdd*> pending;  // guarded by queue_lock
    bool committing = false;           // guarded by queue_lock

    void DropCache() {
        cached.reset();
        cached_folder.clear();
        has_cache = false;
    }
};

// The mailbox of an account (names compare without regard to case).
Mailbox& MailboxOf(std::string_view account);

// Reads and checks the index file. False when it cannot be read (errno
// tells why) or is damaged (logged, never rewritten).
bool ReadIndexFile(const std::string& path, MailboxIndexFile& index, struct stat& st);
// Writes an index file atomically; false (logged) when it cannot be written.
bool WriteIndex(const std::string& folder, const MailboxIndexFile& index);
// Writes `index` as the mailbox's index and keeps it as the cached copy.
bool WriteAndRemember(Mailbox& box, const std::string& folder, std::unique_ptr<MailboxIndexFile> index);
// The mailbox's index as it is on disk, from the cache while the file is
// unchanged; an empty one is created when the folder exists but holds
// none. Null when it cannot be read or created, or is damaged. The caller
// holds `box.lock`; the result stays valid until the lock is released or
// the cache is written or dropped.
MailboxIndexFile* CurrentIndex(Mailbox& box, const std::string& folder);

}  // namespace quorvex::store
