// The socket side of an SMTP session.
#include "servers/smtp/SmtpConnection.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "common/Base64.h"
#include "common/RunFlag.h"
#include "common/UniqueFd.h"
#include "servers/smtp/SmtpCommand.h"
#include "servers/smtp/SmtpSession.h"

namespace quorvex::smtp {

namespace {

constexpr std::size_t kReadBlock = 64 * 1024;

bool WaitFor(int fd, short events, const ConnectionLimits& limits) {
    for (int idle = 0; idle <= limits.idle_slices && ServersRunning(); ++idle) {
        pollfd p{fd, events, 0};
        const int ready = ::poll(&p, 1, limits.slice_ms);
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
    }
    return false;
}

bool SendAll(int fd, std::string_view bytes, const ConnectionLimits& limits) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitFor(fd, POLLOUT, limits)) return false;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

// One reply line or a multi-line reply of the upstream server: lines until
// one whose fourth character is a blank. Every line must begin with `code`.
bool ReadUpstreamReply(int fd, std::string_view code, std::string& last_line, const ConnectionLimits& limits) {
    std::string pending;
    while (true) {
        const auto lf = pending.find('\n');
        if (lf == std::string::npos) {
            if (pending.size() > 4096 || !WaitFor(fd, POLLIN, limits)) return false;
            char block[1024];
            const ssize_t n = ::recv(fd, block, sizeof block, 0);
            if (n <= 0) return false;
            pending.append(block, static_cast<std::size_t>(n));
            continue;
        }
        std::string line = pending.substr(0, lf);
        pending.erase(0, lf + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.compare(0, code.size(), code) != 0) return false;
        if (line.size() < 4 || line[3] == ' ') {
            last_line = std::move(line);
            return true;
        }
    }
}

std::string ComputerName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "QuorvexServer";
    return std::string(name).substr(0, 15);
}

UniqueFd ConnectTo(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return {};
    UniqueFd fd;
    for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
        fd.reset(::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol));
        if (fd && ::connect(fd.get(), a->ai_addr, a->ai_addrlen) == 0) break;
        fd.reset();
    }
    ::freeaddrinfo(found);
    return fd;
}

// Copies bytes both ways until one side closes or both stay silent.
void Relay(int a, int b, const ConnectionLimits& limits) {
    char block[4096];
    int idle = 0;
    while (ServersRunning() && idle <= limits.idle_slices * 10) {
        pollfd p[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
        const int ready = ::poll(p, 2, limits.slice_ms);
        if (ready < 0 && errno != EINTR) return;
        if (ready <= 0) {
            ++idle;
            continue;
        }
        idle = 0;
        for (int i = 0; i < 2; ++i) {
            if ((p[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
            const ssize_t n = ::recv(p[i].fd, block, sizeof block, 0);
            if (n <= 0 || !SendAll(p[1 - i].fd, std::string_view(block, static_cast<std::size_t>(n)), limits)) return;
        }
    }
}

// Logs in to the upstream server for the client, then relays the rest of
// the session; the upstream's answer to the credentials reaches the client.
bool RelaySmtpProxy(int client, const ProxyRequest& request, const ConnectionLimits& limits) {
    UniqueFd upstream = ConnectTo(request.host, limits.proxy_port);
    std::string line;
    if (!upstream || !ReadUpstreamReply(upstream.get(), "220", line, limits)) return false;
    const std::string me = ComputerName();
    if (!request.user.empty()) {
        if (!SendAll(upstream.get(), "EHLO " + me + "\r\n", limits) ||
            !ReadUpstreamReply(upstream.get(), "250", line, limits) ||
            !SendAll(upstream.get(), "AUTH LOGIN\r\n", limits) ||
            !ReadUpstreamReply(upstream.get(), "334", line, limits)) {
            return false;
        }
        std::string prompt;
        Base64Decode(line.size() > 4 ? std::string_view(line).substr(4) : std::string_view{}, prompt);
        std::string first = Base64Encode(request.user) + "\r\n";
        std::string second = Base64Encode(request.password) + "\r\n";
        if (!StartsWithNoCase(prompt, "USERNAME")) std::swap(first, second);
        if (!SendAll(upstream.get(), first, limits) || !ReadUpstreamReply(upstream.get(), "334", line, limits) ||
            !SendAll(upstream.get(), second, limits)) {
            return false;
        }
    } else {
        if (!SendAll(upstream.get(), "HELO " + me + "\r\n", limits) ||
            !ReadUpstreamReply(upstream.get(), "250", line, limits) || !SendAll(client, "235 OK\r\n", limits)) {
            return false;
        }
    }
    Relay(client, upstream.get(), limits);
    return true;
}

}  // namespace

bool RunSmtpConnection(int fd, std::string client_address, SmtpServices& services, const ConnectionLimits& limits) {
    SmtpSession session(services, std::move(client_address));
    if (!SendAll(fd, session.Start(), limits)) return false;
    std::string block(kReadBlock, '\0');
    std::string out;
    while (!session.Finished()) {
        if (!WaitFor(fd, POLLIN, limits)) return false;
        const ssize_t n = ::recv(fd, block.data(), block.size(), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        out.clear();
        session.Receive(std::string_view(block.data(), static_cast<std::size_t>(n)), out);
        if (!out.empty() && !SendAll(fd, out, limits)) return false;
    }
    if (session.proxy_request()) return RelaySmtpProxy(fd, *session.proxy_request(), limits);
    return session.EndedCleanly();
}

}  // namespace quorvex::smtp
