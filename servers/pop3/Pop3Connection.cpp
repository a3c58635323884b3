// The socket side of a POP3 session.
#include "servers/pop3/Pop3Connection.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "common/AsciiCase.h"
#include "common/RunFlag.h"

#include "servers/pop3/Pop3Text.h"

namespace quorvex::pop3 {
namespace {

// Waiting bytes go out once there are this many: a client that pipelines
// RETR gets its messages in writes of this size.
constexpr std::size_t kFlushAt = 1024 * 1024;

// The bytes waiting to be sent, in one block that grows as needed and is
// never cleared byte by byte: a message body is read and unscrambled
// straight into it.
class PendingBytes {
public:
    std::string_view View() const { return {data_.get(), size_}; }
    bool Empty() const { return size_ == 0; }
    std::size_t Size() const { return size_; }
    void Clear() { size_ = 0; }

    // Makes the block hold at least `capacity` bytes.
    void Reserve(std::size_t capacity) {
        if (capacity <= capacity_) return;
        std::unique_ptr<char[]> grown(new char[capacity]);
        if (size_ > 0) std::memcpy(grown.get(), data_.get(), size_);
        data_ = std::move(grown);
        capacity_ = capacity;
    }
    // Room for `size` more bytes after those waiting.
    char* Room(std::size_t size) {
        if (capacity_ - size_ < size) Reserve(std::max(size_ + size, 2 * capacity_));
        return data_.get() + size_;
    }
    void Grow(std::size_t used) { size_ += used; }
    void Append(std::string_view bytes) {
        if (bytes.empty()) return;
        std::memcpy(Room(bytes.size()), bytes.data(), bytes.size());
        size_ += bytes.size();
    }

private:
    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// Collects a reply and sends it in as few writes as possible: a RETR's
// status line, body and end line leave together. Bodies of plain files go
// straight from the file to the socket. Every byte the socket takes is
// reported to the session's activity.
class SocketOutput : public Pop3Output {
public:
    SocketOutput(int fd, const SocketTimeouts& timeouts, SessionActivity& activity)
        : fd_(fd), timeouts_(timeouts), activity_(activity) {}

    bool Send(std::string_view bytes) override {
        if (failed_) return false;
        pending_.Append(bytes);
        return pending_.Size() < kFlushAt || Flush();
    }

    // What is already waiting goes first once it is enough for one write.
    // The first body makes room for a full flush and one read at once, so
    // that a session that retrieves mail allocates its block once.
    char* Reserve(std::size_t size) override {
        if (pending_.Size() >= kFlushAt) Flush();
        pending_.Reserve(kFlushAt + kMessageReadBound);
        return pending_.Room(size);
    }

    // Sends nothing by itself: the end line that follows a body leaves
    // with it.
    bool Commit(std::size_t used) override {
        if (failed_) return false;
        pending_.Grow(used);
        return true;
    }

    bool SendFileRange(int file, std::uint64_t offset, std::uint64_t length) override {
        if (!Flush()) return false;
        auto at = static_cast<off_t>(offset);
        const auto end = static_cast<off_t>(offset + length);
        int idle_slices = 0;
        while (at < end) {
            const ssize_t n = ::sendfile(fd_, file, &at, static_cast<std::size_t>(end - at));
            if (n > 0) {
                activity_.Sent(static_cast<std::uint64_t>(n));
                idle_slices = 0;
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                // The send time-out (one slice) passed without a byte taken:
                // a client that stops reading gets the silence limit that
                // SendBuffer gives it, and a shutdown is noticed.
                if (!ServersRunning() || ++idle_slices > timeouts_.idle_slices) return failed_ = true, false;
                continue;
            }
            if (n == 0) return failed_ = true, false;  // the file shrank
            // sendfile refused this pair: copy through user space.
            return Pop3Output::SendFileRange(file, static_cast<std::uint64_t>(at),
                                             static_cast<std::uint64_t>(end - at)) && Flush();
        }
        return true;
    }

    bool Flush() {
        if (failed_) return false;
        if (pending_.Empty()) return true;
        const bool sent = SendBuffer(fd_, pending_.View(), timeouts_, activity_);
        pending_.Clear();
        failed_ = !sent;
        return sent;
    }

private:
    int fd_;
    const SocketTimeouts& timeouts_;
    SessionActivity& activity_;
    PendingBytes pending_;
    bool failed_ = false;
};

}  // namespace

void RelayPop3Proxy(int client_fd, const std::string& user, const std::string& host,
                    const Pop3ConnectionOptions& options, const std::string& pending) {
    UniqueFd remote = ConnectToHost(host, options.relay_port, options.proxy, nullptr, options.timeouts);
    if (!remote) return;
    std::string greeting;
    if (!HasLine(ReceiveTextLine(remote.get(), greeting, options.timeouts)) || !StartsWithNoCase(greeting, "+OK")) {
        return;
    }
    if (!SendBuffer(remote.get(), "USER " + user + "\r\n" + pending, options.timeouts)) return;
    RelayBetweenSockets(client_fd, remote.get(), options.relay_timeouts, *options.activity);
}

void RunPop3Connection(int fd, ConnectionClient client, Pop3Services& services, Pop3SessionSettings settings,
                       const Pop3ConnectionOptions& options) {
    // Replies are flushed whole; without this a short end line could wait
    // for the client's delayed acknowledgement of the body.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    // A file sent straight from the kernel waits at most one slice at a time,
    // so a shutdown is noticed while a client reads slowly.
    timeval slice{options.timeouts.slice_ms / 1000, (options.timeouts.slice_ms % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &slice, sizeof slice);

    SocketOutput out(fd, options.timeouts, *options.activity);
    Pop3Session session(services, out, std::move(settings), std::move(client));
    session.SetActivity(*options.activity);
    Pop3Step step = session.Start();
    LineReader reader(fd, options.timeouts, options.idle_limit);
    reader.set_activity(*options.activity);
    std::string_view line;
    while (step == Pop3Step::kContinue) {
        // Replies of pipelined commands leave together once none is left.
        if (!reader.buffer().HasLineEnd() && !out.Flush()) return;
        const LineStatus status = reader.ReadLine(line);
        if (status == LineStatus::kTooLong) {
            step = session.OnLineTooLong();
        } else if (status == LineStatus::kLine) {
            step = session.OnLine(line);
        } else {
            return;
        }
    }
    out.Flush();
    if (step == Pop3Step::kRelay) {
        RelayPop3Proxy(fd, session.RelayUser(), session.RelayHost(), options, reader.buffer().TakePending());
    }
}

}  // namespace quorvex::pop3
