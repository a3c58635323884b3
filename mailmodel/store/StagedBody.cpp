// Bodies written under staging names and committed by a rename.
#include "mailmodel/store/StagedBody.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "common/ByteScramble.h"
#include "common/FileSteps.h"
#include "mailmodel/store/MailStore.h"
#include "mailmodel/store/MailboxFolder.h"

namespace quorvex::store {

namespace {

constexpr std::size_t kCopyBlock = 64 * 1024;

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

}  // namespace

StagedBody::~StagedBody() {
    if (!staging_.empty()) {
        fs::Unlink(staging_);
    } else if (number_ != 0 && !kept_) {
        fs::Unlink(BodyPath(folder_, number_));
    }
}

bool StagedBody::Write(const std::string& folder, const BodySource& source, std::uint8_t key) {
    folder_ = folder;
    // The steps on an unnamed body are shown to a watcher under the
    // staging template.
    std::string path = StagingTemplate(folder);
    lock_ = fs::CreateUnnamed(folder, path);
    if (!lock_ && errno != EOPNOTSUPP && errno != EISDIR) return false;
    if (!lock_) {
        lock_ = fs::CreateTemporary(path);
        if (!lock_) return false;
        staging_ = path;
        // Held until the body is committed or removed: a sweep by another
        // process passes over a staging body whose writer lives.
        if (::flock(lock_.get(), LOCK_EX | LOCK_NB) != 0) return false;
    }
    const bool written = source.path ? ScrambleCopyInto(*source.path, lock_.get(), key, path)
                                     : WriteScrambled(lock_.get(), source.text, key, path);
    return written && fs::Sync(lock_.get(), path);
}

bool StagedBody::Commit(std::int32_t number) {
    const std::string target = BodyPath(folder_, number);
    if (staging_.empty() ? !fs::LinkNew(lock_.get(), target) : !fs::RenameNew(staging_, target)) return false;
    staging_.clear();
    number_ = number;
    lock_.reset();
    return true;
}

void StagedBody::Uncommit() {
    if (number_ == 0) return;
    fs::Unlink(BodyPath(folder_, number_));
    number_ = 0;
}

}  // namespace quorvex::store
