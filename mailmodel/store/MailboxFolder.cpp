// The files of a mailbox folder: names, the listing of committed bodies
// no index lists, the sweep of staging names, the last UID kept.
#include "mailmodel/store/MailboxFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <ctime>
#include <vector>

#include "common/AtomicFile.h"
#include "common/ErrorLog.h"
#include "common/FileSteps.h"
#include "common/ProfileFile.h"
#include "common/UniqueFd.h"
#include "mailmodel/FolderListing.h"

namespace quorvex::store {

namespace {

// A staging body younger than this is left alone even when nobody holds
// it: its writer may not have taken its lock yet.
constexpr std::time_t kStaleStagingAge = 60;

// A staging body nobody holds any more.
bool IsDeadStaging(const std::string& path, std::time_t now) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (now - st.st_mtim.tv_sec < kStaleStagingAge) return false;
    return ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0;  // else its writer still lives
}

using Body = FolderBodies::Body;

}  // namespace

bool BodyMayExist(const std::string& folder, std::int32_t number) {
    struct stat st {};
    return ::lstat(BodyPath(folder, number).c_str(), &st) == 0 || errno != ENOENT;
}

const FolderBodies::Body* FolderBodies::Find(std::int32_t number) const {
    const auto it = std::lower_bound(regular.begin(), regular.end(), number,
                                     [](const Body& b, std::int32_t n) { return b.number < n; });
    return it != regular.end() && it->number == number ? &*it : nullptr;
}

bool FolderBodies::Named(std::int32_t number) const { return std::binary_search(names.begin(), names.end(), number); }

std::optional<FolderBodies> ScanFolderBodies(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return std::nullopt;
    FolderBodies found;
    while (const dirent* entry = ::readdir(dir)) {
        const auto number = BodyNumberOf(entry->d_name);
        if (!number) continue;
        found.names.push_back(*number);
        found.highest = std::max(found.highest, *number);
        struct stat st {};
        if (::lstat(JoinPath(folder, entry->d_name).c_str(), &st) == 0 && S_ISREG(st.st_mode))
            found.regular.push_back({*number, st.st_size});
    }
    ::closedir(dir);
    std::sort(found.names.begin(), found.names.end());
    std::sort(found.regular.begin(), found.regular.end(), [](const Body& a, const Body& b) { return a.number < b.number; });
    return found;
}

std::optional<std::int32_t> NumberAfterTaken(const std::string& folder, const MailboxIndexFile& index,
                                             std::int32_t tried, std::int32_t floor) {
    const auto found = ScanFolderBodies(folder);
    if (!found) return std::nullopt;
    const std::int32_t highest = std::max(found->highest, tried);
    if (highest < INT32_MAX) return highest + 1;
    std::vector<std::int32_t> taken = found->names;
    for (const MailboxRecord& r : index.slots) taken.push_back(r.FileNumber);
    std::sort(taken.begin(), taken.end());
    std::int32_t candidate = std::max(floor, 0);
    for (const std::int32_t n : taken) {
        if (n <= candidate) continue;
        if (n > candidate + 1) break;
        candidate = n;
    }
    if (candidate == INT32_MAX) return std::nullopt;
    return candidate + 1;
}

std::string FreeDamagedIndexPath(const std::string& folder) {
    const std::string first = IndexPath(folder) + ".damaged";
    struct stat st {};
    if (::lstat(first.c_str(), &st) != 0) return first;
    for (int n = 2;; ++n) {
        std::string path = first + "." + std::to_string(n);
        if (::lstat(path.c_str(), &st) != 0) return path;
    }
}

std::optional<std::int32_t> BodyNumberOf(std::string_view name) {
    constexpr std::string_view kEnding = ".eml";
    if (name.size() <= kEnding.size() || name.substr(name.size() - kEnding.size()) != kEnding) return std::nullopt;
    const std::string_view digits = name.substr(0, name.size() - kEnding.size());
    if (digits.size() > 10 || digits.front() < '1' || digits.front() > '9') return std::nullopt;
    long long n = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (c - '0');
    }
    if (n > INT32_MAX) return std::nullopt;
    return static_cast<std::int32_t>(n);
}

bool HoldsOldFormatMessages(const std::string& folder) {
    return ProfileFile(JoinPath(folder, "maillist.ini")).Load()->HasSection("List");
}

BodiesListed ListUnlistedBodies(const std::string& folder, MailboxIndexFile& index) {
    return ListUnlistedBodies(folder, index, ScanFolderBodies(folder).value_or(FolderBodies{}), {});
}

