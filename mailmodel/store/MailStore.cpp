// Mailbox store operations on the index format of MailboxIndex.h.
#include "mailmodel/store/MailStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <unordered_map>

#include "common/AsciiCase.h"
#include "common/AtomicFile.h"
#include "common/ErrorLog.h"
#include "common/Paths.h"
#include "common/TemporaryFile.h"
#include "common/UniqueFd.h"
#include "mailmodel/AppServices.h"
#include "mailmodel/FolderListing.h"
#include "mailmodel/account/AccountFolders.h"

namespace quorvex {

namespace {

constexpr std::size_t kCopyBlock = 64 * 1024;

std::string IndexPath(const std::string& folder) { return JoinPath(folder, kMailboxIndexFile); }

std::string BodyPath(const std::string& folder, std::int32_t file_number) {
    return JoinPath(folder, std::to_string(file_number) + ".eml");
}

// Parsed indexes are kept between calls for this many mailboxes at most
// (the ones used last), so a store costs no read of the whole index.
constexpr std::size_t kMaxCachedIndexes = 64;

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

IndexStamp StampOf(const struct stat& st) {
    return {st.st_dev, st.st_ino, st.st_size,
            static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec,
            static_cast<long long>(st.st_ctim.tv_sec) * 1000000000LL + st.st_ctim.tv_nsec};
}

class StagedBody;

// One store waiting for the commit that numbers it and lists it.
struct PendingAdd {
    const std::string* folder = nullptr;  // the account folder
    StagedBody* body = nullptr;
    int mail_folder = 0;
    bool read = false;
    std::int32_t size = 0;
    // Filled by the commit.
    std::int32_t file_number = 0;
    std::uint32_t uid = 0;
    bool stored = false;
    bool finished = false;  // guarded by the mailbox's queue_lock
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

std::mutex registry_lock;
std::atomic<std::uint64_t> use_clock{0};

std::unordered_map<std::string, std::unique_ptr<Mailbox>>& Registry() {
    static auto* boxes = new std::unordered_map<std::string, std::unique_ptr<Mailbox>>;
    return *boxes;
}

// Names compare without regard to case.
Mailbox& MailboxOf(std::string_view account) {
    const std::string key = AsciiLowerCase(account);
    std::lock_guard guard(registry_lock);
    auto& box = Registry()[key];
    if (!box) box = std::make_unique<Mailbox>();
    return *box;
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
    box.cached = std::move(index);
    box.cached_folder = folder;
    box.cached_stamp = StampOf(st);
    box.has_cache = true;
}

// Reads and checks the index file. False when it cannot be read (errno
// tells why) or is damaged (logged, never rewritten).
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

bool WriteIndex(const std::string& folder, const MailboxIndexFile& index) {
    if (AtomicWriteFile(IndexPath(folder), index.Encode())) return true;
    QUORVEX_ERROR_LOG("cannot write mailbox index in " + folder);
    return false;
}

// Writes `index` as the mailbox's index and keeps it as the cached copy.
bool WriteAndRemember(Mailbox& box, const std::string& folder, std::unique_ptr<MailboxIndexFile> index) {
    if (!WriteIndex(folder, *index)) {
        box.DropCache();
        return false;
    }
    struct stat st {};
    if (::stat(IndexPath(folder).c_str(), &st) == 0) {
        Remember(box, folder, std::move(index), st);
    } else {
        box.DropCache();
    }
    return true;
}

// The mailbox's index as it is on disk, from the cache while the file is
// unchanged; an empty one is created when the folder exists but holds
// none. Null when it cannot be read or created, or is damaged. The caller
// holds `box.lock`; the result stays valid until the lock is released or
// the cache is written or dropped.
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
    if (ReadIndexFile(path, *index, st)) {
        Remember(box, folder, std::move(index), st);
        return box.cached.get();
    }
    if (errno != ENOENT || !FolderExists(folder)) return nullptr;
    if (!WriteAndRemember(box, folder, std::make_unique<MailboxIndexFile>()) || !box.cached) return nullptr;
    return box.cached.get();
}

void FillSnapshot(const MailboxIndexFile& index, MailboxSnapshot& out) {
    out = MailboxSnapshot{};
    for (int k = 0; k < kMailboxFolderCount; ++k) {
        out.Counts[k] = index.header.MessageCount(k);
        out.Totals[k] = index.header.TotalBytes(k);
    }
    out.Records.reserve(index.slots.size());
    for (const MailboxRecord& r : index.slots)
        if (!r.IsFree()) out.Records.push_back(r);
    std::sort(out.Records.begin(), out.Records.end(),
              [](const MailboxRecord& a, const MailboxRecord& b) { return CompareMailboxRecords(a, b) < 0; });
    for (MailboxRecord& r : out.Records) r.Changes = 0;
}

// The caller holds the mailbox's lock.
bool LoadFromFolder(Mailbox& box, const std::string& folder, MailboxSnapshot& out) {
    const MailboxIndexFile* index = CurrentIndex(box, folder);
    if (!index) return false;
    FillSnapshot(*index, out);
    return true;
}

// Slot numbers of folder k's used records, in position order.
std::vector<std::size_t> FolderSlots(const MailboxIndexFile& index, int folder) {
    std::vector<std::size_t> slots;
    for (std::size_t i = 0; i < index.slots.size(); ++i)
        if (!index.slots[i].IsFree() && index.slots[i].Folder == folder) slots.push_back(i);
    std::sort(slots.begin(), slots.end(),
              [&](std::size_t a, std::size_t b) { return index.slots[a].Position < index.slots[b].Position; });
    return slots;
}

constexpr std::string_view kStagedPrefix = ".incoming-";
// A staged body older than this and not locked by its writer was left by
// a writer that died; younger ones may still be on their way in.
constexpr std::time_t kStaleStagedAge = 60;
// Each account folder is looked through for such leftovers at most this
// often by one process.
constexpr std::time_t kStagedSweepInterval = 600;

// A message body written under a temporary name in the account folder
// (".incoming-" and random letters, never ".eml"), removed unless moved.
// Its writer holds a lock on it for its whole life, so a sweep never
// takes a body that is still being stored.
class StagedBody {
public:
    explicit StagedBody(const std::string& folder)
        : file_(TemporaryFile::Create(JoinPath(folder, std::string(kStagedPrefix) + "XXXXXX"))) {
        if (file_.holds_file() && ::flock(file_.fd().get(), LOCK_EX | LOCK_NB) != 0) file_.Remove();
    }

