// The record of bodies still to remove, and the space held for deletions.
#include "mailmodel/store/PendingRemovals.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/AtomicFile.h"
#include "common/ErrorLog.h"
#include "common/FileSteps.h"
#include "common/Paths.h"
#include "common/UniqueFd.h"
#include "mailmodel/store/MailboxFolder.h"
#include "mailmodel/store/MailboxIndex.h"

namespace quorvex::store {

namespace {

// The spare grows in steps of this many bytes, so that a growing mailbox
// seldom has to allocate.
constexpr std::int64_t kSpareStep = 16 * 1024;
// Blocks beyond the files' bytes: their last blocks and a folder block.
constexpr std::int64_t kSpareSlack = 3 * 4096;
// The longest line of the record of removals: ten digits and a line end.
constexpr std::int64_t kRemovalLineBytes = 11;

std::string RemovalsPath(const std::string& folder) { return JoinPath(folder, kPendingRemovalsFile); }
std::string SparePath(const std::string& folder) { return JoinPath(folder, kSpareFile); }

}  // namespace

std::vector<std::int32_t> ReadPendingRemovals(const std::string& folder) {
    std::string text;
    if (!ReadWholeFile(RemovalsPath(folder), text)) {
        if (errno != ENOENT) QUORVEX_ERROR_LOG("cannot read the message files still to remove in " + folder);
        return {};
    }
    std::vector<std::int32_t> numbers;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const auto number = BodyNumberOf(text.substr(start, end - start) + ".eml");
        if (!number) {
            QUORVEX_ERROR_LOG("damaged record of message files still to remove in " + folder);
            return {};
        }
        numbers.push_back(*number);
        start = end + 1;
    }
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    return numbers;
}

bool WritePendingRemovals(const std::string& folder, const std::vector<std::int32_t>& numbers) {
    std::string text;
    for (const std::int32_t n : numbers) text.append(std::to_string(n)).append("\n");
    return AtomicWriteFile(RemovalsPath(folder), text);
}

std::vector<std::int32_t> RemoveBodies(const std::string& folder, const std::vector<std::int32_t>& numbers) {
    std::vector<std::int32_t> left;
    for (const std::int32_t n : numbers) {
        const std::string path = BodyPath(folder, n);
        if (fs::Unlink(path) || errno == ENOENT) continue;
        QUORVEX_ERROR_LOG("cannot remove the message file " + path + " of a deleted message: " + std::strerror(errno));
        left.push_back(n);
    }
    if (!numbers.empty()) fs::SyncFolder(folder);
    return left;
}

void KeepPendingRemovals(const std::string& folder, const std::vector<std::int32_t>& left) {
    if (!left.empty()) {
        WritePendingRemovals(folder, left);  // else the older record, a superset, stays
        return;
    }
    const std::string path = RemovalsPath(folder);
    if (::access(path.c_str(), F_OK) == 0) fs::Unlink(path);
}

std::int64_t SpareBytesFor(std::size_t slots) {
    const auto n = static_cast<std::int64_t>(slots);
    const std::int64_t need = static_cast<std::int64_t>(kIndexHeaderSize) +
                              n * (static_cast<std::int64_t>(kIndexRecordSize) + kRemovalLineBytes) + kSpareSlack;
    return (need + kSpareStep - 1) / kSpareStep * kSpareStep;
}

bool HoldSpare(const std::string& folder, std::int64_t bytes) {
    const std::string path = SparePath(folder);
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd) return false;
    struct stat st {};
    if (::fstat(fd.get(), &st) == 0 && st.st_size >= bytes &&
        static_cast<std::int64_t>(st.st_blocks) * 512 >= bytes) {
        return true;
    }
    return ::posix_fallocate(fd.get(), 0, static_cast<off_t>(bytes)) == 0;
}

bool ReleaseSpare(const std::string& folder) {
    const std::string path = SparePath(folder);
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && fs::Unlink(path);
}

}  // namespace quorvex::store
