// Storing messages: every body is staged first, then one of the callers
// waiting on a mailbox commits every queued store in one index rewrite,
// giving each body its number there. The copies of one message for several
// mailboxes are committed by their own caller: every mailbox's new index
// is written and flushed before any of them is renamed into place.
#include "mailmodel/store/MailStore.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <exception>
#include <functional>

#include "common/AsciiCase.h"
#include "common/AtomicFile.h"
#include "common/ErrorLog.h"
#include "common/FileSteps.h"
#include "mailmodel/account/AccountFolders.h"
#include "mailmodel/store/MailboxCache.h"
#include "mailmodel/store/MailboxFolder.h"
#include "mailmodel/store/StagedBody.h"

namespace quorvex {

namespace store {

// One copy waiting for the commit that numbers it and lists it.
struct PendingAdd {
    const std::string* folder = nullptr;  // the account folder
    StagedBody* body = nullptr;
    int mail_folder = 0;
    bool read = false;
    std::int32_t size = 0;
    // Filled by the commit.
    StoredMessage stored_as;
    bool stored = false;
};

// The copies one caller commits into one account folder: listed by one
// index rewrite together, or none of them.
struct PendingCommit {
    Mailbox* box = nullptr;
    const std::string* folder = nullptr;
    std::vector<PendingAdd*> adds;  // all of them stored, or none
    // Guarded by the mailbox's queue_lock: taken into a batch, and dealt
    // with.
    bool taken = false;
    bool finished = false;
};

namespace {

// Gives a waiting store its body number, slot and UID in `index`,
// renaming its body to its number. False (and `index` unchanged) when the
// mailbox is full or the body cannot be renamed.
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
        header.LastUid() == INT32_MAX) {
        QUORVEX_ERROR_LOG("mailbox full (totals would overflow) in " + *add.folder);
        return false;
    }
    // A number taken by a file the index does not know (another process's
    // store, a file put back) moves the search past the highest numbered
    // file; once the end of the range is taken, into the lowest free gap.
    // Every try is above the one before, so the search ends.
    const std::int32_t last = header.LastFileNumber();
    bool wrapped = last == INT32_MAX;
    std::optional<std::int32_t> number =
        wrapped ? NumberAfterTaken(*add.folder, index, last, 0) : std::optional<std::int32_t>(last + 1);
    bool renamed = false;
    while (number && !renamed) {
        renamed = add.body->Commit(*number);
        if (renamed || errno != EEXIST) break;
        const std::int32_t tried = *number;
        number = NumberAfterTaken(*add.folder, index, tried, wrapped ? tried : 0);
        wrapped = wrapped || (number && *number <= tried);
    }
    if (!renamed) {
        QUORVEX_ERROR_LOG("no body number could be given in " + *add.folder);
        return false;
    }
    if (free_slot == index.slots.end()) index.slots.emplace_back();

