// Storing a message: its body is written under its final name, then one
// of the callers waiting on a mailbox commits every queued store in one
// index rewrite.
#include "mailmodel/store/MailStore.h"

#include <sys/stat.h>

#include <algorithm>
#include <exception>

#include "common/ErrorLog.h"
#include "mailmodel/account/AccountFolders.h"
#include "mailmodel/store/MailboxCache.h"
#include "mailmodel/store/StagedBody.h"

namespace quorvex {

namespace store {

// One store waiting for the commit that numbers it and lists it.
struct PendingAdd {
    const std::string* folder = nullptr;  // the account folder
    std::int32_t file_number = 0;         // the body's, reserved when it was written
    int mail_folder = 0;
    bool read = false;
    std::int32_t size = 0;
    // Filled by the commit.
    std::uint32_t uid = 0;
    bool stored = false;
    bool finished = false;  // guarded by the mailbox's queue_lock
};

namespace {

// Whether a used record names the body number already (possible only
// when another writer numbered a body past what this process knew).
bool NumberListed(const MailboxIndexFile& index, std::int32_t number) {
    return std::any_of(index.slots.begin(), index.slots.end(),
                       [&](const MailboxRecord& r) { return !r.IsFree() && r.FileNumber == number; });
}

// Gives a waiting store its slot and UID in `index`. False (and `index`
// unchanged) when the mailbox is full.
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
    if (add.file_number <= header.LastFileNumber() && NumberListed(index, add.file_number)) {
        QUORVEX_ERROR_LOG("body number " + std::to_string(add.file_number) + " already listed in " + *add.folder);
        return false;
    }
    if (free_slot == index.slots.end()) index.slots.emplace_back();

    MailboxRecord& r = index.slots[slot];
    r.Slot = static_cast<std::int32_t>(slot);
    r.Size = add.size;
    r.FileNumber = add.file_number;
    r.Uid = static_cast<std::uint32_t>(header.LastUid() + 1);
    r.Folder = static_cast<std::uint16_t>(folder);
    r.Position = header.MessageCount(folder);
    r.Marks = add.read ? 1 : 0;
    header.SetLastFileNumber(std::max(header.LastFileNumber(), r.FileNumber));
    header.SetLastUid(static_cast<std::int32_t>(r.Uid));
    header.SetMessageCount(folder, header.MessageCount(folder) + 1);
    header.SetTotalBytes(folder, header.TotalBytes(folder) + add.size);
    header.SetRecordCount(static_cast<std::int32_t>(index.slots.size()));
    add.uid = r.Uid;
    return true;
}

// Lists every waiting store of the batch in one index rewrite per account
// folder, in the order of their body numbers. The caller holds the
// mailbox's lock; bodies of stores that fail are removed by their owners.
void StoreBatch(Mailbox& box, std::vector<PendingAdd*>& batch) {
    std::sort(batch.begin(), batch.end(),
              [](const PendingAdd* a, const PendingAdd* b) { return a->file_number < b->file_number; });
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
        for (PendingAdd* add : placed) add->stored = written;
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
}  // namespace store

using namespace store;

namespace {

bool StoreBody(std::string_view account, const BodySource& source, std::int64_t size, std::string* uid_text,
               int folder, bool scramble, bool read) {
    const auto account_folder = GetAccountFolderPath(account);
    if (!account_folder || folder < 0 || folder >= kMailboxFolderCount) return false;
    if (size > kMaxFolderBytes) {
        QUORVEX_ERROR_LOG("message too large for a mailbox in " + *account_folder);
        return false;
    }
    // The body is written and flushed under its final name before the
    // mailbox is locked; the commit only lists it.
    Mailbox& box = MailboxOf(account);
    StagedBody body;
    if (!body.Write(box, *account_folder, source, scramble ? MailStoreKey(account) : 0)) return false;

    PendingAdd add;
    add.folder = &*account_folder;
    add.file_number = body.number();
    add.mail_folder = folder;
    add.read = read;
    add.size = static_cast<std::int32_t>(size);
    CommitInTurn(box, add);
    if (!add.stored) return false;
    body.Keep();
    if (uid_text && uid_text->empty()) *uid_text = std::to_string(add.uid);
    return true;
}

}  // namespace

bool AddMessageToMailbox(std::string_view account, const std::string& source, std::string* uid_text, int folder,
                         bool scramble, bool read) {
    struct stat st {};
    if (::stat(source.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    return StoreBody(account, BodySource{{}, &source}, st.st_size, uid_text, folder, scramble, read);
}

bool AddMessageTextToMailbox(std::string_view account, std::string_view text, std::string* uid_text, int folder,
                             bool scramble, bool read) {
    return StoreBody(account, BodySource{text, nullptr}, static_cast<std::int64_t>(text.size()), uid_text, folder,
                     scramble, read);
}

}  // namespace quorvex
