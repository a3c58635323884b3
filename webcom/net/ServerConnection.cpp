// Connecting, sending command lines and the buffered reads.
#include "webcom/net/ServerConnection.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "common/net/HostConnect.h"
#include "common/net/PeerAddress.h"
#include "webcom/net/ReplyText.h"

namespace quorvex::webcom {
namespace {

constexpr std::size_t kReceiveBuffer = 1 << 16;
// The most bytes the servers' line reader takes as one line.
constexpr std::size_t kLinePieceBytes = kTextLineCapacity - 3;

std::atomic<std::chrono::milliseconds::rep> g_line_deadline_ms{kLineDeadline.count()};

// The waits of one receive when `left_ms` remain until the line's
// deadline: slices no longer than that, and no more of them than fit
// (the last may end just past it); the idle limit still holds.
SocketTimeouts WaitsWithin(const SocketTimeouts& timeouts, std::chrono::milliseconds::rep left_ms) {
    SocketTimeouts within = timeouts;
    within.slice_ms = static_cast<int>(std::min<std::chrono::milliseconds::rep>(timeouts.slice_ms, left_ms));
    const auto slices = (left_ms + within.slice_ms - 1) / within.slice_ms;
    within.idle_slices = static_cast<int>(std::min<std::chrono::milliseconds::rep>(timeouts.idle_slices, slices - 1));
    return within;
}

int ErrorOf(IoStatus status) {
    switch (status) {
        case IoStatus::kClosed: return ECONNRESET;
        case IoStatus::kTimeout: return ETIMEDOUT;
        case IoStatus::kStopped: return ECANCELED;
        case IoStatus::kError: return errno != 0 ? errno : EIO;
        case IoStatus::kOk: break;
    }
    return 0;
}

}  // namespace

std::chrono::milliseconds LineDeadline() { return std::chrono::milliseconds(g_line_deadline_ms.load()); }

void SetLineDeadlineForTesting(std::chrono::milliseconds deadline) { g_line_deadline_ms.store(deadline.count()); }

ServerConnection::OpenResult ServerConnection::Open(const std::string& host, int port, const SocketTimeouts& timeouts) {
    Close();
    timeouts_ = timeouts;
    line_deadline_ = LineDeadline();
    const auto address = ResolveIpv4(host, port);
    if (!address) return OpenResult::kUnresolved;
    fd_ = ConnectTcp(*address, timeouts_);
    if (!fd_) {
        last_error_ = errno != 0 ? errno : ECONNREFUSED;
        return OpenResult::kFailed;
    }
    buffer_.resize(kReceiveBuffer);
    start_ = end_ = 0;
    return OpenResult::kConnected;
}

void ServerConnection::Adopt(UniqueFd fd, const SocketTimeouts& timeouts, std::chrono::milliseconds line_deadline) {
    Close();
    timeouts_ = timeouts;
    line_deadline_ = line_deadline;
    fd_ = std::move(fd);
    buffer_.resize(kReceiveBuffer);
}

void ServerConnection::Close() {
    fd_.reset();
    start_ = end_ = 0;
    line_due_.reset();
}

bool ServerConnection::CheckConnected() {
    if (fd_) return true;
    last_error_ = ENOTCONN;
    return false;
}

void ServerConnection::Fail(int error) {
    last_error_ = error;
    Close();
}

bool ServerConnection::SendCommand(std::string_view line) {
    if (CheckCommandLine(line) != LineProblem::kNone) return false;
    std::string out;
    out.reserve(line.size() + 2);
    out.append(line).append("\r\n");
    return SendData(out);
}

bool ServerConnection::SendData(std::string_view bytes) {
    if (!CheckConnected()) return false;
    while (!bytes.empty()) {
        const std::string_view piece = bytes.substr(0, kSendPiece);
        errno = 0;
        if (!SendBufferBy(fd_.get(), piece, timeouts_, Clock::now() + line_deadline_)) {
            Fail(errno != 0 ? errno : EPIPE);
            return false;
        }
        bytes.remove_prefix(piece.size());
    }
    return true;
}

bool ServerConnection::Fill() {
    if (start_ > 0) {
        // Keep the bytes not yet consumed at the front.
        std::memmove(buffer_.data(), buffer_.data() + start_, end_ - start_);
        end_ -= start_;
        start_ = 0;
    }
    if (end_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);
    SocketTimeouts waits = timeouts_;
    if (line_due_) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*line_due_ - Clock::now()).count();
        if (left <= 0) {
            Fail(ETIMEDOUT);
            return false;
        }
        waits = WaitsWithin(timeouts_, left);
    }
    std::size_t received = 0;
    errno = 0;
    const IoStatus status = ReceiveSome(fd_.get(), buffer_.data() + end_, buffer_.size() - end_, received, waits);
    if (status != IoStatus::kOk) {
        Fail(ErrorOf(status));
        return false;
    }
    end_ += received;
    return true;
}

bool ServerConnection::TakeLine(std::size_t window, std::string_view& line) {
    const char* begin = buffer_.data() + start_;
    const void* lf = std::memchr(begin, '\n', window);
    if (lf == nullptr) return false;
    std::size_t length = static_cast<std::size_t>(static_cast<const char*>(lf) - begin);
    start_ += length + 1;
    if (length > 0 && begin[length - 1] == '\r') --length;  // one CR before the LF belongs to the line end
    line = std::string_view(begin, length);
    return true;
}

bool ServerConnection::NextDataPiece(std::string_view& piece, bool& line_end) {
    if (!CheckConnected()) return false;
    if (!line_due_) line_due_ = Clock::now() + line_deadline_;
    for (;;) {
        const char* begin = buffer_.data() + start_;
        const std::size_t available = end_ - start_;
        if (TakeLine(available, piece)) {
            line_end = true;
            line_due_.reset();
            return true;
        }
        // No line end yet: hand out what is here, except a CR that may be
        // the first half of the CR LF.
        std::size_t length = available;
        if (length > 0 && begin[length - 1] == '\r') --length;
        if (length > 0) {
            start_ += length;
            piece = std::string_view(begin, length);
            line_end = false;
            return true;
        }
        if (!Fill()) return false;
    }
}

bool ServerConnection::ReadLine(std::string& line) {
    line.clear();
    if (!CheckConnected()) return false;
    line_due_ = Clock::now() + line_deadline_;
    for (;;) {
        const char* begin = buffer_.data() + start_;
        const std::size_t available = end_ - start_;
        std::string_view whole;
        if (TakeLine(std::min(available, kLinePieceBytes), whole)) {
            line.assign(whole);
            line_due_.reset();
            return true;
        }
        if (available >= kLinePieceBytes) {
            // No line end within a line's room: this much is a line of its
            // own and the rest comes as the next one, as the servers read.
            line.assign(begin, kLinePieceBytes);
            start_ += kLinePieceBytes;
            line_due_.reset();
            return true;
        }
        if (!Fill()) return false;
    }
}

}  // namespace quorvex::webcom
