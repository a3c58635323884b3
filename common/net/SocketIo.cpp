// Sliced waits, line reads, block sends and the two-way relay. Every loop
// tests ServerRunFlag at the start of each slice.
#include "common/net/SocketIo.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>

#include "common/ErrorLog.h"
#include "common/RunFlag.h"
#include "common/net/TrafficDump.h"

namespace quorvex {
namespace {

// One receive into `data`, waiting in slices when nothing is there yet.
// The first attempt does not wait, so a busy peer costs one system call
// per read.
IoStatus ReceiveRaw(int fd, char* data, std::size_t size, bool peek, std::size_t& received,
                    const SocketTimeouts& timeouts) {
    received = 0;
    const int flags = MSG_DONTWAIT | (peek ? MSG_PEEK : 0);
    for (;;) {
        const ssize_t got = ::recv(fd, data, size, flags);
        if (got > 0) {
            received = static_cast<std::size_t>(got);
            if (!peek) DumpSocketTraffic(std::string_view(data, received));
            return IoStatus::kOk;
        }
        if (got == 0) return IoStatus::kClosed;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return IoStatus::kError;
        if (const IoStatus waited = WaitReadable(fd, timeouts); waited != IoStatus::kOk) return waited;
    }
}

// The same, appended to `out`.
IoStatus ReceiveOnce(int fd, std::string& out, std::size_t size, bool peek, const SocketTimeouts& timeouts) {
    const std::size_t old_size = out.size();
    out.resize(old_size + size);
    std::size_t received = 0;
    const IoStatus status = ReceiveRaw(fd, out.data() + old_size, size, peek, received, timeouts);
    out.resize(old_size + received);
    return status;
}

IoStatus ReceiveExact(int fd, std::string& out, std::size_t size, const SocketTimeouts& timeouts) {
    const std::size_t target = out.size() + size;
    while (out.size() < target) {
        const IoStatus status = ReceiveOnce(fd, out, target - out.size(), false, timeouts);
        if (status != IoStatus::kOk) return status;
    }
    return IoStatus::kOk;
}

LineStatus ToLineStatus(IoStatus status) {
    switch (status) {
        case IoStatus::kOk: return LineStatus::kLine;
        case IoStatus::kClosed: return LineStatus::kClosed;
        case IoStatus::kTimeout: return LineStatus::kTimeout;
        case IoStatus::kStopped: return LineStatus::kStopped;
        case IoStatus::kError: break;
    }
    return LineStatus::kError;
}

}  // namespace

IoStatus WaitReadable(int fd, const SocketTimeouts& timeouts) {
    int idle_slices = 0;
    for (;;) {
        if (!ServersRunning()) return IoStatus::kStopped;
        pollfd watch{fd, POLLIN, 0};
        const int ready = ::poll(&watch, 1, timeouts.slice_ms);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return IoStatus::kError;
        }
        if (ready == 0) {
            if (++idle_slices > timeouts.idle_slices) return IoStatus::kTimeout;
            continue;
        }
        return IoStatus::kOk;
    }
}

IoStatus ReceiveSome(int fd, char* data, std::size_t size, std::size_t& received, const SocketTimeouts& timeouts) {
    received = 0;
    if (size == 0) return IoStatus::kError;
    return ReceiveRaw(fd, data, size, false, received, timeouts);
}

IoStatus ReceiveWithTimeout(int fd, std::string& out, std::size_t size, ReceiveMode mode,
                            const SocketTimeouts& timeouts) {
    out.clear();
    if (size == 0) return IoStatus::kError;
    if (mode == ReceiveMode::kExact) return ReceiveExact(fd, out, size, timeouts);
    return ReceiveOnce(fd, out, size, mode == ReceiveMode::kPeek, timeouts);
}

LineStatus ReceiveLine(int fd, std::string& line, std::size_t capacity, const SocketTimeouts& timeouts) {
    line.clear();
    if (capacity <= 3) return LineStatus::kError;
    std::size_t room = capacity - 3;
    std::string peeked;
    peeked.reserve(room);
    for (;;) {
        if (room == 0) {
            // The text fills the capacity without a line feed: hand out what
            // came as a line of its own; the rest follows with the next read.
            line += "\r\n";
            return LineStatus::kTooLong;
        }
        peeked.clear();
        if (const IoStatus status = ReceiveOnce(fd, peeked, room, true, timeouts); status != IoStatus::kOk) {
            line.clear();  // a line the peer never finished is not handed out
            return ToLineStatus(status);
        }
        const std::size_t lf = peeked.find('\n');
        const std::size_t take = lf == std::string::npos ? peeked.size() : lf + 1;
        // Take exactly the bytes of this line (they are already queued in
        // the socket, so this does not wait).
        if (const IoStatus status = ReceiveExact(fd, line, take, timeouts); status != IoStatus::kOk) {
            line.clear();
            return ToLineStatus(status);
        }
        if (lf != std::string::npos) {
            line.pop_back();  // the LF
            if (!line.empty() && line.back() == '\r') line.pop_back();
            line += "\r\n";
            return LineStatus::kLine;
        }
        room -= take;
    }
}

