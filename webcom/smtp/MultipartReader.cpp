// Buffered lines and boundary-delimited content.
#include "webcom/smtp/MultipartReader.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/AtomicFile.h"

namespace quorvex::webcom::smtp {
namespace {

// Large reads and writes: an attachment passes in a few system calls per
// megabyte. Far larger than any boundary, which must fit with room to spare.
constexpr std::size_t kBufferBytes = 1 << 18;

}  // namespace

MultipartReader::MultipartReader(int fd) : fd_(fd), buffer_(kBufferBytes, '\0') {}

bool MultipartReader::Fill() {
    if (at_end_) return false;
    if (start_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + start_, Available());
        end_ -= start_;
        start_ = 0;
    }
    if (end_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);
    for (;;) {
        const ssize_t n = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
        if (n > 0) {
            end_ += static_cast<std::size_t>(n);
            return true;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) read_failed_ = true;
        at_end_ = true;
        return false;
    }
}

bool MultipartReader::Ensure(std::size_t count) {
    while (Available() < count)
        if (!Fill()) return false;
    return true;
}

bool MultipartReader::Write(int out_fd, std::size_t count) {
    const bool written = out_fd < 0 || WriteFully(out_fd, std::string_view(buffer_.data() + start_, count));
    start_ += count;
    return written;
}

MultipartReader::LineResult MultipartReader::ReadLine(std::string& line, std::size_t max_bytes) {
    // Room for the line and its CR LF.
    const std::size_t window = max_bytes + 2;
    for (;;) {
        const char* begin = buffer_.data() + start_;
        const std::size_t searched = std::min(Available(), window);
        if (const void* lf = std::memchr(begin, '\n', searched)) {
            std::size_t length = static_cast<std::size_t>(static_cast<const char*>(lf) - begin);
            start_ += length + 1;
            if (length > 0 && begin[length - 1] == '\r') --length;
            if (length > max_bytes) return LineResult::kTooLong;
            line.assign(begin, length);
            return LineResult::kLine;
        }
        if (Available() >= window) return LineResult::kTooLong;
        if (!Fill()) {
            if (read_failed_) return LineResult::kError;
            if (Available() == 0) return LineResult::kEnd;
            if (Available() > max_bytes) return LineResult::kTooLong;
            line.assign(buffer_.data() + start_, Available());
            start_ = end_;
            return LineResult::kLine;
        }
    }
}

MultipartReader::ContentResult MultipartReader::CopyContent(std::string_view boundary, int out_fd) {
    // Content that is a boundary line at once is empty.
    Ensure(boundary.size());
    if (read_failed_) return ContentResult::kReadFailed;
    if (std::string_view(buffer_.data() + start_, Available()).starts_with(boundary)) {
        start_ += boundary.size();
        return ContentResult::kBoundary;
    }
    // Otherwise the boundary follows a line end: look for LF and boundary.
    std::string pattern = "\n";
    pattern.append(boundary);
    bool written = true;
    for (;;) {
        const char* begin = buffer_.data() + start_;
        const void* found = ::memmem(begin, Available(), pattern.data(), pattern.size());
        if (found != nullptr) {
            const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(found) - begin);
            std::size_t length = at;
            if (length > 0 && begin[length - 1] == '\r') --length;
            written = Write(out_fd, length) && written;
            start_ = static_cast<std::size_t>(begin - buffer_.data()) + at + pattern.size();
            return written ? ContentResult::kBoundary : ContentResult::kWriteFailed;
        }
        // Everything but the last pattern's length is content for sure: a
        // boundary (and the CR before its LF) may still begin in that tail.
        if (Available() > pattern.size()) written = Write(out_fd, Available() - pattern.size()) && written;
        if (!written) return ContentResult::kWriteFailed;
        if (!Fill()) return read_failed_ ? ContentResult::kReadFailed : ContentResult::kEnd;
    }
}

bool MultipartReader::SkipText(std::string_view text) {
    if (!Ensure(text.size())) return false;
    if (!std::string_view(buffer_.data() + start_, Available()).starts_with(text)) return false;
    start_ += text.size();
    return true;
}

bool MultipartReader::SkipLine() {
    for (;;) {
        const char* begin = buffer_.data() + start_;
        if (const void* lf = std::memchr(begin, '\n', Available())) {
            start_ += static_cast<std::size_t>(static_cast<const char*>(lf) - begin) + 1;
            return true;
        }
        start_ = end_;
        if (!Fill()) return false;
    }
}

}  // namespace quorvex::webcom::smtp
