// Storing messages: every body is staged first, then one of the callers
// waiting on a mailbox commits every queued store in one index rewrite,
// giving each body its number there. Copies of one message for several
// mailboxes are committed together and taken back together.
#include "mailmodel/store/MailStore.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <exception>

#include "common/AsciiCase.h"
#include "common/ErrorLog.h"
#include "common/FileSteps.h"
#include "mailmodel/account/AccountFolders.h"
#include "mailmodel/store/MailboxCache.h"
#include "mailmodel/store/MailboxFolder.h"
#include "mailmodel/store/StagedBody.h"

namespace quorvex {

namespace store {

// One store waiting for the commit that numbers it and lists it.
struct PendingAdd {
    const std::string* folder = nullptr;  // the account folder
    StagedBody* body = nullptr;
    int mail_folder = 0;
    bool read = false;
    std::int32_t size = 0;
    // Filled by the commit.
    StoredMessage stored_as;
    bool stored = false;
    bool finished = false;  // guarded by the mailbox's queue_lock
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

// Lists every waiting store of the batch in one index rewrite per account
// folder, in the order they came. The bodies' new names are flushed before
// the index that lists them is written; when that fails, they go again.
// The caller holds the mailbox's lock.
void StoreBatch(Mailbox& box, std::vector<PendingAdd*>& batch) {
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
        const auto last_uid = static_cast<std::uint32_t>(updated->header.LastUid());
        const bool written = fs::SyncFolder(folder) && KeepUidsUpTo(box, folder, last_uid) &&
                             WriteAndRemember(box, folder, std::move(updated));
        for (PendingAdd* add : placed) {
            add->stored = written;
            if (!written) add->body->Uncommit();
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

// The message with this identity in `index`; null when none.
MailboxRecord* FindRecord(MailboxIndexFile& index, const StoredMessage& message) {
    for (MailboxRecord& r : index.slots)
        if (!r.IsFree() && r.FileNumber == message.file_number && r.Uid == message.uid) return &r;
    return nullptr;
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
    for (auto& copy : copies_) {
        if (copy->add.stored) continue;
        copy->add.finished = false;
        CommitInTurn(MailboxOf(copy->account), copy->add);
        if (copy->add.stored) {
            copy->body.Keep();
            continue;
        }
        TakeBack();
        Release();
        return false;
    }
    Release();
    return true;
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
    const MailboxIndexFile* current = CurrentIndex(box, *folder);
    if (!current) return false;
    auto updated = std::make_unique<MailboxIndexFile>(*current);
    MailboxIndexHeader& header = updated->header;
    std::vector<std::int32_t> removed;
    std::size_t gone = 0;  // deleted meanwhile: no record has it and its body is gone
    for (const StoredMessage& message : messages) {
        MailboxRecord* r = FindRecord(*updated, message);
        if (!r) {
            gone += BodyMayExist(*folder, message.file_number) ? 0 : 1;
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
    return WriteAndRemove(box, *folder, std::move(updated), removed) && removed.size() + gone == messages.size();
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
