// Line cutting for the SMTP session.
#include "servers/smtp/LineSplitter.h"

#include <cstring>

namespace quorvex::smtp {

void LineSplitter::Append(std::string_view bytes) {
    // Drop what was given out before growing, so the buffer never holds
    // more than one piece plus the newest block.
    if (start_ > 0 && (start_ == buffer_.size() || start_ >= 65536)) {
        buffer_.erase(0, start_);
        start_ = 0;
    }
    buffer_.append(bytes);
}

std::optional<LinePiece> LineSplitter::Next() {
    const char* data = buffer_.data() + start_;
    const std::size_t available = buffer_.size() - start_;
    // A whole line has at most max_piece_ bytes of text, then CR LF.
    const std::size_t window = std::min(available, max_piece_ + 2);
    const void* lf = std::memchr(data, '\n', window);
    LinePiece piece;
    piece.continuation = after_cut_;
    if (lf != nullptr) {
        std::size_t length = static_cast<std::size_t>(static_cast<const char*>(lf) - data);
        const std::size_t consumed = length + 1;
        if (length > 0 && data[length - 1] == '\r') {
            --length;
            piece.end = LineEnd::kCrLf;
        } else {
            piece.end = LineEnd::kBareLf;
        }
        if (length <= max_piece_) {
            piece.text = std::string_view(data, length);
            start_ += consumed;
            after_cut_ = false;
            return piece;
        }
        // max_piece_ + 1 bytes of text before a bare LF: too long, cut.
    } else if (available < max_piece_ + 2) {
        return std::nullopt;
    }
    piece.text = std::string_view(data, max_piece_);
    piece.end = LineEnd::kCut;
    start_ += max_piece_;
    after_cut_ = true;
    return piece;
}

}  // namespace quorvex::smtp
