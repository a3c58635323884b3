// Buffered writing of a received message.
#include "servers/smtp/MessageFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "common/AtomicFile.h"

namespace quorvex::smtp {

bool MessageFile::Create(std::string path) {
    Discard();
    error_ = 0;
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd) {
        error_ = errno;
        return false;
    }
    file_ = TemporaryFile(std::move(path), std::move(fd));
    buffer_.clear();
    buffer_.reserve(kBufferSize);
    size_ = 0;
    failed_ = false;
    return true;
}

bool MessageFile::Write(std::string_view bytes) {
    if (failed_ || !file_.fd()) return false;
    size_ += static_cast<long long>(bytes.size());
    if (buffer_.size() + bytes.size() > kBufferSize && !Flush()) return false;
    if (bytes.size() >= kBufferSize) {
        buffer_.assign(bytes);
        return Flush();
    }
    buffer_.append(bytes);
    return true;
}

bool MessageFile::Flush() {
    errno = 0;
    if (!WriteFully(file_.fd().get(), buffer_)) {
        error_ = errno != 0 ? errno : EIO;
        failed_ = true;
        return false;
    }
    buffer_.clear();
    return true;
}

bool MessageFile::Finish() {
    if (!file_.fd()) return false;
    const bool flushed = !failed_ && Flush();
    errno = 0;
    const bool closed = file_.fd().close_checked();
    if (!closed && error_ == 0) error_ = errno != 0 ? errno : EIO;
    return flushed && closed;
}

void MessageFile::Discard() {
    file_.Remove();
    buffer_.clear();
    size_ = 0;
}

}  // namespace quorvex::smtp
