// The rebuild of a mailbox from the messages of its "back" folder.
#include "mailmodel/store/MailStore.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdio>

#include "common/AtomicFile.h"
#include "common/ErrorLog.h"
#include "common/Paths.h"
#include "mailmodel/FolderListing.h"
#include "mailmodel/account/AccountFolders.h"
#include "mailmodel/store/MailboxCache.h"
#include "mailmodel/store/StagedBody.h"

namespace quorvex {

namespace {

using store::IndexPath;
using store::WriteIndex;

// The highest number of a "<number>.eml" body in the folder, 0 for none.
std::int32_t HighestBodyNumber(const std::string& folder) {
    std::int32_t highest = 0;
    for (const std::string& name : ListFolder(folder)) {
        if (const auto n = store::BodyNumberOf(name); n && *n > highest && *n < INT32_MAX) highest = *n;
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
    const std::string aside = store::DamagedIndexPath(folder);
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