BodiesListed ListUnlistedBodies(const std::string& folder, MailboxIndexFile& index, const FolderBodies& found,
                                const std::vector<std::int32_t>& skipped) {
    BodiesListed result;
    const bool old_format = HoldsOldFormatMessages(folder);
    std::vector<std::int32_t> listed;
    for (const MailboxRecord& r : index.slots)
        if (!r.IsFree()) listed.push_back(r.FileNumber);
    std::sort(listed.begin(), listed.end());

    MailboxIndexHeader& header = index.header;
    header.SetLastFileNumber(std::max(header.LastFileNumber(), found.highest));
    std::vector<Body> bodies;
    for (const Body& body : found.regular) {
        if (old_format || std::binary_search(listed.begin(), listed.end(), body.number) ||
            std::binary_search(skipped.begin(), skipped.end(), body.number)) {
            continue;
        }
        bodies.push_back(body);
    }

    std::size_t free_slot = 0;
    for (const Body& body : bodies) {
        while (free_slot < index.slots.size() && !index.slots[free_slot].IsFree()) ++free_slot;
        const bool room = free_slot < index.slots.size() || index.slots.size() < static_cast<std::size_t>(kMaxMailboxRecords);
        if (!room || header.TotalBytes(0) + body.size > kMaxFolderBytes || header.LastUid() == INT32_MAX) {
            ++result.unlisted;
            continue;
        }
        if (free_slot == index.slots.size()) index.slots.emplace_back();
        MailboxRecord& r = index.slots[free_slot];
        r = MailboxRecord{};
        r.Slot = static_cast<std::int32_t>(free_slot);
        r.Position = header.MessageCount(0);
        r.FileNumber = body.number;
        r.Uid = static_cast<std::uint32_t>(header.LastUid()) + 1;
        r.Size = static_cast<std::int32_t>(body.size);
        header.SetLastUid(static_cast<std::int32_t>(r.Uid));
        header.SetMessageCount(0, header.MessageCount(0) + 1);
        header.SetTotalBytes(0, static_cast<std::int32_t>(header.TotalBytes(0) + body.size));
        ++result.listed;
    }
    header.SetRecordCount(static_cast<std::int32_t>(index.slots.size()));
    return result;
}

void SweepStagingNames(const std::string& folder) {
    const std::string index_temp = std::string(kMailboxIndexFile) + std::string(kAtomicTempInfix);
    const std::string uid_temp = std::string(kLastUidFile) + std::string(kAtomicTempInfix);
    const std::string removals_temp = std::string(kPendingRemovalsFile) + std::string(kAtomicTempInfix);
    const std::time_t now = std::time(nullptr);
    int removed = 0;
    for (const std::string& name : ListFolder(folder)) {
        const std::string path = JoinPath(folder, name);
        const bool leftover = name.starts_with(kStagingPrefix) ? IsDeadStaging(path, now)
                                                               : name.starts_with(index_temp) || name.starts_with(uid_temp) ||
                                                                     name.starts_with(removals_temp);
        if (leftover && fs::Unlink(path)) ++removed;
    }
    if (removed > 0) {
        QUORVEX_ERROR_LOG("leftover files of interrupted stores and commits removed from " + folder + ": " +
                          std::to_string(removed));
    }
}

std::uint32_t ReadLastUid(const std::string& folder) {
    std::string text;
    if (!ReadWholeFile(LastUidPath(folder), text)) {
        if (errno != ENOENT) QUORVEX_ERROR_LOG("cannot read the last UID kept in " + folder);
        return 0;
    }
    std::uint64_t uid = 0;
    std::size_t digits = 0;
    while (digits < text.size() && digits < 10 && text[digits] >= '0' && text[digits] <= '9') {
        uid = uid * 10 + static_cast<std::uint64_t>(text[digits] - '0');
        ++digits;
    }
    if (digits == 0 || uid > INT32_MAX || !PlausibleLastUid(static_cast<std::uint32_t>(uid))) {
        QUORVEX_ERROR_LOG("damaged last UID file in " + folder);
        return 0;
    }
    return static_cast<std::uint32_t>(uid);
}

bool WriteLastUid(const std::string& folder, std::uint32_t uid) {
    PreparedFile file;
    if (file.Write(LastUidPath(folder), std::to_string(uid) + "\n") && file.Install()) return true;
    QUORVEX_ERROR_LOG("cannot keep the last UID in " + folder);
    return false;
}

}  // namespace quorvex::store
