// Line reads with a whole-line deadline.
#include "common/net/LineReader.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "common/RunFlag.h"
#include "common/net/TrafficDump.h"

namespace quorvex {

namespace {

// One receive takes at most this much: a pipelined burst or a block of
// message text in one system call.
constexpr std::size_t kReceiveBlock = 64 * 1024;

}  // namespace

LineReader::LineReader(int fd, SocketTimeouts timeouts, IdleLimit idle_limit, std::size_t max_line)
    : fd_(fd),
      timeouts_(timeouts),
      idle_limit_(std::move(idle_limit)),
      buffer_(max_line),
      block_(new char[kReceiveBlock]),
      line_started_(std::chrono::steady_clock::now()) {}

std::chrono::milliseconds LineReader::CurrentLimit() const {
    if (idle_limit_) return idle_limit_();
    return std::chrono::milliseconds(static_cast<long long>(timeouts_.slice_ms) * timeouts_.idle_slices);
}

LineStatus LineReader::Fill() {
    using Clock = std::chrono::steady_clock;
    if (buffer_.handed_out() != seen_handed_out_) {
        // The previous line is done: the clock starts for the next one.
        seen_handed_out_ = buffer_.handed_out();
        line_started_ = Clock::now();
    }
    // Waiting from the first empty look until Fill returns.
    struct WaitReport {
        SessionActivity& activity;
        bool waiting = false;
        void Begin() {
            if (!waiting) activity.Waiting(waiting = true);
        }
        ~WaitReport() {
            if (waiting) activity.Waiting(false);
        }
    } wait{*activity_};
    for (;;) {
        if (!ServersRunning()) return LineStatus::kStopped;
        const ssize_t got = ::recv(fd_, block_.get(), kReceiveBlock, MSG_DONTWAIT);
        if (got > 0) {
            const std::string_view bytes(block_.get(), static_cast<std::size_t>(got));
            DumpSocketTraffic(bytes);
            activity_->Received(bytes.size());
            buffer_.Append(bytes);
            return LineStatus::kLine;
        }
        if (got == 0) return LineStatus::kClosed;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return LineStatus::kError;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(line_started_ + CurrentLimit() -
                                                                                 Clock::now());
        if (left.count() <= 0) return LineStatus::kTimeout;
        wait.Begin();
        pollfd watch{fd_, POLLIN, 0};
        const int wait_ms = static_cast<int>(std::min<long long>(left.count(), timeouts_.slice_ms));
        if (::poll(&watch, 1, wait_ms) < 0 && errno != EINTR) return LineStatus::kError;
    }
}

LineStatus LineReader::ReadLine(std::string_view& line) {
    line = {};
    for (;;) {
        if (const auto next = buffer_.NextLine()) {
            if (next->too_long) return LineStatus::kTooLong;
            line = next->text;
            return LineStatus::kLine;
        }
        if (const LineStatus status = Fill(); status != LineStatus::kLine) return status;
    }
}

}  // namespace quorvex
