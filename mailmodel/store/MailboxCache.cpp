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
    box.has_cache = true;
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
    if (!WriteAndRemember(box, folder, std::move(index))) return false;
    for (const std::int32_t number : removed) fs::Unlink(BodyPath(folder, number));
    return true;
}

bool WriteAndRemember(Mailbox& box, const std::string& folder, std::unique_ptr<MailboxIndexFile> index) {
    struct stat st {};
    if (!WriteIndex(folder, *index, &st)) {
        box.DropCache();
        return false;
    }
    if (st.st_ino != 0) {
        Remember(box, folder, std::move(index), st);
    } else {
        box.DropCache();
    }
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
    if (st.st_ino != 0) {
        Remember(box, folder, std::move(index), st);
    } else {
        box.DropCache();
    }
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
    // An index read from disk may be older than the UIDs already given (a
    // backup put back, a rebuild): it numbers after the last one kept.
    box.kept_uid = ReadLastUid(folder);
    box.kept_uid_folder = folder;
    if (static_cast<std::uint32_t>(index->header.LastUid()) < box.kept_uid)
        index->header.SetLastUid(static_cast<std::int32_t>(box.kept_uid));
    BodiesListed found;
    if (box.swept_folder != folder || !on_disk) {
        box.swept_folder = folder;
        SweepStagingNames(folder);
        // Committed bodies are mail, listed or not (an index removed, lost
        // or put back from an older copy): the index lists every one.
        found = ListUnlistedBodies(folder, *index);
    }
    if (!on_disk || found.listed > 0) {
        if (!KeepUidsUpTo(box, folder, static_cast<std::uint32_t>(index->header.LastUid())) ||
            !WriteIndex(folder, *index, &st) || st.st_ino == 0) {
            return nullptr;
        }
    }
    if (found.listed + found.unlisted > 0) {
        const std::string kept =
            found.unlisted > 0 ? ", kept unlisted (mailbox full): " + std::to_string(found.unlisted) : std::string();
        QUORVEX_ERROR_LOG((on_disk ? "message files the index did not list listed in " + folder + ": "
                                   : "mailbox index missing in " + folder + ", message files found listed in a new one: ") +
                          std::to_string(found.listed) + kept);
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
