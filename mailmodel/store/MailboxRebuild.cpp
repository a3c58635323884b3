// The rebuild of a mailbox from the messages of its "back" folder.
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <cstdio>
#include <vector>

#include "common/AtomicFile.h"
#include "common/ErrorLog.h"
#include "common/Paths.h"
#include "mailmodel/FolderListing.h"
#include "mailmodel/account/AccountFolders.h"
#include "mailmodel/store/MailStore.h"
#include "mailmodel/store/MailboxCache.h"
#include "mailmodel/store/MailboxFolder.h"
#include "mailmodel/store/PendingRemovals.h"

namespace quorvex {

namespace {

using store::IndexPath;

// For the rebuild: a damaged index is moved aside (kept for inspection
// under a name of its own) and replaced by one that lists the bodies in
// the folder with UIDs after the last one given. The caller holds the
// mailbox's lock. False when the damaged index cannot be replaced.
// The last UID a damaged index still tells (its header's third field),
// when it is long enough to hold it.
std::uint32_t LastUidOf(const std::string& bytes) {
    if (bytes.size() < 12) return 0;
    std::uint32_t v = 0;
    for (int i = 11; i >= 8; --i) v = v << 8 | static_cast<unsigned char>(bytes[static_cast<std::size_t>(i)]);
    return store::PlausibleLastUid(v) ? v : 0;
}

bool ReplaceDamagedIndex(store::Mailbox& box, const std::string& folder) {
    const std::string path = IndexPath(folder);
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) return true;  // missing: the store creates one
    MailboxIndexFile index;
    std::string error;
    if (ParseMailboxIndex(bytes, index, error)) return true;
    const std::string aside = store::FreeDamagedIndexPath(folder);
    if (::rename(path.c_str(), aside.c_str()) != 0) {
        QUORVEX_ERROR_LOG("rebuild cannot move the damaged index " + path + " aside");
        return false;
    }
    auto fresh = std::make_unique<MailboxIndexFile>();
    fresh->header.SetLastUid(static_cast<std::int32_t>(std::max(store::ReadLastUid(folder), LastUidOf(bytes))));
    // Bodies a committed deletion left are no mail: the next reconcile
    // removes them.
    const store::BodiesListed found = store::ListUnlistedBodies(
        folder, *fresh, store::ScanFolderBodies(folder).value_or(store::FolderBodies{}), store::ReadPendingRemovals(folder));
    if (!store::KeepUidsUpTo(box, folder, static_cast<std::uint32_t>(fresh->header.LastUid())) ||
        !store::WriteAndRemember(box, folder, std::move(fresh))) {
        return false;
    }
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