    bool Fill(const std::string& source, std::uint8_t key) {
        return file_.holds_file() && ScrambleCopyFile(source, file_.path(), key);
    }
    // Renames it to its final name (replacing a body left by a store that
    // failed before its index was written).
    bool MoveTo(const std::string& destination) { return file_.MoveTo(destination); }

private:
    TemporaryFile file_;  // its descriptor holds the writer's lock
};

// Removes staged bodies that a killed writer left in the account folder:
// older than kStaleStagedAge and not locked by a living writer.
void SweepStagedBodies(const std::string& folder) {
    static std::mutex swept_lock;
    static std::map<std::string, std::time_t> swept;
    const std::time_t now = std::time(nullptr);
    {
        std::lock_guard guard(swept_lock);
        auto [it, fresh] = swept.try_emplace(folder, now);
        if (!fresh && now - it->second < kStagedSweepInterval && now >= it->second) return;
        it->second = now;
    }
    for (const std::string& name : ListFolder(folder)) {
        if (name.compare(0, kStagedPrefix.size(), kStagedPrefix) != 0) continue;
        const std::string path = JoinPath(folder, name);
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        struct stat st {};
        if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (now - st.st_mtim.tv_sec < kStaleStagedAge) continue;
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;  // its writer still lives
        if (::unlink(path.c_str()) == 0) QUORVEX_ERROR_LOG("removed a body left by an interrupted store: " + path);
    }
}

// The highest number of a "<number>.eml" body in the folder, 0 for none.
std::int32_t HighestBodyNumber(const std::string& folder) {
    std::int32_t highest = 0;
    for (const std::string& name : ListFolder(folder)) {
        if (name.size() < 5 || name.compare(name.size() - 4, 4, ".eml") != 0) continue;
        const std::string digits = name.substr(0, name.size() - 4);
        if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 10) continue;
        const long long n = std::strtoll(digits.c_str(), nullptr, 10);
        if (n > highest && n < INT32_MAX) highest = static_cast<std::int32_t>(n);
    }
    return highest;
}

// For the rebuild: a damaged index is moved aside (kept for inspection as
// "mailinfo.dat.damaged") and replaced by an empty one whose numbers
// continue after every body file in the folder, so no body that the
// damaged index may still describe is overwritten. The caller holds the
// mailbox's lock. False when the damaged index cannot be replaced.
bool ReplaceDamagedIndex(const std::string& folder) {
    const std::string path = IndexPath(folder);
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) return true;  // missing: the store creates one
    MailboxIndexFile index;
    std::string error;
    if (ParseMailboxIndex(bytes, index, error)) return true;
    const std::string aside = path + ".damaged";
    if (::rename(path.c_str(), aside.c_str()) != 0) {
        QUORVEX_ERROR_LOG("rebuild cannot move the damaged index " + path + " aside");
        return false;
    }
    MailboxIndexFile fresh;
    const std::int32_t highest = HighestBodyNumber(folder);
    fresh.header.SetLastFileNumber(highest);
    fresh.header.SetLastUid(highest);
    if (!WriteIndex(folder, fresh)) return false;
    QUORVEX_ERROR_LOG("rebuild replaced the damaged index " + path + " (kept as " + aside + "): " + error);
    return true;
}

}  // namespace

