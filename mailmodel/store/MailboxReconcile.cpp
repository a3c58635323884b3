// Reconciling an index with the files of its folder.
#include "mailmodel/store/MailboxReconcile.h"

#include <algorithm>
#include <array>

#include "common/ErrorLog.h"
#include "mailmodel/store/PendingRemovals.h"

namespace quorvex::store {

namespace {

// Bodies still to remove: those the index lists were never dropped by a
// committed deletion (the process stopped before its index was in place,
// or an older index was put back) and stay; the others go.
std::vector<std::int32_t> RemoveLeftBodies(const std::string& folder, const MailboxIndexFile& index,
                                           FolderBodies& found, std::vector<std::int32_t>& removals, int& removed) {
    std::vector<std::int32_t> listed;
    for (const MailboxRecord& r : index.slots)
        if (!r.IsFree()) listed.push_back(r.FileNumber);
    std::sort(listed.begin(), listed.end());
    std::vector<std::int32_t> to_remove;
    for (const std::int32_t n : removals)
        if (!std::binary_search(listed.begin(), listed.end(), n) && found.Named(n)) to_remove.push_back(n);
    std::vector<std::int32_t> left = RemoveBodies(folder, to_remove);
    removed = static_cast<int>(to_remove.size() - left.size());
    std::erase_if(found.regular, [&](const FolderBodies::Body& b) {
        return std::binary_search(to_remove.begin(), to_remove.end(), b.number) &&
               !std::binary_search(left.begin(), left.end(), b.number);
    });
    return left;
}

// Drops records whose body is gone and takes each size from its file;
// the positions of each folder close up and its totals are counted again.
void CheckRecords(const std::string& folder, MailboxIndexFile& index, const FolderBodies& found, Reconciled& out) {
    std::array<std::vector<MailboxRecord*>, kMailboxFolderCount> kept;
    for (MailboxRecord& r : index.slots) {
        if (r.IsFree()) continue;
        if (!found.Named(r.FileNumber) && !BodyMayExist(folder, r.FileNumber)) {
            r.Position = -1;
            r.Changes = kChangeDelete;
            ++out.dropped;
            continue;
        }
        kept[r.Folder].push_back(&r);
    }
    for (int k = 0; k < kMailboxFolderCount; ++k) {
        std::sort(kept[k].begin(), kept[k].end(),
                  [](const MailboxRecord* a, const MailboxRecord* b) { return a->Position < b->Position; });
        // Sizes taken from the files may pass the folder's 32-bit total:
        // then the folder keeps its recorded sizes.
        std::int64_t from_files = 0;
        for (const MailboxRecord* r : kept[k]) {
            const FolderBodies::Body* body = found.Find(r->FileNumber);
            from_files += body ? body->size : r->Size;
        }
        const bool take_sizes = from_files <= kMaxFolderBytes;
        if (!take_sizes) QUORVEX_ERROR_LOG("record sizes in " + folder + " left as recorded: the files' sizes pass the total");
        std::int64_t bytes = 0;
        for (std::size_t i = 0; i < kept[k].size(); ++i) {
            MailboxRecord& r = *kept[k][i];
            r.Position = static_cast<std::int32_t>(i);
            const FolderBodies::Body* body = found.Find(r.FileNumber);
            if (take_sizes && body && body->size != r.Size) {
                r.Size = static_cast<std::int32_t>(body->size);
                ++out.resized;
            }
            bytes += r.Size;
        }
        index.header.SetMessageCount(k, static_cast<std::int32_t>(kept[k].size()));
        index.header.SetTotalBytes(k, static_cast<std::int32_t>(bytes));
    }
}

// The last UID is past every record's, and a value no mailbox reaches is
// not believed.
void CheckLastUid(const std::string& folder, MailboxIndexFile& index, std::uint32_t kept_uid, Reconciled& out) {
    std::uint32_t highest = 0;
    for (const MailboxRecord& r : index.slots)
        if (!r.IsFree()) highest = std::max(highest, r.Uid);
    auto last = static_cast<std::uint32_t>(index.header.LastUid());
    if (!PlausibleLastUid(last) && last > highest) {
        QUORVEX_ERROR_LOG("damaged last UID " + std::to_string(last) + " in the index of " + folder +
                          ", numbering goes on after " + std::to_string(std::max(highest, kept_uid)));
        last = std::max(highest, kept_uid);
        out.uid_reset = true;
    }
    if (highest > last && highest <= INT32_MAX) last = highest;
    last = std::max(last, kept_uid);
    if (last != static_cast<std::uint32_t>(index.header.LastUid())) {
        index.header.SetLastUid(static_cast<std::int32_t>(last));
        out.changed = true;
    }
}

}  // namespace

Reconciled ReconcileWithFolder(const std::string& folder, MailboxIndexFile& index, bool on_disk,
                               std::uint32_t kept_uid, std::vector<std::int32_t>& removals) {
    Reconciled out;
    auto found = ScanFolderBodies(folder);
    if (!found) {
        QUORVEX_ERROR_LOG("cannot read the mailbox folder " + folder + " to check its index");
        return out;
    }
    const std::vector<MailboxRecord> before = index.slots;
    const MailboxIndexHeader header_before = index.header;
    removals = RemoveLeftBodies(folder, index, *found, removals, out.removed);
    CheckRecords(folder, index, *found, out);
    CheckLastUid(folder, index, kept_uid, out);
    out.found = ListUnlistedBodies(folder, index, *found, removals);
    out.changed = out.changed || index.slots != before || index.header.bytes() != header_before.bytes();

    if (out.removed > 0)
        QUORVEX_ERROR_LOG("message files of committed deletions removed from " + folder + ": " +
                          std::to_string(out.removed));
    if (out.dropped > 0)
        QUORVEX_ERROR_LOG("records whose message file is gone dropped from the index of " + folder + ": " +
                          std::to_string(out.dropped));
    if (out.resized > 0)
        QUORVEX_ERROR_LOG("record sizes corrected to their message files in " + folder + ": " +
                          std::to_string(out.resized));
    const BodiesListed& f = out.found;
    if (f.listed + f.unlisted > 0) {
        const std::string kept =
            f.unlisted > 0 ? ", kept unlisted (mailbox full): " + std::to_string(f.unlisted) : std::string();
        QUORVEX_ERROR_LOG((on_disk ? "message files the index did not list listed in " + folder + ": "
                                   : "mailbox index missing in " + folder + ", message files found listed in a new one: ") +
                          std::to_string(f.listed) + kept);
    }
    return out;
}

}  // namespace quorvex::store
