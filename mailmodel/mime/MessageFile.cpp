// Line reading over the object's own block buffer.
#include "mailmodel/mime/MessageFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace quorvex::mime {
namespace {

constexpr std::size_t kBlock = 64 * 1024;

}  // namespace

bool MessageFile::Open(const std::string& path) {
    fd_.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    buffer_.resize(kBlock);
    pos_ = end_ = 0;
    buffer_offset_ = 0;
    error_ = false;
    return fd_.valid();
}

bool MessageFile::Fill() {
    if (!fd_ || error_) return false;
    buffer_offset_ += static_cast<std::int64_t>(end_);
    pos_ = end_ = 0;
    for (;;) {
        const ssize_t n = ::read(fd_.get(), buffer_.data(), buffer_.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) error_ = true;
        if (n <= 0) return false;
        end_ = static_cast<std::size_t>(n);
        return true;
    }
}

int MessageFile::PeekChar() {
    if (pos_ == end_ && !Fill()) return EOF;
    return static_cast<unsigned char>(buffer_[pos_]);
}

bool MessageFile::Seek(std::int64_t offset) {
    if (!fd_ || offset < 0) return false;
    if (offset >= buffer_offset_ && offset <= buffer_offset_ + static_cast<std::int64_t>(end_)) {
        pos_ = static_cast<std::size_t>(offset - buffer_offset_);
        return true;
    }
    if (::lseek(fd_.get(), static_cast<off_t>(offset), SEEK_SET) < 0) return false;
    pos_ = end_ = 0;
    buffer_offset_ = offset;
    error_ = false;
    return true;
}

std::int64_t MessageFile::Size() {
    struct stat st {};
    if (!fd_ || ::fstat(fd_.get(), &st) != 0) return 0;
    return st.st_size;
}

long MessageFile::ReadFoldedLine(std::string& line, std::size_t room) {
    line.clear();
    if (!fd_ || room <= 1 || AtEnd()) return -1;
    const std::size_t budget = room - 2;
    for (int piece = 1; line.size() < budget; ++piece) {
        const std::size_t start = line.size();
        // One physical line: through its LF, or until the budget is spent.
        while (line.size() < budget) {
            if (pos_ == end_ && !Fill()) break;
            const char* from = buffer_.data() + pos_;
            const std::size_t take = std::min(end_ - pos_, budget - line.size());
            const void* lf = std::memchr(from, '\n', take);
            const std::size_t length = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - from) + 1 : take;
            line.append(from, length);
            pos_ += length;
            if (lf) break;
        }
        if (error_) return -1;
        if (line.compare(start, std::string::npos, "\r\n") == 0 || piece == 3) break;
        const int next = PeekChar();
        if (next != ' ' && next != '\t') break;
    }
    return static_cast<long>(line.size());
}

}  // namespace quorvex::mime
