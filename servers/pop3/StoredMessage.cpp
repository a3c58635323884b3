// Streaming stored message files to a POP3 client.
#include "servers/pop3/StoredMessage.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace quorvex::pop3 {
namespace {

constexpr std::size_t kReadBlock = 64 * 1024;

ssize_t ReadRetry(int fd, char* data, std::size_t size) {
    for (;;) {
        const ssize_t n = ::read(fd, data, size);
        if (n >= 0 || errno != EINTR) return n;
    }
}

void Unscramble(char* data, std::size_t size, std::uint8_t key) {
    if (key == 0) return;
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>(data[i] ^ static_cast<char>(key));
}

}  // namespace

bool Pop3Output::SendFileRange(int fd, std::uint64_t offset, std::uint64_t length) {
    std::vector<char> block(kReadBlock);
    while (length > 0) {
        const std::size_t want = length < block.size() ? static_cast<std::size_t>(length) : block.size();
        const ssize_t n = ::pread(fd, block.data(), want, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
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

bool SendMessageFile(int fd, std::uint8_t key, Pop3Output& out) {
    const off_t end = ::lseek(fd, 0, SEEK_END);
    if (end < 0) return false;
    const auto length = static_cast<std::uint64_t>(end);

    // The last two bytes decide whether a line end must follow.
    char tail[2] = {0, 0};
    std::size_t tail_size = 0;
    if (length > 0) {
        tail_size = length >= 2 ? 2 : 1;
        const off_t at = static_cast<off_t>(length - tail_size);
        if (::pread(fd, tail, tail_size, at) != static_cast<ssize_t>(tail_size)) return false;
        Unscramble(tail, tail_size, key);
    }

    if (key == 0) {
        if (!out.SendFileRange(fd, 0, length)) return false;
    } else {
        if (::lseek(fd, 0, SEEK_SET) < 0) return false;
        std::vector<char> block(kReadBlock);
        std::uint64_t sent = 0;
        while (sent < length) {
            const ssize_t n = ReadRetry(fd, block.data(), block.size());
            if (n <= 0) return false;
            Unscramble(block.data(), static_cast<std::size_t>(n), key);
            if (!out.Send(std::string_view(block.data(), static_cast<std::size_t>(n)))) return false;
            sent += static_cast<std::uint64_t>(n);
        }
    }
    const bool ends_with_crlf = tail_size == 2 && tail[0] == '\r' && tail[1] == '\n';
    if (length > 0 && !ends_with_crlf) return out.Send("\r\n");
    return true;
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
    Unscramble(buffer_.data() + old, static_cast<std::size_t>(n), key_);
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
