// Bind, listen and the accept loop.
#include "servers/jobs/ServerListener.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <cerrno>

#include "common/RunFlag.h"
#include "common/net/PeerAddress.h"

namespace quorvex {
namespace {

// Errors after which accepting can go on: the client gave up before we
// took it, or the process is short of descriptors or memory for a moment.
bool IsTransientAcceptError(int error) {
    switch (error) {
        case EINTR: case EAGAIN: case ECONNABORTED: case EPROTO: case EPERM:
        case EMFILE: case ENFILE: case ENOBUFS: case ENOMEM:
            return true;
        default:
            return false;
    }
}

bool IsResourceShortage(int error) { return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM; }

}  // namespace

std::string_view BusyReply(JobKind kind) {
    switch (kind) {
        case JOB_SMTP: return kSmtpBusyReply;
        case JOB_POP3: return kPop3BusyReply;
        case JOB_ACCOUNT_SERVER: return kAccountBusyReply;
        case JOB_REMOTE_POP3: break;
    }
    return {};
}

bool ServerListener::Start(int port, std::string_view bind_address) {
    if (listening()) return false;
    const auto address = PeerAddress::FromNumeric(bind_address, port);
    if (!address) return false;
    UniqueFd fd(::socket(address->family(), SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) return false;
    const int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    // SOMAXCONN: a short backlog drops connections under ordinary load while
    // the accept thread waits for a free slot.
    if (::bind(fd.get(), address->get(), address->length()) != 0 || ::listen(fd.get(), SOMAXCONN) != 0) return false;
    UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake) return false;
    port_ = LocalAddressOf(fd.get()).port();
    listen_socket_ = std::move(fd);
    wake_ = std::move(wake);
    accept_thread_ = std::jthread([this](std::stop_token stop) { AcceptLoop(stop); });
    return true;
}

void ServerListener::Stop() {
    if (accept_thread_.joinable()) {
        accept_thread_.request_stop();
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wake_.get(), &one, sizeof(one));
        accept_thread_.join();
    }
    listen_socket_.reset();
    wake_.reset();
}

void ServerListener::AcceptLoop(std::stop_token stop) {
    int backoff_ms = 0;  // after a resource shortage, before the next accept
    while (!stop.stop_requested() && ServersRunning()) {
        if (backoff_ms > 0) {
            pollfd wake{wake_.get(), POLLIN, 0};
            ::poll(&wake, 1, backoff_ms);
            backoff_ms = 0;
            continue;
        }
        pollfd watch[2] = {{listen_socket_.get(), POLLIN, 0}, {wake_.get(), POLLIN, 0}};
        const int ready = ::poll(watch, 2, 1000);
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0 || (watch[1].revents & POLLIN) != 0) continue;
        sockaddr_storage peer{};
        socklen_t peer_length = sizeof(peer);
        const int accepted = ::accept4(listen_socket_.get(), reinterpret_cast<sockaddr*>(&peer), &peer_length, SOCK_CLOEXEC);
        if (accepted < 0) {
            if (!IsTransientAcceptError(errno)) break;
            if (IsResourceShortage(errno)) backoff_ms = 100;
            continue;
        }
        JobRequest request;
        request.kind = kind_;
        request.client = PeerAddress(reinterpret_cast<const sockaddr*>(&peer), peer_length);
        request.socket = UniqueFd(accepted);
        // A refused job's socket closes here: the client sees the connection
        // end without a greeting, or, when the table is full of clients at
        // work, a short refusal. The send never waits: the fresh socket's
        // buffer is empty.
        if (jobs_.EnqueueJob(request, stop) < 0 && request.refusal == JobRefusal::kBusy) {
            const std::string_view reply = BusyReply(kind_);
            [[maybe_unused]] const ssize_t sent =
                ::send(request.socket.get(), reply.data(), reply.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            ::shutdown(request.socket.get(), SHUT_WR);
        }
    }
}

}  // namespace quorvex