LineStatus ReceiveTextLine(int fd, std::string& line, const SocketTimeouts& timeouts) {
    const LineStatus status = ReceiveLine(fd, line, kTextLineCapacity, timeouts);
    if (HasLine(status) && line.size() >= 2) line.resize(line.size() - 2);
    return status;
}

namespace {

bool SendWithin(int fd, std::string_view data, const SocketTimeouts& timeouts,
                std::optional<std::chrono::steady_clock::time_point> due, SessionActivity& activity) {
    std::string_view rest = data;
    int idle_slices = 0;
    do {
        const ssize_t sent = rest.empty() ? 0 : ::send(fd, rest.data(), rest.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0) {
            rest.remove_prefix(static_cast<std::size_t>(sent));
            if (sent > 0) activity.Sent(static_cast<std::uint64_t>(sent));
            idle_slices = 0;
            continue;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
        // While the servers stop, what the socket takes at once still goes
        // out (the "250" of a message already stored, which its sender
        // would otherwise send again), but nothing waits for a slow peer.
        if (!ServersRunning()) return false;
        int wait_ms = timeouts.slice_ms;
        if (due) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*due - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                errno = ETIMEDOUT;
                return false;
            }
            wait_ms = static_cast<int>(std::min<std::chrono::milliseconds::rep>(wait_ms, left.count()));
        }
        pollfd watch{fd, POLLOUT, 0};
        const int ready = ::poll(&watch, 1, wait_ms);
        if (ready < 0 && errno != EINTR) return false;
        // A peer that stops reading must not hold the session for ever.
        if (ready == 0 && ++idle_slices > timeouts.idle_slices) return false;
    } while (!rest.empty());
    DumpSocketTraffic(data);
    return true;
}

}  // namespace

bool SendBuffer(int fd, std::string_view data, const SocketTimeouts& timeouts, SessionActivity& activity) {
    return SendWithin(fd, data, timeouts, std::nullopt, activity);
}

bool SendBufferBy(int fd, std::string_view data, const SocketTimeouts& timeouts,
                  std::chrono::steady_clock::time_point due) {
    return SendWithin(fd, data, timeouts, due, NoSessionActivity());
}

bool SendLine(int fd, std::string_view text, bool append_crlf, SessionActivity& activity) {
    if (!append_crlf) return SendBuffer(fd, text, kDefaultSocketTimeouts, activity);
    std::string line;
    line.reserve(text.size() + 2);
    line.append(text).append("\r\n");
    if (line.size() > kMaxSendLineLength) {
        line.resize(kMaxSendLineLength);
        WriteErrorLog(__FILE__, __LINE__, "Buffer overflow");
    }
    return SendBuffer(fd, line, kDefaultSocketTimeouts, activity);
}

int RelayBetweenSockets(int socket_a, int socket_b, const SocketTimeouts& timeouts, SessionActivity& activity) {
    constexpr std::size_t kRelayBlock = 4096;
    std::string block;
    int idle_slices = 0;
    while (ServersRunning()) {
        pollfd watch[2] = {{socket_a, POLLIN, 0}, {socket_b, POLLIN, 0}};
        const int ready = ::poll(watch, 2, timeouts.slice_ms);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return kRelayWaitFailed;
        }
        if (ready == 0) {
            if (++idle_slices > timeouts.idle_slices) return kRelayClosed;
            continue;
        }
        idle_slices = 0;
        const bool from_a = watch[0].revents != 0;
        const int source = from_a ? socket_a : socket_b;
        const int target = from_a ? socket_b : socket_a;
        const IoStatus status = ReceiveWithTimeout(source, block, kRelayBlock, ReceiveMode::kNormal, timeouts);
        if (status == IoStatus::kClosed || status == IoStatus::kError) return kRelayClosed;
        if (status != IoStatus::kOk) return from_a ? kRelayReceiveA : kRelayReceiveB;
        if (from_a) activity.Received(block.size());
        if (!SendBuffer(target, block, timeouts, from_a ? NoSessionActivity() : activity)) {
            return from_a ? kRelaySendAFailed : kRelaySendBFailed;
        }
    }
    return kRelayStopped;
}

}  // namespace quorvex
