// The rebuild of a mailbox from the messages of its "back" folder, and the
// listing of bodies found without an index.
#include "mailmodel/store/MailboxRebuild.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <vector>

#include "common/AtomicFile.h"
#include "common/ErrorLog.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "mailmodel/FolderListing.h"
#include "mailmodel/account/AccountFolders.h"
#include "mailmodel/store/MailStore.h"
#include "mailmodel/store/MailboxCache.h"
#include "mailmodel/store/StagedBody.h"

namespace quorvex {

namespace store {

bool HoldsOldFormatMessages(const std::string& folder) {
    return ProfileFile(JoinPath(folder, "maillist.ini")).Load()->HasSection("List");
}

BodiesListed ListBodiesInNewIndex(const std::string& folder, MailboxIndexFile& index, NumbersInFlight in_flight) {
    struct Body {
        std::int32_t number;
        std::int64_t size;
    };
    std::vector<Body> bodies;
    std::int32_t highest = 0;
    const bool old_format = HoldsOldFormatMessages(folder);
    for (const std::string& name : ListFolder(folder)) {
        const auto number = BodyNumberOf(name);
        // The last number possible is left out: nothing could follow it.
        if (!number || *number == INT32_MAX) continue;
        highest = std::max(highest, *number);
        struct stat st {};
        if (old_format || in_flight.Holds(*number) || ::lstat(JoinPath(folder, name).c_str(), &st) != 0 ||
            !S_ISREG(st.st_mode)) {
            continue;
        }
        bodies.push_back({*number, st.st_size});
    }
    std::sort(bodies.begin(), bodies.end(), [](const Body& a, const Body& b) { return a.number < b.number; });

    BodiesListed result;
    std::int64_t total = 0;
    for (const Body& body : bodies) {
        if (index.slots.size() >= static_cast<std::size_t>(kMaxMailboxRecords) || total + body.size > kMaxFolderBytes) {
            ++result.unlisted;
            continue;
        }
        MailboxRecord r;
        r.Slot = r.Position = static_cast<std::int32_t>(index.slots.size());
        r.FileNumber = body.number;
        r.Uid = static_cast<std::uint32_t>(body.number);
        r.Size = static_cast<std::int32_t>(body.size);
        total += body.size;
        index.slots.push_back(r);
    }
    result.listed = static_cast<int>(index.slots.size());
    MailboxIndexHeader& header = index.header;
    header.SetRecordCount(result.listed);
    header.SetMessageCount(0, result.listed);
    header.SetTotalBytes(0, static_cast<std::int32_t>(total));
    header.SetLastFileNumber(highest);
    header.SetLastUid(highest);
    return result;
}

}  // namespace store

namespace {

using store::IndexPath;
using store::WriteIndex;

// For the rebuild: a damaged index is moved aside (kept for inspection as
// "mailinfo.dat.damaged") and replaced by one that lists the bodies in the
// folder, whose numbers continue after every one of them. The caller holds
// the mailbox's lock. False when the damaged index cannot be replaced.
bool ReplaceDamagedIndex(store::Mailbox& box, const std::string& folder) {
    const std::string path = IndexPath(folder);
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) return true;  // missing: the store creates one
    MailboxIndexFile index;
    std::string error;
    if (ParseMailboxIndex(bytes, index, error)) return true;
    const std::string aside = store::DamagedIndexPath(folder);
    if (::rename(path.c_str(), aside.c_str()) != 0) {
        QUORVEX_ERROR_LOG("rebuild cannot move the damaged index " + path + " aside");
        return false;
    }
    MailboxIndexFile fresh;
    const store::BodiesListed found = store::ListBodiesInNewIndex(folder, fresh, store::InFlight(box, folder));
    if (!WriteIndex(folder, fresh)) return false;
    QUORVEX_ERROR_LOG("rebuild replaced the damaged index " + path + " (kept as " + aside + ", message files listed: " +
                      std::to_string(found.listed) + ", not fitting: " + std::to_string(found.unlisted) + "): " + error);
    return true;
}

}  // namespace

bool RestoreBackupMails(std::string_view account) {
    const auto folder = GetAccountFolderPath(account);
    if (!folder) return false;
    {
        store::Mailbox& box = store::MailboxOf(account);
        std::lock_guard guard(box.lock);
        if (!ReplaceDamagedIndex(box, *folder)) return false;
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
