// The socket side of an SMTP session.
#include "servers/smtp/SmtpConnection.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "common/Base64.h"
#include "common/RunFlag.h"
#include "common/UniqueFd.h"
#include "common/net/HostConnect.h"
#include "common/net/SocketIo.h"
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

SocketTimeouts Timeouts(const ConnectionLimits& limits) { return {limits.slice_ms, limits.idle_slices}; }

bool SendAll(int fd, std::string_view bytes, const ConnectionLimits& limits) {
    return SendBuffer(fd, bytes, Timeouts(limits));
}

// One reply of the upstream server: lines until one whose fourth character
// is a blank, every line beginning with `code`.
bool ReadUpstreamReply(int fd, std::string_view code, std::string& last_line, const ConnectionLimits& limits) {
    std::string line;
    while (HasLine(ReceiveLine(fd, line, kTextLineCapacity, Timeouts(limits)))) {
        if (line.compare(0, code.size(), code) != 0) return false;
        if (line.size() < 6 || line[3] == ' ') {
            last_line = line.substr(0, line.size() - 2);
            return true;
        }
    }
    return false;
}

std::string ComputerName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "QuorvexServer";
    return std::string(name).substr(0, 15);
}

// Logs in to the upstream server for the client, then relays the rest of
// the session; the upstream's answer to the credentials reaches the client.
bool RelaySmtpProxy(int client, const ProxyRequest& request, const ConnectionLimits& limits) {
    UniqueFd upstream = ConnectToHost(request.host, limits.proxy_port);
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
    RelayBetweenSockets(client, upstream.get());
    return true;
}

}  // namespace

void SmtpServerConnection(Job& job, SmtpServices& services) {
    RunSmtpConnection(job.socket.get(), job.client.HostText(), services);
}

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
