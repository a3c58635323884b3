// Receiving a message into memory or a spool file.
#include "servers/smtp/MessageFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/AtomicFile.h"

namespace quorvex::smtp {

void MessageFile::Begin(std::function<std::string()> spool_path, std::size_t memory_limit) {
    Discard();
    spool_path_ = std::move(spool_path);
    memory_limit_ = memory_limit;
    error_ = 0;
}

void MessageFile::Fail(int error) {
    if (error_ == 0) error_ = error != 0 ? error : EIO;
}

bool MessageFile::Spool() {
    if (spooled_) return file_.holds_file();
    spooled_ = true;
    std::string path = spool_path_ ? spool_path_() : std::string();
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd) {
        Fail(errno);
        buffer_.clear();
        return false;
    }
    file_ = TemporaryFile(std::move(path), std::move(fd));
    return true;
}

bool MessageFile::Write(std::string_view bytes) {
    if (error_ != 0) return false;
    size_ += static_cast<long long>(bytes.size());
    if (!spooled_ && buffer_.size() + bytes.size() > memory_limit_ && !Spool()) return false;
    if (spooled_ && buffer_.size() + bytes.size() > kBufferSize && !Flush()) return false;
    if (spooled_ && bytes.size() >= kBufferSize) {
        buffer_.assign(bytes);
        return Flush();
    }
    buffer_.append(bytes);
    return true;
}

bool MessageFile::Flush() {
    errno = 0;
    if (!WriteFully(file_.fd().get(), buffer_)) {
        Fail(errno);
        file_.Remove();
        buffer_.clear();
        return false;
    }
    buffer_.clear();
    return true;
}

bool MessageFile::Finish() {
    finished_ = true;
    if (error_ != 0) return false;
    if (!spooled_) return true;
    const bool flushed = Flush();
    errno = 0;
    if (!file_.fd().close_checked()) Fail(errno);
    return flushed && error_ == 0;
}

void MessageFile::Discard() {
    file_.Remove();
    buffer_.clear();
    buffer_.shrink_to_fit();
    size_ = 0;
    spooled_ = false;
    finished_ = false;
}

std::int64_t MessageFile::size() const {
    if (!spooled_) return static_cast<std::int64_t>(buffer_.size());
    struct stat st {};
    return ::stat(file_.path().c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : 0;
}

std::optional<std::string_view> MessageFile::text() const {
    if (spooled_ || error_ != 0) return std::nullopt;
    return std::string_view(buffer_);
}

const std::string* MessageFile::File() {
    if (error_ != 0) return nullptr;
    // Written out whole once the text is complete; a spool file that
    // holds the message already is the message from then on.
    if (!spooled_ && (!Spool() || !Flush() || (finished_ && !Finish()))) return nullptr;
    return file_.holds_file() ? &file_.path() : nullptr;
}

}  // namespace quorvex::smtp