    MailboxRecord& r = index.slots[slot];
    r.Slot = static_cast<std::int32_t>(slot);
    r.Size = add.size;
    r.FileNumber = *number;
    r.Uid = static_cast<std::uint32_t>(header.LastUid() + 1);
    r.Folder = static_cast<std::uint16_t>(folder);
    r.Position = header.MessageCount(folder);
    r.Marks = add.read ? 1 : 0;
    header.SetLastFileNumber(std::max(header.LastFileNumber(), r.FileNumber));
    header.SetLastUid(static_cast<std::int32_t>(r.Uid));
    header.SetMessageCount(folder, header.MessageCount(folder) + 1);
    header.SetTotalBytes(folder, header.TotalBytes(folder) + add.size);
    header.SetRecordCount(static_cast<std::int32_t>(index.slots.size()));
    add.stored_as = {r.FileNumber, r.Uid};
    return true;
}

// Places every copy of `commit` in `index`, or none: when one does not
// fit, `index` is as it was and the bodies already named go again.
bool PlaceAll(MailboxIndexFile& index, PendingCommit& commit) {
    if (commit.adds.size() == 1) return PlaceMessage(index, *commit.adds.front());
    const MailboxIndexFile before = index;
    for (std::size_t i = 0; i < commit.adds.size(); ++i) {
        if (PlaceMessage(index, *commit.adds[i])) continue;
        for (std::size_t j = 0; j < i; ++j) commit.adds[j]->body->Uncommit();
        index = before;
        return false;
    }
    return true;
}

// One account folder's part of a commit: the stores its new index lists,
// and that index while it is written and flushed but not yet in place.
struct FolderListing {
    Mailbox* box = nullptr;
    const std::string* folder = nullptr;
    std::vector<PendingCommit*> placed;
    std::unique_ptr<MailboxIndexFile> index;
    PreparedFile file;
};

void ForEachAdd(const FolderListing& listing, const std::function<void(PendingAdd&)>& act) {
    for (PendingCommit* commit : listing.placed)
        for (PendingAdd* add : commit->adds) act(*add);
}

// The bodies of a listing whose index was not put in place go again.
void Unplace(FolderListing& listing) {
    ForEachAdd(listing, [](PendingAdd& add) { add.body->Uncommit(); });
    listing.placed.clear();
}

// Places the commits that fit (naming their bodies by their numbers) and
// writes and flushes the index that lists them under a temporary name.
// False, with nothing left of it, when none fits or the index (or the
// last UID it gives) cannot be written. The caller holds the mailbox's
// lock until the index is in place or given up.
bool PrepareListing(FolderListing& listing, const std::vector<PendingCommit*>& commits) {
    const MailboxIndexFile* current = CurrentIndex(*listing.box, *listing.folder);
    if (!current) return false;
    listing.index = std::make_unique<MailboxIndexFile>(*current);
    for (PendingCommit* commit : commits)
        if (PlaceAll(*listing.index, *commit)) listing.placed.push_back(commit);
    if (listing.placed.empty()) return false;
    if (PrepareIndex(*listing.box, *listing.folder, *listing.index, listing.file)) return true;
    Unplace(listing);
    return false;
}

// Renames the prepared index into place: its stores are listed now.
bool InstallListing(FolderListing& listing) {
    if (!InstallIndex(*listing.box, *listing.folder, std::move(listing.index), listing.file)) {
        Unplace(listing);
        return false;
    }
    ForEachAdd(listing, [](PendingAdd& add) { add.stored = true; });
    return true;
}

bool TakeBackLocked(Mailbox& box, const std::string& folder, const std::vector<StoredMessage>& messages);

// Takes an installed listing's stores back out of the index (a later step
// of the commit failed). One that cannot be is left listed with its body,
// and its store still fails: the message may come twice, it is not lost.
void TakeBackListing(FolderListing& listing) {
    std::vector<StoredMessage> messages;
    ForEachAdd(listing, [&](PendingAdd& add) { messages.push_back(add.stored_as); });
    const bool taken_back = TakeBackLocked(*listing.box, *listing.folder, messages);
    if (!taken_back) {
        QUORVEX_ERROR_LOG("copies of a refused message could not be taken back from " + *listing.folder + ": " +
                          std::to_string(messages.size()));
    }
    ForEachAdd(listing, [&](PendingAdd& add) {
        add.stored = false;
        taken_back ? add.body->Uncommit() : add.body->Keep();
    });
}

// Flushes the folder of an installed listing, which makes its bodies'
// names, the last UID and the index durable together (a journal keeps
// them in the order they were made). False (logged) when it fails.
bool FlushListing(const FolderListing& listing) {
    if (fs::SyncFolder(*listing.folder)) return true;
    QUORVEX_ERROR_LOG("cannot flush the mailbox folder " + *listing.folder + ": the messages just listed are taken back");
    return false;
}

// Lists every waiting store of the batch in one index rewrite per account
// folder, in the order they came, and adds each index put in place to
// `listed`: its folder is flushed after the mailbox's lock is let go. The
// caller holds the mailbox's lock.
void ListBatch(Mailbox& box, const std::vector<PendingCommit*>& batch,
               std::vector<std::unique_ptr<FolderListing>>& listed) {
    std::vector<bool> done(batch.size(), false);
    for (std::size_t first = 0; first < batch.size(); ++first) {
        if (done[first]) continue;
        auto listing = std::make_unique<FolderListing>();
        listing->box = &box;
        listing->folder = batch[first]->folder;
        std::vector<PendingCommit*> commits;
        for (std::size_t i = first; i < batch.size(); ++i) {
            if (done[i] || *batch[i]->folder != *listing->folder) continue;
            done[i] = true;
            commits.push_back(batch[i]);
        }
        if (PrepareListing(*listing, commits) && InstallListing(*listing)) listed.push_back(std::move(listing));
    }
}

// Flushes the folders of a batch's indexes, taking back (under the
// mailbox's lock again) the stores of a folder whose flush fails.
void FlushBatch(Mailbox& box, const std::vector<std::unique_ptr<FolderListing>>& listed) {
    for (const auto& listing : listed) {
        if (FlushListing(*listing)) continue;
        std::lock_guard guard(box.lock);
        TakeBackListing(*listing);
    }
}

// Queues the stores and waits until a commit (its own or another caller's)
// has dealt with them. The committer lets the mailbox go once its indexes
// are in place, so that the next batch is listed while this one's folder
// flush runs; a store is finished, and answered, only after that flush.
void CommitInTurn(Mailbox& box, PendingCommit& commit) {
    std::unique_lock queue(box.queue_lock);
    box.pending.push_back(&commit);
    while (!commit.finished) {
        // A store taken into a batch waits for that batch alone; one still
        // queued waits only for its turn to commit.
        if (commit.taken) {
            box.committed.wait(queue);
            continue;
        }
        if (box.committing) {
            box.turn.wait(queue);
            continue;
        }
        box.committing = true;
        queue.unlock();
        std::vector<PendingCommit*> batch;
        std::vector<std::unique_ptr<FolderListing>> listed;
        {
            std::lock_guard guard(box.lock);
            // Taken under the mailbox lock, so that stores queued while it
            // was busy join this commit.
            queue.lock();
            batch.swap(box.pending);
            for (PendingCommit* p : batch) p->taken = true;
            queue.unlock();
            try {
                ListBatch(box, batch, listed);
            } catch (const std::exception& e) {
                box.DropCache();
                QUORVEX_ERROR_LOG(std::string("mailbox store failed: ") + e.what());
            }
        }
        queue.lock();
        box.committing = false;
        box.turn.notify_all();
        queue.unlock();
        FlushBatch(box, listed);
        queue.lock();
        for (PendingCommit* p : batch) p->finished = true;
        box.committed.notify_all();
    }
}

// Commits copies for several account folders at once, holding every
// mailbox's lock (taken in one order, so two such commits never wait for
// each other): each folder's new index is written and flushed first, then
// they are renamed into place one after another and the folders flushed.
// A failure before the renames leaves nothing visible; a rename or flush
// that fails takes back the copies already listed.
bool CommitAcross(const std::vector<std::unique_ptr<PendingCommit>>& parts) {
    std::vector<Mailbox*> boxes;
    for (const auto& part : parts) boxes.push_back(part->box);
    std::sort(boxes.begin(), boxes.end(), std::less<Mailbox*>());
    boxes.erase(std::unique(boxes.begin(), boxes.end()), boxes.end());
    std::vector<std::unique_lock<std::mutex>> locks;
    for (Mailbox* box : boxes) locks.emplace_back(box->lock);
    // Marked while held, so that trimming the cache never tries the locks
    // this thread holds; cleared before they are released.
    struct Marks {
        std::vector<Mailbox*>& boxes;
        explicit Marks(std::vector<Mailbox*>& b) : boxes(b) {
            for (Mailbox* box : boxes) box->held_by_set = true;
        }
        ~Marks() {
            for (Mailbox* box : boxes) box->held_by_set = false;
        }
    } marks(boxes);

    std::vector<std::unique_ptr<FolderListing>> listings;
    bool prepared = true;
    for (const auto& part : parts) {
        auto listing = std::make_unique<FolderListing>();
        listing->box = part->box;
        listing->folder = part->folder;
        prepared = PrepareListing(*listing, {part.get()});
        if (!prepared) break;
        listings.push_back(std::move(listing));
    }
    std::size_t installed = 0;
    while (prepared && installed < listings.size() && InstallListing(*listings[installed])) ++installed;
    bool flushed = prepared && installed == listings.size();
    for (std::size_t i = 0; i < installed; ++i) flushed = FlushListing(*listings[i]) && flushed;
    if (flushed) return true;
    for (std::size_t i = 0; i < listings.size(); ++i) {
        if (i < installed) {
            TakeBackListing(*listings[i]);
        } else {
            Unplace(*listings[i]);
        }
    }
    return false;
}

// The message with this identity in `index`; null when none.
MailboxRecord* FindRecord(MailboxIndexFile& index, const StoredMessage& message) {
    for (MailboxRecord& r : index.slots)
        if (!r.IsFree() && r.FileNumber == message.file_number && r.Uid == message.uid) return &r;
    return nullptr;
}

// TakeBackMessages for a caller that holds the mailbox's lock.
bool TakeBackLocked(Mailbox& box, const std::string& folder, const std::vector<StoredMessage>& messages) {
    const MailboxIndexFile* current = CurrentIndex(box, folder);
    if (!current) return false;
    auto updated = std::make_unique<MailboxIndexFile>(*current);
    MailboxIndexHeader& header = updated->header;
    std::vector<std::int32_t> removed;
    std::size_t gone = 0;  // deleted meanwhile: no record has it and its body is gone
    for (const StoredMessage& message : messages) {
        MailboxRecord* r = FindRecord(*updated, message);
        if (!r) {
            gone += BodyMayExist(folder, message.file_number) ? 0 : 1;
            continue;
        }
        // The folder's later messages move up one place.
        for (MailboxRecord& other : updated->slots)
            if (!other.IsFree() && other.Folder == r->Folder && other.Position > r->Position) --other.Position;
        header.SetMessageCount(r->Folder, header.MessageCount(r->Folder) - 1);
        header.SetTotalBytes(r->Folder, header.TotalBytes(r->Folder) - r->Size);
        r->Position = -1;
        r->Changes = kChangeDelete;
        removed.push_back(r->FileNumber);
    }
    if (removed.empty()) return gone == messages.size();
    return WriteAndRemove(box, folder, std::move(updated), removed) && removed.size() + gone == messages.size();
}

}  // namespace
}  // namespace store

