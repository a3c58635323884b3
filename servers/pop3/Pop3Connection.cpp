// The socket side of a POP3 session.
#include "servers/pop3/Pop3Connection.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>

#include "common/AsciiCase.h"
#include "common/RunFlag.h"

#include "servers/pop3/Pop3Text.h"

namespace quorvex::pop3 {
namespace {

// Collects a reply and sends it in as few writes as possible: a RETR's
// status line, body and end line leave together. Bodies of plain files go
// straight from the file to the socket.
class SocketOutput : public Pop3Output {
public:
    SocketOutput(int fd, const SocketTimeouts& timeouts) : fd_(fd), timeouts_(timeouts) {}

    bool Send(std::string_view bytes) override {
        if (failed_) return false;
        pending_ += bytes;
        if (pending_.size() >= kFlushAt) return Flush();
        return true;
    }

    bool SendFileRange(int file, std::uint64_t offset, std::uint64_t length) override {
        if (!Flush()) return false;
        auto at = static_cast<off_t>(offset);
        const auto end = static_cast<off_t>(offset + length);
        while (at < end) {
            const ssize_t n = ::sendfile(fd_, file, &at, static_cast<std::size_t>(end - at));
            if (n > 0) continue;
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                // The send time-out (one slice) passed: look at the run flag.
                if (!ServersRunning()) return failed_ = true, false;
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
        if (pending_.empty()) return true;
        const bool sent = SendBuffer(fd_, pending_, timeouts_);
        pending_.clear();
        failed_ = !sent;
        return sent;
    }

private:
    static constexpr std::size_t kFlushAt = 128 * 1024;
    int fd_;
    const SocketTimeouts& timeouts_;
    std::string pending_;
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
    RelayBetweenSockets(client_fd, remote.get(), options.relay_timeouts);
}

void RunPop3Connection(int fd, std::string client_address, Pop3Services& services, Pop3SessionSettings settings,
                       const Pop3ConnectionOptions& options) {
    // Replies are flushed whole; without this a short end line could wait
    // for the client's delayed acknowledgement of the body.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    // A file sent straight from the kernel waits at most one slice at a time,
    // so a shutdown is noticed while a client reads slowly.
    timeval slice{options.timeouts.slice_ms / 1000, (options.timeouts.slice_ms % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &slice, sizeof slice);

    SocketOutput out(fd, options.timeouts);
    Pop3Session session(services, out, std::move(settings), std::move(client_address));
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
