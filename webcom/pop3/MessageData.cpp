// Buffered output files and the copy of reply data into them.
#include "webcom/pop3/MessageData.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "common/AtomicFile.h"

namespace quorvex::webcom::pop3 {
namespace {

// The web server's group reads what the component writes.
constexpr mode_t kOutputMode = 0640;
constexpr std::size_t kOutputBlock = 1 << 16;

}  // namespace

bool OutputFile::Create(const std::string& path) {
    fd_.reset(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, kOutputMode));
    error_ = fd_ ? 0 : errno;
    return fd_.valid();
}

void OutputFile::Write(std::string_view bytes) {
    pending_.append(bytes);
    if (pending_.size() >= kOutputBlock) Flush();
}

bool OutputFile::Finish() {
    Flush();
    if (fd_ && !fd_.close_checked() && error_ == 0) error_ = errno;
    return error_ == 0;
}

void OutputFile::Flush() {
    errno = 0;
    if (error_ == 0 && fd_ && !WriteFully(fd_.get(), pending_)) error_ = errno != 0 ? errno : EIO;
    pending_.clear();
}

std::uint64_t MessageByteLimit(std::int64_t listed) {
    return static_cast<std::uint64_t>(std::max<std::int64_t>(listed, 0)) + kListedSizeSlack;
}

CopyResult CopyMessageData(ServerConnection& connection, OutputFile* file, OutputFile* header,
                           const CopyLimits& limits) {
    // Where the next piece stands: at a line's start, right after a line's
    // leading "." (nothing else of the line seen yet: it may be the end),
    // or inside a line.
    enum class Place { kLineStart, kAfterDot, kInLine };
    Place place = Place::kLineStart;
    bool in_header = true;
    std::uint64_t data_bytes = 0;
    std::uint64_t header_bytes = 0;
    std::string_view piece;
    bool line_end = false;
    for (;;) {
        if (!connection.NextDataPiece(piece, line_end)) return CopyResult::kConnectionFailed;
        if (place == Place::kAfterDot && piece.empty()) return CopyResult::kComplete;  // the line was "."
        if (place == Place::kLineStart && !piece.empty() && piece.front() == '.') {
            piece.remove_prefix(1);
            if (piece.empty()) {
                if (line_end) return CopyResult::kComplete;
                place = Place::kAfterDot;
                continue;
            }
        }
        if (place == Place::kLineStart && in_header && line_end && piece.empty()) in_header = false;
        const std::uint64_t written = piece.size() + (line_end ? 2 : 0);
        data_bytes += written;
        if (in_header) header_bytes += written;
        if (data_bytes > limits.data || (in_header && header != nullptr && header_bytes > limits.header)) {
            connection.Close();
            return CopyResult::kTooLarge;
        }
        if (file != nullptr) file->Write(piece);
        if (in_header && header != nullptr) header->Write(piece);
        if (line_end) {
            if (file != nullptr) file->Write("\r\n");
            if (in_header && header != nullptr) header->Write("\r\n");
        }
        place = line_end ? Place::kLineStart : Place::kInLine;
    }
}

}  // namespace quorvex::webcom::pop3