std::mutex& MailStoreLock(std::string_view account) { return MailboxOf(account).lock; }

bool LoadMailboxIndex(std::string_view account, MailboxSnapshot& out) {
    const auto folder = GetAccountFolderPath(account);
    return folder && LoadFromFolder(MailboxOf(account), *folder, out);
}

bool LoadMailboxIndexLocked(std::string_view account, MailboxSnapshot& out) {
    const auto folder = GetAccountFolderPath(account);
    if (!folder) return false;
    Mailbox& box = MailboxOf(account);
    std::lock_guard guard(box.lock);
    return LoadFromFolder(box, *folder, out);
}

namespace {

// Gives a waiting store its slot and numbers in `index` and moves its body
// to its final name. False (and `index` unchanged) when the mailbox is full
// or the body cannot be moved.
bool PlaceMessage(MailboxIndexFile& index, PendingAdd& add) {
    MailboxIndexHeader& header = index.header;
    const int folder = add.mail_folder;
    auto free_slot = std::find_if(index.slots.begin(), index.slots.end(),
                                  [](const MailboxRecord& r) { return r.IsFree(); });
    const auto slot = static_cast<std::size_t>(free_slot - index.slots.begin());
    if (free_slot == index.slots.end() && index.slots.size() >= static_cast<std::size_t>(kMaxMailboxRecords)) {
        QUORVEX_ERROR_LOG("mailbox full (no free record slot) in " + *add.folder);
        return false;
    }
    if (static_cast<std::int64_t>(header.TotalBytes(folder)) + add.size > kMaxFolderBytes ||
        header.LastUid() == INT32_MAX || header.LastFileNumber() == INT32_MAX) {
        QUORVEX_ERROR_LOG("mailbox full (totals would overflow) in " + *add.folder);
        return false;
    }
    const std::int32_t file_number = header.LastFileNumber() + 1;
    if (!add.body->MoveTo(BodyPath(*add.folder, file_number))) return false;
    if (free_slot == index.slots.end()) index.slots.emplace_back();

    MailboxRecord& r = index.slots[slot];
    r.Slot = static_cast<std::int32_t>(slot);
    r.Size = add.size;
    r.FileNumber = file_number;
    r.Uid = static_cast<std::uint32_t>(header.LastUid() + 1);
    r.Folder = static_cast<std::uint16_t>(folder);
    r.Position = header.MessageCount(folder);
    r.Marks = add.read ? 1 : 0;
    header.SetLastFileNumber(r.FileNumber);
    header.SetLastUid(static_cast<std::int32_t>(r.Uid));
    header.SetMessageCount(folder, header.MessageCount(folder) + 1);
    header.SetTotalBytes(folder, header.TotalBytes(folder) + add.size);
    header.SetRecordCount(static_cast<std::int32_t>(index.slots.size()));
    add.file_number = r.FileNumber;
    add.uid = r.Uid;
    return true;
}

// Lists every waiting store of the batch in one index rewrite per account
// folder. The caller holds the mailbox's lock.
void StoreBatch(Mailbox& box, const std::vector<PendingAdd*>& batch) {
    std::vector<bool> done(batch.size(), false);
    for (std::size_t first = 0; first < batch.size(); ++first) {
        if (done[first]) continue;
        const std::string& folder = *batch[first]->folder;
        const MailboxIndexFile* current = CurrentIndex(box, folder);
        auto updated = current ? std::make_unique<MailboxIndexFile>(*current) : nullptr;
        std::vector<PendingAdd*> placed;
        for (std::size_t i = first; i < batch.size(); ++i) {
            if (done[i] || *batch[i]->folder != folder) continue;
            done[i] = true;
            if (updated && PlaceMessage(*updated, *batch[i])) placed.push_back(batch[i]);
        }
        if (placed.empty()) continue;
        const bool written = WriteAndRemember(box, folder, std::move(updated));
        for (PendingAdd* add : placed) {
            add->stored = written;
            // The index does not name it: a later store may take its number.
            if (!written) ::unlink(BodyPath(folder, add->file_number).c_str());
        }
    }
}

// Queues the store and waits until a commit (its own or another caller's)
// has dealt with it.
void CommitInTurn(Mailbox& box, PendingAdd& add) {
    std::unique_lock queue(box.queue_lock);
    box.pending.push_back(&add);
    while (!add.finished) {
        if (box.committing) {
            box.committed.wait(queue);
            continue;
        }
        box.committing = true;
        queue.unlock();
        std::vector<PendingAdd*> batch;
        {
            std::lock_guard guard(box.lock);
            // Taken under the mailbox lock, so that stores queued while it
            // was busy join this commit.
            queue.lock();
            batch.swap(box.pending);
            queue.unlock();
            try {
                StoreBatch(box, batch);
            } catch (const std::exception& e) {
                box.DropCache();
                QUORVEX_ERROR_LOG(std::string("mailbox store failed: ") + e.what());
            }
        }
        queue.lock();
        for (PendingAdd* p : batch) p->finished = true;
        box.committing = false;
        box.committed.notify_all();
    }
}

}  // namespace

