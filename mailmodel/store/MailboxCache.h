// The mailbox store's per-mailbox state inside this process, shared by the
// files of the store: each mailbox's lock, the cache of its parsed index
// (kept while the file on disk is unchanged), the totals as last committed
// with the body numbers handed out, and the queue of stores that wait for
// a grouped commit. Not for use outside mailmodel/store.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/AtomicFile.h"
#include "mailmodel/store/MailStore.h"
#include "mailmodel/store/MailboxFolder.h"
#include "mailmodel/store/MailboxIndex.h"

namespace quorvex::store {

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

IndexStamp StampOf(const struct stat& st);

struct PendingCommit;  // stores waiting for their commit (GroupedCommit.cpp)

// The index as last read or written by this process: what the quota check
// reads without waiting for a commit in flight.
struct CommittedIndex {
    std::string folder;  // empty until the mailbox was opened
    IndexStamp stamp;
    int messages = 0;
    std::int64_t bytes = 0;
};

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
    // Guarded by `lock`: the index as this process last wrote it or
    // reconciled it with its folder. Any other (a first open, a copy put
    // back, another writer's) is reconciled before it is believed.
    std::string trusted_folder;
    IndexStamp trusted_stamp;
    // Guarded by `lock`: bodies of committed deletions whose files could
    // not be removed yet (also kept in the record beside the index).
    std::string removals_folder;
    std::vector<std::int32_t> removals;
    // Guarded by `lock`: the bytes the spare beside the index was last
    // made to hold (0: none known).
    std::string spare_folder;
    std::int64_t spare_bytes = 0;
    // Set while a commit of copies for several mailboxes holds `lock`:
    // trimming the cache passes this mailbox over.
    std::atomic<bool> held_by_set{false};
    // Guarded by `lock`: the last UID kept beside the index of
    // `kept_uid_folder`, as this process last read or wrote it.
    std::string kept_uid_folder;
    std::uint32_t kept_uid = 0;

    // Taken for a moment only, never while waiting for anything: the
    // committed totals.
    std::mutex totals_lock;
    CommittedIndex on_record;  // guarded by totals_lock
    std::int64_t held_bytes = 0;  // guarded by totals_lock: reserved for deliveries under way

    // Stores that wait for a commit. One of the waiting callers at a time
    // commits everything queued so far in one index rewrite, so callers
    // storing into one mailbox at once share the cost of the write.
    std::mutex queue_lock;
    std::condition_variable turn;       // a queued store may commit: the last commit let the mailbox go
    std::condition_variable committed;  // stores taken into a batch are finished
    std::vector<PendingCommit*> pending;  // guarded by queue_lock
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
// `written`, when given, receives the new file's status.
bool WriteIndex(const std::string& folder, const MailboxIndexFile& index, struct stat* written = nullptr);
// Writes `index` as the mailbox's index and keeps it as the cached copy.
bool WriteAndRemember(Mailbox& box, const std::string& folder, std::unique_ptr<MailboxIndexFile> index);
// The same for an index that no longer lists the bodies `removed`, which
// are then deleted: a body goes only once the index in place leaves it out,
// and the bodies still to remove are recorded beside the index before it
// is put in place. On a full file system the spare's blocks are let go for
// it, so that a deletion always frees space.
bool WriteAndRemove(Mailbox& box, const std::string& folder, std::unique_ptr<MailboxIndexFile> index,
                    const std::vector<std::int32_t>& removed);
// The first step of a commit that lists new bodies: the last UID it gives
// kept beside the index, and the index written and flushed under a
// temporary name, nothing in place yet. False (logged) when either cannot
// be written.
bool PrepareIndex(Mailbox& box, const std::string& folder, const MailboxIndexFile& index, PreparedFile& file);
// The second: the prepared index renamed into place and kept as the cached
// copy. The caller flushes the folder, once for the bodies renamed, the
// last UID and the index. False (logged, the cache dropped) when the
// rename fails.
bool InstallIndex(Mailbox& box, const std::string& folder, std::unique_ptr<MailboxIndexFile> index, PreparedFile& file);
// The mailbox's index as it is on disk, from the cache while the file is
// unchanged; a new one, listing the bodies found, is created when the
// folder exists but holds none. Null when it cannot be read or created, or
// is damaged. An index read from disk never numbers below the last UID
// kept beside it. An index this process did not write or reconcile itself
// (its first open of the mailbox, a copy put back, another writer's) is
// reconciled with the folder first: what interrupted stores left is swept,
// and the folder is believed over the index (MailboxReconcile.h).
// The caller holds `box.lock`; the result stays valid until the lock is
// released or the cache is written or dropped.
MailboxIndexFile* CurrentIndex(Mailbox& box, const std::string& folder);

// The committed totals, when the index on disk is still the one they were
// taken from; nothing when the mailbox was not opened yet, or its index
// was replaced since (a commit that is just finishing, another writer).
std::optional<CommittedIndex> CommittedIfCurrent(Mailbox& box, const std::string& folder);

// Makes sure the last UID kept beside the index is at least `uid` before
// an index that gives it is written: kept in blocks, so that most commits
// write nothing but the index. The file is flushed and renamed; the folder
// flush that makes the rename durable is the one after the index. False
// (logged) when it cannot be kept.
bool KeepUidsUpTo(Mailbox& box, const std::string& folder, std::uint32_t uid);

}  // namespace quorvex::store
