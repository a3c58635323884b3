// Bodies written under their final names, and the sweep of what
// interrupted stores and commits left in a mailbox's folder.
#include "mailmodel/store/StagedBody.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <ctime>
#include <memory>
#include <vector>

#include "common/AtomicFile.h"
#include "common/ByteScramble.h"
#include "common/ErrorLog.h"
#include "common/FileSteps.h"
#include "common/Paths.h"
#include "common/UniqueFd.h"
#include "mailmodel/FolderListing.h"
#include "mailmodel/store/MailStore.h"
#include "mailmodel/store/MailboxCache.h"
#include "mailmodel/store/MailboxRebuild.h"

namespace quorvex::store {

namespace {

constexpr std::size_t kCopyBlock = 64 * 1024;
// A new body's number may be taken by a file nobody listed (left by
// another process): so many numbers are tried before the store gives up.
constexpr int kNumberAttempts = 64;

// Staged bodies of the older kind: a name of their own, renamed at the
// commit. One older than this that no writer holds was left by a writer
// that died.
constexpr std::string_view kIncomingPrefix = ".incoming-";
constexpr std::time_t kStaleIncomingAge = 60;

bool WriteScrambled(int fd, std::string_view text, std::uint8_t key, const std::string& path) {
    if (key == 0) return fs::WriteAll(fd, text, path);
    std::unique_ptr<char[]> block(new char[kCopyBlock]);
    while (!text.empty()) {
        const std::size_t n = std::min(text.size(), kCopyBlock);
        ScrambleBytes(text.data(), block.get(), n, key);
        if (!fs::WriteAll(fd, std::string_view(block.get(), n), path)) return false;
        text.remove_prefix(n);
    }
    return true;
}

// An older staged body nobody holds any more.
bool IsDeadIncoming(const std::string& path, std::time_t now) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (now - st.st_mtim.tv_sec < kStaleIncomingAge) return false;
    return ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0;  // else its writer still lives
}

}  // namespace

StagedBody::~StagedBody() {
    if (number_ == 0 || (!path_.empty() && !fs::Unlink(path_))) return;
    ReleaseBodyNumber(*box_, folder_, number_);
}

bool StagedBody::Write(Mailbox& box, const std::string& folder, const BodySource& source, std::uint8_t key) {
    box_ = &box;
    folder_ = folder;
    UniqueFd fd;
    for (int attempt = 0; attempt < kNumberAttempts && !fd; ++attempt) {
        number_ = ReserveBodyNumber(box, folder);
        if (number_ == 0) return false;
        const std::string path = BodyPath(folder, number_);
        fd = fs::CreateNew(path, 0600);
        if (fd) {
            path_ = path;
        } else if (errno != EEXIST) {
            return false;
        }
        // A number whose file exists is passed over, never given back.
        if (!fd) number_ = 0;
    }
    if (!fd) {
        QUORVEX_ERROR_LOG("no free body number in " + folder);
        return false;
    }
    const bool written = source.path ? ScrambleCopyInto(*source.path, fd.get(), key, path_)
                                     : WriteScrambled(fd.get(), source.text, key, path_);
    return written && fs::Sync(fd.get(), path_) && fs::Close(fd, path_);
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

void SweepLeftovers(const std::string& folder, const MailboxIndexFile* read_index) {
    const std::vector<std::string> names = ListFolder(folder);
    const std::string index_temp = std::string(kMailboxIndexFile) + std::string(kAtomicTempInfix);
    bool keep_numbered = read_index == nullptr || HoldsOldFormatMessages(folder);
    for (const std::string& name : names) {
        if (name == BaseName(DamagedIndexPath(folder))) keep_numbered = true;
    }
    // The bodies the index lists, and those of its freed slots: garbage
    // when still there.
    std::vector<std::int32_t> listed;
    std::vector<std::int32_t> freed;
    if (read_index) {
        for (const MailboxRecord& r : read_index->slots) (r.IsFree() ? freed : listed).push_back(r.FileNumber);
    }
    std::sort(listed.begin(), listed.end());
    std::sort(freed.begin(), freed.end());
    const std::int32_t last = read_index ? read_index->header.LastFileNumber() : 0;

    const std::time_t now = std::time(nullptr);
    int removed = 0;
    int unexplained = 0;
    for (const std::string& name : names) {
        const std::string path = JoinPath(folder, name);
        bool leftover = false;
        if (name.starts_with(kIncomingPrefix)) {
            leftover = IsDeadIncoming(path, now);
        } else if (name.starts_with(index_temp)) {
            leftover = true;
        } else if (const auto number = BodyNumberOf(name); number && !keep_numbered) {
            struct stat st {};
            if (!std::binary_search(listed.begin(), listed.end(), *number) && ::lstat(path.c_str(), &st) == 0 &&
                S_ISREG(st.st_mode)) {
                leftover = *number > last || std::binary_search(freed.begin(), freed.end(), *number);
                if (!leftover) ++unexplained;
            }
        }
        if (leftover && fs::Unlink(path)) ++removed;
    }
    if (removed > 0) {
        QUORVEX_ERROR_LOG("leftover files of interrupted stores and commits removed from " + folder + ": " +
                          std::to_string(removed));
    }
    if (unexplained > 0) {
        QUORVEX_ERROR_LOG("message files the index does not list kept in " + folder + ": " +
                          std::to_string(unexplained));
    }
}

}  // namespace quorvex::store