using namespace store;

struct MailboxCopies::Copy {
    std::string account;
    std::string folder;  // the account folder
    StagedBody body;
    PendingAdd add;
};

MailboxCopies::MailboxCopies() = default;
MailboxCopies::~MailboxCopies() { Release(); }

MailboxHold MailboxCopies::Reserve(std::string_view account, std::int64_t size, std::int64_t quota) {
    const auto folder = GetAccountFolderPath(account);
    if (!folder) return MailboxHold::kUnreadable;
    Mailbox& box = MailboxOf(account);
    for (int attempt = 0; attempt < 2; ++attempt) {
        {
            // The committed bytes and those held are read under one lock:
            // a commit counts its bytes before its holder lets them go.
            std::lock_guard guard(box.totals_lock);
            if (box.on_record.folder == *folder) {
                if (quota != -1 && box.on_record.bytes + HeldHere(account) + size > quota) return MailboxHold::kNoRoom;
                // Room that only deliveries still in flight take may come
                // free again when one of them fails: the sender tries later.
                if (quota != -1 && box.on_record.bytes + box.held_bytes + size > quota) return MailboxHold::kBusy;
                box.held_bytes += size;
                reserved_.emplace_back(account, size);
                return MailboxHold::kHeld;
            }
        }
        std::lock_guard guard(box.lock);
        if (!CurrentIndex(box, *folder)) return MailboxHold::kUnreadable;
    }
    return MailboxHold::kUnreadable;
}

