// Line cutting for the command and message-text readers.
#include "common/net/LineBuffer.h"

#include <algorithm>
#include <cstring>

namespace quorvex {

namespace {

// Where the first LF is among the first `window` bytes, or npos.
std::size_t FindLf(const char* data, std::size_t window) {
    const void* lf = std::memchr(data, '\n', window);
    return lf == nullptr ? std::string_view::npos : static_cast<std::size_t>(static_cast<const char*>(lf) - data);
}

}  // namespace

void LineBuffer::Append(std::string_view bytes) {
    // Drop what was handed out before growing, so the buffer never holds
    // more than one line plus the newest block.
    if (start_ > 0 && (start_ == buffer_.size() || start_ >= 65536)) {
        buffer_.erase(0, start_);
        start_ = 0;
    }
    buffer_.append(bytes);
}

bool LineBuffer::HasLineEnd() const {
    return FindLf(buffer_.data() + start_, Pending()) != std::string_view::npos;
}

std::string LineBuffer::TakePending() {
    std::string rest = buffer_.substr(start_);
    buffer_.clear();
    start_ = 0;
    return rest;
}

std::optional<CommandLine> LineBuffer::NextLine() {
    if (!discarding_) {
        const char* data = buffer_.data() + start_;
        const std::size_t available = Pending();
        // A whole line has at most max_line_ bytes of text, then CR LF.
        const std::size_t window = std::min(available, max_line_ + 2);
        if (const std::size_t lf = FindLf(data, window); lf != std::string_view::npos) {
            const std::size_t length = lf > 0 && data[lf - 1] == '\r' ? lf - 1 : lf;
            start_ += lf + 1;
            ++handed_out_;
            if (length > max_line_) return CommandLine{true, {}};  // max_line_ + 1 bytes before a bare LF
            return CommandLine{false, std::string_view(data, length)};
        }
        if (available < max_line_ + 2) return std::nullopt;
        // Too long: nothing of it is handed out; skip to its line end.
        start_ += window;
        discarding_ = true;
    }
    const std::size_t lf = FindLf(buffer_.data() + start_, Pending());
    if (lf == std::string_view::npos) {
        start_ = buffer_.size();
        return std::nullopt;
    }
    start_ += lf + 1;
    discarding_ = false;
    ++handed_out_;
    return CommandLine{true, {}};
}

std::optional<LinePiece> LineBuffer::NextPiece() {
    const char* data = buffer_.data() + start_;
    const std::size_t available = Pending();
    const std::size_t window = std::min(available, max_line_ + 2);
    LinePiece piece;
    piece.continuation = after_cut_;
    if (const std::size_t lf = FindLf(data, window); lf != std::string_view::npos) {
        std::size_t length = lf;
        if (length > 0 && data[length - 1] == '\r') {
            --length;
            piece.end = LineEnd::kCrLf;
        } else {
            piece.end = LineEnd::kBareLf;
        }
        if (length <= max_line_) {
            piece.text = std::string_view(data, length);
            start_ += lf + 1;
            after_cut_ = false;
            ++handed_out_;
            return piece;
        }
        // max_line_ + 1 bytes of text before a bare LF: cut like any longer line.
    } else if (available < max_line_ + 2) {
        return std::nullopt;
    }
    piece.text = std::string_view(data, max_line_);
    piece.end = LineEnd::kCut;
    start_ += max_line_;
    after_cut_ = true;
    ++handed_out_;
    return piece;
}

}  // namespace quorvex