bool AddMessageToMailbox(std::string_view account, const std::string& source, std::string* uid_text, int folder,
                         bool scramble, bool read) {
    const auto account_folder = GetAccountFolderPath(account);
    if (!account_folder || folder < 0 || folder >= kMailboxFolderCount) return false;
    struct stat st {};
    if (::stat(source.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (st.st_size > kMaxFolderBytes) {
        QUORVEX_ERROR_LOG("message too large for a mailbox: " + source);
        return false;
    }

    // The body is copied and fsynced under a name of its own before the
    // mailbox is locked; the commit only gives it its number.
    SweepStagedBodies(*account_folder);
    StagedBody staged(*account_folder);
    if (!staged.Fill(source, scramble ? MailStoreKey(account) : 0)) return false;

    PendingAdd add;
    add.folder = &*account_folder;
    add.body = &staged;
    add.mail_folder = folder;
    add.read = read;
    add.size = static_cast<std::int32_t>(st.st_size);
    CommitInTurn(MailboxOf(account), add);
    if (!add.stored) return false;
    if (uid_text && uid_text->empty()) *uid_text = std::to_string(add.uid);
    return true;
}

bool ApplyMailboxChanges(std::string_view account, const MailboxSnapshot& snapshot) {
    const auto account_folder = GetAccountFolderPath(account);
    if (!account_folder) return false;
    const auto snapshot_count = static_cast<std::size_t>(std::max(0, snapshot.Counts[0])) +
                                static_cast<std::size_t>(std::max(0, snapshot.Counts[1]));
    if (snapshot.Counts[0] < 0 || snapshot.Counts[1] < 0 || snapshot_count > snapshot.Records.size()) return false;

    Mailbox& box = MailboxOf(account);
    std::lock_guard guard(box.lock);
    const MailboxIndexFile* current = CurrentIndex(box, *account_folder);
    if (!current) return false;
    // Changed on a copy: the cached index stays as on disk until the new
    // one is written.
    auto updated = std::make_unique<MailboxIndexFile>(*current);
    MailboxIndexFile& index = *updated;

    std::array<std::vector<std::size_t>, kMailboxFolderCount> folders{FolderSlots(index, 0), FolderSlots(index, 1)};
    std::vector<std::uint16_t> pending(index.slots.size(), 0);

    // Match the snapshot's records of each folder to the current ones by
    // file number, both in position order.
    std::size_t first = 0;
    for (int k = 0; k < kMailboxFolderCount; ++k) {
        const std::size_t end = first + static_cast<std::size_t>(snapshot.Counts[k]);
        std::size_t j = 0;
        for (std::size_t i = first; i < end && j < folders[k].size(); ++i) {
            const MailboxRecord& s = snapshot.Records[i];
            MailboxRecord& f = index.slots[folders[k][j]];
            if (s.FileNumber != f.FileNumber) continue;
            std::uint16_t& change = pending[folders[k][j]];
            if (s.Changes == kChangeDelete) {
                change = kChangeDelete;
            } else {
                // A move to a folder that does not exist is ignored rather
                // than written into the index.
                if ((s.Changes & kChangeMove) && s.MoveTarget < kMailboxFolderCount) {
                    change |= kChangeMove;
                    f.MoveTarget = s.MoveTarget;
                }
                if (s.Marks != f.Marks) {
                    f.Marks = s.Marks;
                    change |= kChangeMarks;
                }
            }
            ++j;
        }
        first = end;
    }

    std::array<std::int64_t, kMailboxFolderCount> bytes{};
    std::array<std::int32_t, kMailboxFolderCount> counts{};
    for (int k = 0; k < kMailboxFolderCount; ++k)
        for (std::size_t slot : folders[k]) bytes[k] += index.slots[slot].Size;

    // Close the gaps: unchanged and re-marked records keep their order.
    for (int k = 0; k < kMailboxFolderCount; ++k) {
        for (std::size_t slot : folders[k]) {
            if (pending[slot] != 0 && pending[slot] != kChangeMarks) continue;
            MailboxRecord& r = index.slots[slot];
            if (pending[slot] == kChangeMarks || r.Position != counts[k]) r.Changes = 0;
            r.Position = counts[k]++;
        }
    }
    // Moved messages go to the end of their target folder; deleted ones
    // free their slot (which keeps its other values).
    std::vector<std::int32_t> deleted_files;
    for (int k = 0; k < kMailboxFolderCount; ++k) {
        for (std::size_t slot : folders[k]) {
            MailboxRecord& r = index.slots[slot];
            if (pending[slot] & kChangeMove) {
                const int t = r.MoveTarget;
                r.Position = counts[t]++;
                r.Folder = static_cast<std::uint16_t>(t);
                r.Changes = 0;
                bytes[k] -= r.Size;
                bytes[t] += r.Size;
            } else if (pending[slot] == kChangeDelete) {
                r.Position = -1;
                r.Changes = kChangeDelete;
                bytes[k] -= r.Size;
                deleted_files.push_back(r.FileNumber);
            }
        }
    }
    for (int k = 0; k < kMailboxFolderCount; ++k) {
        if (bytes[k] > kMaxFolderBytes) {
            QUORVEX_ERROR_LOG("commit refused: folder total would overflow in " + *account_folder);
            return false;
        }
        index.header.SetMessageCount(k, counts[k]);
        index.header.SetTotalBytes(k, static_cast<std::int32_t>(bytes[k]));
    }
    if (!WriteAndRemember(box, *account_folder, std::move(updated))) return false;
    for (std::int32_t number : deleted_files) ::unlink(BodyPath(*account_folder, number).c_str());
    return true;
}

std::optional<MailboxTotals> ReadMailboxTotals(std::string_view account) {
    const auto folder = GetAccountFolderPath(account);
    if (!folder) return std::nullopt;
    Mailbox& box = MailboxOf(account);
    std::lock_guard guard(box.lock);
    // A mailbox nobody works on now is read without taking a cache place
    // from those the servers use (the account list reads every mailbox).
    MailboxIndexFile cold;
    const MailboxIndexFile* index = nullptr;
    if (!box.has_cache) {
        struct stat st {};
        if (ReadIndexFile(IndexPath(*folder), cold, st)) {
            index = &cold;
        } else if (errno != ENOENT) {
            return std::nullopt;  // damaged (logged) or unreadable
        }
    }
    if (!index) index = CurrentIndex(box, *folder);
    if (!index) return std::nullopt;
    MailboxTotals totals;
    for (int k = 0; k < kMailboxFolderCount; ++k) {
        totals.messages += index->header.MessageCount(k);
        totals.bytes += index->header.TotalBytes(k);
    }
    return totals;
}

std::int64_t GetMailboxTotalSize(std::string_view account) {
    const auto totals = ReadMailboxTotals(account);
    return totals ? totals->bytes : 0;
}

int GetMailboxMessageCount(std::string_view account) {
    const auto totals = ReadMailboxTotals(account);
    return totals ? totals->messages : 0;
}

std::optional<std::string> GetMailFilePath(std::string_view account, std::int32_t file_number) {
    const auto folder = GetAccountFolderPath(account);
    if (!folder) return std::nullopt;
    return BodyPath(*folder, file_number);
}

std::string FormatMailUid(std::string_view account, std::uint32_t uid) {
    std::string text(account);
    text.append(".").append(GetDomainName()).append(".quorvexserver.").append(std::to_string(uid));
    return text;
}

std::uint32_t ParseUidNumber(std::string_view uid_text) {
    const auto dot = uid_text.rfind('.');
    if (dot == std::string_view::npos) return 0;
    const std::string rest(uid_text.substr(dot + 1));
    return static_cast<std::uint32_t>(std::strtoll(rest.c_str(), nullptr, 10));
}

std::uint8_t MailStoreKey(std::string_view account) {
    unsigned sum = 0;
    for (const char c : account) {
        sum += static_cast<unsigned char>(AsciiLower(c));
    }
    return static_cast<std::uint8_t>(sum & 0xFF);
}

bool ScrambleCopyFile(const std::string& source, const std::string& destination, std::uint8_t key) {
    UniqueFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in) return false;
    UniqueFd out(::open(destination.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!out) return false;
    std::unique_ptr<char[]> block(new char[kCopyBlock]);
    for (;;) {
        const ssize_t n = ::read(in.get(), block.get(), kCopyBlock);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) break;
        if (key != 0)
            for (ssize_t i = 0; i < n; ++i) block[static_cast<std::size_t>(i)] ^= static_cast<char>(key);
        if (!WriteFully(out.get(), std::string_view(block.get(), static_cast<std::size_t>(n)))) return false;
    }
    return ::fsync(out.get()) == 0 && out.close_checked();
}

bool RestoreBackupMails(std::string_view account) {
    const auto folder = GetAccountFolderPath(account);
    if (!folder) return false;
    {
        std::lock_guard guard(MailStoreLock(account));
        if (!ReplaceDamagedIndex(*folder)) return false;
    }
    const std::string back = JoinPath(*folder, kBackupFolder);
    struct Found {
        std::string path;
        timespec modified;
    };
    std::vector<Found> files;
    for (const std::string& name : ListFolder(back)) {
        if (name.size() < 4 || name.compare(name.size() - 4, 4, ".eml") != 0) continue;
        Found f{JoinPath(back, name), {}};
        struct stat st {};
        if (::stat(f.path.c_str(), &st) == 0) f.modified = st.st_mtim;
        files.push_back(std::move(f));
    }
    std::sort(files.begin(), files.end(), [](const Found& a, const Found& b) {
        if (a.modified.tv_sec != b.modified.tv_sec) return a.modified.tv_sec < b.modified.tv_sec;
        if (a.modified.tv_nsec != b.modified.tv_nsec) return a.modified.tv_nsec < b.modified.tv_nsec;
        return a.path < b.path;
    });
    for (const Found& f : files)
        if (!AddMessageToMailbox(account, f.path, nullptr, 0, false, true))
            QUORVEX_ERROR_LOG("rebuild could not store " + f.path);
    return true;
}

}  // namespace quorvex