std::int64_t MailboxCopies::HeldHere(std::string_view account) const {
    std::int64_t bytes = 0;
    for (const auto& [held, size] : reserved_)
        if (EqualsNoCase(held, account)) bytes += size;
    return bytes;
}

void MailboxCopies::Release() {
    for (const auto& [account, size] : reserved_) {
        Mailbox& box = MailboxOf(account);
        std::lock_guard guard(box.totals_lock);
        box.held_bytes -= size;
    }
    reserved_.clear();
}

bool MailboxCopies::Stage(std::string_view account, std::string_view text, const std::string* path,
                          std::int64_t size, int folder, bool scramble, bool read) {
    const auto account_folder = GetAccountFolderPath(account);
    if (!account_folder || folder < 0 || folder >= kMailboxFolderCount) return false;
    if (size > kMaxFolderBytes) {
        QUORVEX_ERROR_LOG("message too large for a mailbox in " + *account_folder);
        return false;
    }
    auto copy = std::make_unique<Copy>();
    copy->account = account;
    copy->folder = *account_folder;
    if (!copy->body.Write(copy->folder, BodySource{text, path}, scramble ? MailStoreKey(account) : 0)) return false;
    copy->add.folder = &copy->folder;
    copy->add.body = &copy->body;
    copy->add.mail_folder = folder;
    copy->add.read = read;
    copy->add.size = static_cast<std::int32_t>(size);
    copies_.push_back(std::move(copy));
    return true;
}

