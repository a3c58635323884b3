// The per-mailbox state of the store and its cache of parsed indexes.
#include "mailmodel/store/MailboxCache.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <unordered_map>

#include "common/AsciiCase.h"
#include "common/AtomicFile.h"
#include "common/ErrorLog.h"
#include "common/FileSteps.h"
#include "common/Paths.h"
#include "mailmodel/store/MailStore.h"
#include "mailmodel/store/MailboxReconcile.h"
#include "mailmodel/store/PendingRemovals.h"

namespace quorvex::store {

namespace {

// Parsed indexes are kept between calls for this many mailboxes at most
// (the ones used last), so a store costs no read of the whole index.
constexpr std::size_t kMaxCachedIndexes = 64;
// UIDs are kept beside the index this many ahead of the one needed, so
// that the file is written once in so many messages (a flush inside the
// mailbox's lock each time); an index put back or rebuilt skips at most
// so many.
constexpr std::uint32_t kUidBlock = 1024;

std::mutex registry_lock;
std::atomic<std::uint64_t> use_clock{0};

std::unordered_map<std::string, std::unique_ptr<Mailbox>>& Registry() {
    static auto* boxes = new std::unordered_map<std::string, std::unique_ptr<Mailbox>>;
    return *boxes;
}

// Keeps the number of cached indexes near the limit by dropping the one
// used longest ago. Called with `self.lock` held; other mailboxes are only
// tried, never waited for, so no two mailbox locks are ever waited on.
void MakeRoomInCache(Mailbox& self) {
    std::lock_guard guard(registry_lock);
    std::size_t cached = 0;
    Mailbox* oldest = nullptr;
    for (auto& [name, box] : Registry()) {
        if (box.get() == &self || !box->has_cache) continue;
        ++cached;
        if (box->held_by_set) continue;
        if (!oldest || box->last_use < oldest->last_use) oldest = box.get();
    }
    if (cached < kMaxCachedIndexes || !oldest || !oldest->lock.try_lock()) return;
    oldest->DropCache();
    oldest->lock.unlock();
}

// Keeps `index` as the mailbox's cached copy of the file just written or
// read at `path`; `st` is that file's status.
void Remember(Mailbox& box, const std::string& folder, std::unique_ptr<MailboxIndexFile> index, const struct stat& st) {
    if (!box.has_cache) MakeRoomInCache(box);
    CommittedIndex committed{folder, StampOf(st), 0, 0};
    for (int k = 0; k < kMailboxFolderCount; ++k) {
        committed.messages += index->header.MessageCount(k);
        committed.bytes += index->header.TotalBytes(k);
    }
    {
        std::lock_guard guard(box.totals_lock);
        box.on_record = std::move(committed);
    }
    box.cached = std::move(index);
    box.cached_folder = folder;
    box.cached_stamp = StampOf(st);
    box.trusted_folder = folder;
    box.trusted_stamp = box.cached_stamp;
    box.has_cache = true;
}

// Keeps a just written index as the cached copy; without its status (the
// file could not be looked at after the rename) the cache is dropped.
void RememberWritten(Mailbox& box, const std::string& folder, std::unique_ptr<MailboxIndexFile> index,
                     const struct stat& st) {
    if (st.st_ino != 0) {
        Remember(box, folder, std::move(index), st);
    } else {
        box.DropCache();
    }
}

// Adds `more` to the sorted body numbers `into`, each number once.
void AddNumbers(std::vector<std::int32_t>& into, const std::vector<std::int32_t>& more) {
    into.insert(into.end(), more.begin(), more.end());
    std::sort(into.begin(), into.end());
    into.erase(std::unique(into.begin(), into.end()), into.end());
}

// Keeps the spare beside the index big enough for an index of so many
// slots. Tried once for each size: on a full file system it waits for the
// next growth or for the space a deletion frees.
void KeepSpare(Mailbox& box, const std::string& folder, std::size_t slots) {
    const std::int64_t bytes = SpareBytesFor(slots);
    if (box.spare_folder == folder && box.spare_bytes >= bytes) return;
    HoldSpare(folder, bytes);
    box.spare_folder = folder;
    box.spare_bytes = bytes;
}

// Runs `write`; when it fails for want of space, lets the spare's blocks
// go and runs it once more.
template <typename Write>
bool WriteWithSpare(Mailbox& box, const std::string& folder, Write&& write) {
    if (write()) return true;
    if (errno != ENOSPC && errno != EDQUOT) return false;
    if (!ReleaseSpare(folder)) {
        errno = ENOSPC;
        return false;
    }
    box.spare_bytes = 0;
    QUORVEX_ERROR_LOG("file system full: the space held beside the index in " + folder + " let go for a deletion");
    return write();
}

// The bodies still to remove from an earlier commit of this process.
std::vector<std::int32_t>& RemovalsOf(Mailbox& box, const std::string& folder) {
    if (box.removals_folder != folder) {
        box.removals_folder = folder;
        box.removals.clear();
    }
    return box.removals;
}

}  // namespace

IndexStamp StampOf(const struct stat& st) {
    return {st.st_dev, st.st_ino, st.st_size,
            static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec,
            static_cast<long long>(st.st_ctim.tv_sec) * 1000000000LL + st.st_ctim.tv_nsec};
}

Mailbox& MailboxOf(std::string_view account) {
    const std::string key = AsciiLowerCase(account);
    std::lock_guard guard(registry_lock);
    auto& box = Registry()[key];
    if (!box) box = std::make_unique<Mailbox>();
    return *box;
}

bool ReadIndexFile(const std::string& path, MailboxIndexFile& index, struct stat& st) {
    std::string bytes;
    if (!ReadWholeFile(path, bytes, &st)) return false;
    std::string error;
    if (!ParseMailboxIndex(bytes, index, error)) {
        QUORVEX_ERROR_LOG("damaged mailbox index " + path + ": " + error);
        errno = EINVAL;
        return false;
    }
    return true;
}

bool WriteIndex(const std::string& folder, const MailboxIndexFile& index, struct stat* written) {
    if (AtomicWriteFile(IndexPath(folder), index.Encode(), 0600, written)) return true;
    QUORVEX_ERROR_LOG("cannot write mailbox index in " + folder);
    return false;
}

bool WriteAndRemove(Mailbox& box, const std::string& folder, std::unique_ptr<MailboxIndexFile> index,
                    const std::vector<std::int32_t>& removed) {
    std::vector<std::int32_t>& earlier = RemovalsOf(box, folder);
    std::vector<std::int32_t> to_remove = earlier;
    AddNumbers(to_remove, removed);
    if (!removed.empty() &&
        !WriteWithSpare(box, folder, [&] { return WritePendingRemovals(folder, to_remove); })) {
        QUORVEX_ERROR_LOG("cannot record the message files to remove in " + folder);
        return false;
    }
    const std::string bytes = index->Encode();
    struct stat st {};
    if (!WriteWithSpare(box, folder, [&] { return AtomicWriteFile(IndexPath(folder), bytes, 0600, &st); })) {
        QUORVEX_ERROR_LOG("cannot write mailbox index in " + folder);
        box.DropCache();
        if (!removed.empty()) KeepPendingRemovals(folder, earlier);
        return false;
    }
    const std::size_t slots = index->slots.size();
    RememberWritten(box, folder, std::move(index), st);
    if (!to_remove.empty()) {
        earlier = RemoveBodies(folder, to_remove);
        KeepPendingRemovals(folder, earlier);
    }
    KeepSpare(box, folder, slots);
    return true;
}

bool WriteAndRemember(Mailbox& box, const std::string& folder, std::unique_ptr<MailboxIndexFile> index) {
    struct stat st {};
    if (!WriteIndex(folder, *index, &st)) {
        box.DropCache();
        return false;
    }
    KeepSpare(box, folder, index->slots.size());
    RememberWritten(box, folder, std::move(index), st);
    return true;
}

bool PrepareIndex(Mailbox& box, const std::string& folder, const MailboxIndexFile& index, PreparedFile& file) {
    if (!KeepUidsUpTo(box, folder, static_cast<std::uint32_t>(index.header.LastUid()))) return false;
    if (file.Write(IndexPath(folder), index.Encode())) return true;
    QUORVEX_ERROR_LOG("cannot write mailbox index in " + folder);
    return false;
}

bool InstallIndex(Mailbox& box, const std::string& folder, std::unique_ptr<MailboxIndexFile> index, PreparedFile& file) {
    struct stat st {};
    if (!file.Install(&st)) {
        QUORVEX_ERROR_LOG("cannot write mailbox index in " + folder);
        box.DropCache();
        return false;
    }
    RememberWritten(box, folder, std::move(index), st);
    return true;
}

bool KeepUidsUpTo(Mailbox& box, const std::string& folder, std::uint32_t uid) {
    if (box.kept_uid_folder != folder) {
        box.kept_uid = ReadLastUid(folder);
        box.kept_uid_folder = folder;
    }
    if (uid <= box.kept_uid) return true;
    const std::uint32_t ahead = std::min<std::uint32_t>(uid + kUidBlock, INT32_MAX);
    if (!WriteLastUid(folder, ahead)) return false;
    box.kept_uid = ahead;
    return true;
}

MailboxIndexFile* CurrentIndex(Mailbox& box, const std::string& folder) {
    box.last_use = ++use_clock;
    const std::string path = IndexPath(folder);
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && box.cached && box.cached_folder == folder &&
        box.cached_stamp == StampOf(st)) {
        return box.cached.get();
    }
    box.DropCache();
    auto index = std::make_unique<MailboxIndexFile>();
    const bool on_disk = ReadIndexFile(path, *index, st);
    if (!on_disk && (errno != ENOENT || !FolderExists(folder))) return nullptr;
    bool changed = !on_disk;
    box.kept_uid = ReadLastUid(folder);
    box.kept_uid_folder = folder;
    const bool trusted = on_disk && box.trusted_folder == folder && box.trusted_stamp == StampOf(st);
    if (!trusted) {
        SweepStagingNames(folder);
        std::vector<std::int32_t>& removals = RemovalsOf(box, folder);
        const std::vector<std::int32_t> recorded = ReadPendingRemovals(folder);
        AddNumbers(removals, recorded);
        changed = ReconcileWithFolder(folder, *index, on_disk, box.kept_uid, removals).changed || changed;
        if (removals != recorded) KeepPendingRemovals(folder, removals);
    }
    // An index read from disk may be older than the UIDs already given (a
    // backup put back, a rebuild): it numbers after the last one kept.
    if (static_cast<std::uint32_t>(index->header.LastUid()) < box.kept_uid)
        index->header.SetLastUid(static_cast<std::int32_t>(box.kept_uid));
    if (changed) {
        if (!KeepUidsUpTo(box, folder, static_cast<std::uint32_t>(index->header.LastUid())) ||
            !WriteIndex(folder, *index, &st) || st.st_ino == 0) {
            return nullptr;
        }
        KeepSpare(box, folder, index->slots.size());
    }
    Remember(box, folder, std::move(index), st);
    return box.cached.get();
}

std::optional<CommittedIndex> CommittedIfCurrent(Mailbox& box, const std::string& folder) {
    CommittedIndex committed;
    {
        std::lock_guard guard(box.totals_lock);
        if (box.on_record.folder != folder) return std::nullopt;
        committed = box.on_record;
    }
    struct stat st {};
    if (::stat(IndexPath(folder).c_str(), &st) != 0 || StampOf(st) != committed.stamp) return std::nullopt;
    return committed;
}

}  // namespace quorvex::store
