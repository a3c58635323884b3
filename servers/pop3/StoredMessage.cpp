// Streaming stored message files to a POP3 client.
#include "servers/pop3/StoredMessage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "common/ByteScramble.h"

namespace quorvex::pop3 {
namespace {

constexpr std::size_t kReadBlock = 64 * 1024;

ssize_t ReadRetry(int fd, char* data, std::size_t size) {
    for (;;) {
        const ssize_t n = ::read(fd, data, size);
        if (n >= 0 || errno != EINTR) return n;
    }
}

ssize_t ReadAtRetry(int fd, char* data, std::size_t size, std::uint64_t offset) {
    for (;;) {
        const ssize_t n = ::pread(fd, data, size, static_cast<off_t>(offset));
        if (n >= 0 || errno != EINTR) return n;
    }
}

}  // namespace

char* Pop3Output::Reserve(std::size_t size) {
    if (block_.size() < size) block_.resize(size);
    return block_.data();
}

bool Pop3Output::Commit(std::size_t used) { return Send(std::string_view(block_.data(), used)); }

bool Pop3Output::SendFileRange(int fd, std::uint64_t offset, std::uint64_t length) {
    std::vector<char> block(kReadBlock);
    while (length > 0) {
        const std::size_t want = length < block.size() ? static_cast<std::size_t>(length) : block.size();
        const ssize_t n = ReadAtRetry(fd, block.data(), want, offset);
        if (n <= 0) return false;
        if (!Send(std::string_view(block.data(), static_cast<std::size_t>(n)))) return false;
        offset += static_cast<std::uint64_t>(n);
        length -= static_cast<std::uint64_t>(n);
    }
    return true;
}

UniqueFd OpenMessageFile(const std::string& path) {
    return UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
}

UniqueFd MessageFolder::Open(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash + 1 == path.size()) return OpenMessageFile(path);
    const std::string folder = path.substr(0, slash == 0 ? 1 : slash);
    const char* name = path.c_str() + slash + 1;
    if (handle_ && folder == folder_) {
        UniqueFd file(::openat(handle_.get(), name, O_RDONLY | O_CLOEXEC));
        if (file) return file;
    }
    handle_.reset(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    folder_ = handle_ ? folder : std::string();
    if (!handle_) return OpenMessageFile(path);
    return UniqueFd(::openat(handle_.get(), name, O_RDONLY | O_CLOEXEC));
}

bool SendMessageFile(int fd, std::uint8_t key, Pop3Output& out) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return false;
    const auto length = static_cast<std::uint64_t>(info.st_size);
    if (length == 0) return true;

    // The last two bytes sent decide whether a line end must follow.
    char tail[2] = {0, 0};
    if (key == 0) {
        // A plain file goes to the output whole; only its end is read here.
        const std::size_t tail_size = length >= 2 ? 2 : 1;
        if (ReadAtRetry(fd, tail + 2 - tail_size, tail_size, length - tail_size) != static_cast<ssize_t>(tail_size)) {
            return false;
        }
        if (!out.SendFileRange(fd, 0, length)) return false;
    } else {
        for (std::uint64_t offset = 0; offset < length;) {
            const std::uint64_t left = length - offset;
            const std::size_t want = left < kMessageReadBound ? static_cast<std::size_t>(left) : kMessageReadBound;
            char* room = out.Reserve(want);
            const ssize_t got = ReadAtRetry(fd, room, want, offset);
            if (got <= 0) return false;  // unreadable, or the file shrank
            const auto n = static_cast<std::size_t>(got);
            ScrambleBytes(room, n, key);
            tail[0] = n >= 2 ? room[n - 2] : tail[1];
            tail[1] = room[n - 1];
            if (!out.Commit(n)) return false;
            offset += n;
        }
    }
    if (tail[0] == '\r' && tail[1] == '\n') return true;
    return out.Send("\r\n");
}

bool StoredLineReader::Fill() {
    if (eof_) return false;
    if (pos_ > 0) {
        buffer_.erase(0, pos_);
        pos_ = 0;
    }
    const std::size_t old = buffer_.size();
    buffer_.resize(old + kReadBlock);
    const ssize_t n = ReadRetry(fd_, buffer_.data() + old, kReadBlock);
    if (n <= 0) {
        buffer_.resize(old);
        eof_ = true;
        return false;
    }
    buffer_.resize(old + static_cast<std::size_t>(n));
    ScrambleBytes(buffer_.data() + old, static_cast<std::size_t>(n), key_);
    return true;
}

bool StoredLineReader::Next(std::string& line) {
    std::size_t scanned = 0;  // bytes after pos_ already searched for CR LF
    for (;;) {
        const std::size_t crlf = buffer_.find("\r\n", pos_ + scanned);
        if (crlf != std::string::npos && crlf - pos_ <= max_line_bytes_) {
            line.assign(buffer_, pos_, crlf - pos_);
            pos_ = crlf + 2;
            return true;
        }
        const std::size_t pending = buffer_.size() - pos_;
        if (pending >= max_line_bytes_) {
            line.assign(buffer_, pos_, max_line_bytes_);
            pos_ += max_line_bytes_;
            return true;
        }
        // A CR at the very end may be the first half of a CR LF.
        scanned = pending > 0 ? pending - 1 : 0;
        if (!Fill()) {
            if (buffer_.size() == pos_) return false;
            line.assign(buffer_, pos_, std::string::npos);  // last line without CR LF
            pos_ = buffer_.size();
            return true;
        }
    }
}

}  // namespace quorvex::pop3