bool MailboxCopies::StageText(std::string_view account, std::string_view text, int folder, bool scramble, bool read) {
    return Stage(account, text, nullptr, static_cast<std::int64_t>(text.size()), folder, scramble, read);
}

bool MailboxCopies::StageFile(std::string_view account, const std::string& path, int folder, bool scramble,
                              bool read) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    return Stage(account, {}, &path, st.st_size, folder, scramble, read);
}

bool MailboxCopies::Commit() {
    // The copies not committed yet, by account folder in the order staged.
    std::vector<std::unique_ptr<PendingCommit>> parts;
    for (auto& copy : copies_) {
        if (copy->add.stored) continue;
        auto part = std::find_if(parts.begin(), parts.end(), [&](const auto& p) { return *p->folder == copy->folder; });
        if (part == parts.end()) {
            parts.push_back(std::make_unique<PendingCommit>());
            part = parts.end() - 1;
            (*part)->box = &MailboxOf(copy->account);
            (*part)->folder = &copy->folder;
        }
        (*part)->adds.push_back(&copy->add);
    }
    bool stored = true;
    if (parts.size() == 1) {
        CommitInTurn(*parts.front()->box, *parts.front());
        stored = parts.front()->adds.front()->stored;
    } else if (parts.size() > 1) {
        stored = CommitAcross(parts);
    }
    if (stored)
        for (auto& copy : copies_)
            if (copy->add.stored) copy->body.Keep();
    Release();
    return stored;
}

bool MailboxCopies::TakeBack() {
    bool all = true;
    for (auto& copy : copies_) {
        if (!copy->add.stored) continue;
        if (!TakeBackMessages(copy->account, {copy->add.stored_as})) {
            all = false;
            QUORVEX_ERROR_LOG("a copy of a refused message could not be taken back from " + copy->folder + " (UID " +
                              std::to_string(copy->add.stored_as.uid) + ")");
            continue;
        }
        copy->add.stored = false;
    }
    return all;
}

std::optional<StoredMessage> MailboxCopies::Stored(std::size_t k) const {
    if (k >= copies_.size() || !copies_[k]->add.stored) return std::nullopt;
    return copies_[k]->add.stored_as;
}

bool TakeBackMessages(std::string_view account, const std::vector<StoredMessage>& messages) {
    const auto folder = GetAccountFolderPath(account);
    if (!folder) return false;
    Mailbox& box = MailboxOf(account);
    std::lock_guard guard(box.lock);
    return TakeBackLocked(box, *folder, messages);
}



namespace {

bool StoreOne(MailboxCopies& copy, std::string* uid_text) {
    if (!copy.Commit()) return false;
    if (uid_text && uid_text->empty()) *uid_text = std::to_string(copy.Stored(0)->uid);
    return true;
}

}  // namespace

bool AddMessageToMailbox(std::string_view account, const std::string& source, std::string* uid_text, int folder,
                         bool scramble, bool read) {
    MailboxCopies copy;
    return copy.StageFile(account, source, folder, scramble, read) && StoreOne(copy, uid_text);
}

bool AddMessageTextToMailbox(std::string_view account, std::string_view text, std::string* uid_text, int folder,
                             bool scramble, bool read) {
    MailboxCopies copy;
    return copy.StageText(account, text, folder, scramble, read) && StoreOne(copy, uid_text);
}

}  // namespace quorvex
