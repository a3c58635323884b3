// Bounded socket I/O for the CMPP exports. Every call is non-blocking (also
// on a gateway-side socket the caller opened in blocking mode), every wait is
// a poll() against one deadline per call, SIGPIPE is never raised and
// descriptors never leak into child processes.
#include "smsgate/detail/CmppSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "smsgate/Tellarin.h"

namespace quorvex::smsgate {
namespace {

using Clock = std::chrono::steady_clock;

// Owns a descriptor until release(); closes it on every early return.
class SocketGuard {
public:
    explicit SocketGuard(int fd) : fd_(fd) {}
    SocketGuard(const SocketGuard&) = delete;
    SocketGuard& operator=(const SocketGuard&) = delete;
    ~SocketGuard() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    void reset(int fd) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

// Waits until `fd` is ready for `events` or the deadline passes. Returns 0
// when ready, CMPP_E_* on time-out (`timeout_code`) or a socket error.
int WaitReady(int fd, short events, Clock::time_point deadline, int timeout_code) {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return timeout_code;
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
        if (ready > 0) return 0;  // errors and hang-ups surface from the next send or recv
        if (ready == 0) return timeout_code;
        if (errno != EINTR) return SocketError(errno);
    }
}

bool WouldBlock(int error_number) {
    return error_number == EAGAIN || error_number == EWOULDBLOCK || error_number == EINTR;
}

}  // namespace

int SocketError(int error_number) { return CMPP_SOCKET_ERROR_BASE + error_number; }

int ConnectIpv4(const char* address, std::uint16_t port, int& fd_out) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    if (::inet_pton(AF_INET, address, &peer.sin_addr) != 1) return CMPP_E_CONNECT;

    SocketGuard socket(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
    if (socket.get() < 0) return CMPP_E_SOCKET_CREATE;
    if (socket.get() == 0) {
        // A handle stores 0 as "no socket": move the connection off descriptor 0.
        const int moved = ::fcntl(0, F_DUPFD_CLOEXEC, 1);
        if (moved < 0) return CMPP_E_SOCKET_CREATE;
        socket.reset(moved);
    }

    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) return CMPP_E_CONNECT;
        if (WaitReady(socket.get(), POLLOUT, Clock::now() + kConnectWait, CMPP_E_CONNECT) != 0)
            return CMPP_E_CONNECT;
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0)
            return CMPP_E_CONNECT;
    }
    // PDUs are small and often sent back to back (an answer, then a request):
    // without this each second one would wait for the peer's delayed ACK.
    const int on = 1;
    ::setsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    fd_out = socket.release();
    return 0;
}

int SendAll(int fd, const unsigned char* data, std::size_t size) {
    const auto deadline = Clock::now() + kSendWait;
    while (size > 0) {
        if (const int wait = WaitReady(fd, POLLOUT, deadline, CMPP_E_SEND_TIMEOUT); wait != 0) return wait;
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            data += sent;
            size -= static_cast<std::size_t>(sent);
        } else if (sent == 0) {
            return CMPP_E_PEER_CLOSED;
        } else if (errno == EPIPE) {
            return CMPP_E_PEER_CLOSED;
        } else if (!WouldBlock(errno)) {
            return SocketError(errno);
        }
    }
    return 0;
}

int ReceiveExact(int fd, unsigned char* data, std::size_t size) {
    const auto deadline = Clock::now() + kReceiveWait;
    while (size > 0) {
        if (const int wait = WaitReady(fd, POLLIN, deadline, CMPP_E_RECV_TIMEOUT); wait != 0) return wait;
        const ssize_t got = ::recv(fd, data, size, MSG_DONTWAIT);
        if (got > 0) {
            data += got;
            size -= static_cast<std::size_t>(got);
        } else if (got == 0) {
            return CMPP_E_PEER_CLOSED;
        } else if (!WouldBlock(errno)) {
            return SocketError(errno);
        }
    }
    return 0;
}

int CloseSocket(int fd) { return ::close(fd) == 0 ? 0 : CMPP_E_CLOSE; }

}  // namespace quorvex::smsgate
