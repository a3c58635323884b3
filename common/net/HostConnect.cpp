// Direct connects and the two proxy dialogues.
#include "common/net/HostConnect.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "common/AsciiCase.h"
#include "common/RunFlag.h"
#include "common/net/ProxyProtocol.h"

namespace quorvex {
namespace {

// Header lines an HTTP proxy may send after its status line before we stop
// listening: a proxy that never ends its reply must not hold the thread.
constexpr int kMaxHttpReplyLines = 100;

bool SetBlocking(int fd, bool blocking) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0) return false;
    return ::fcntl(fd, F_SETFL, blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK)) == 0;
}

bool ReadExact(int fd, std::string& out, std::size_t size, const SocketTimeouts& timeouts) {
    return ReceiveWithTimeout(fd, out, size, ReceiveMode::kExact, timeouts) == IoStatus::kOk;
}

UniqueFd HttpConnect(UniqueFd fd, std::string_view host, int port, const ProxySettings& proxy,
                     const SocketTimeouts& timeouts) {
    const std::string request = BuildHttpConnectRequest(host, port, proxy.auth ? &proxy.user : nullptr,
                                                        proxy.auth ? &proxy.pass : nullptr);
    if (!SendBuffer(fd.get(), request, timeouts)) return {};
    std::string line;
    if (!HasLine(ReceiveLine(fd.get(), line, kTextLineCapacity, timeouts)) || !IsHttpConnectSuccess(line)) return {};
    // The header ends with an empty line; everything after it is the tunnel.
    for (int lines = 0; lines < kMaxHttpReplyLines; ++lines) {
        if (!HasLine(ReceiveLine(fd.get(), line, kTextLineCapacity, timeouts))) return {};
        if (line == "\r\n") return fd;
    }
    return {};
}

UniqueFd Socks5Connect(UniqueFd fd, std::string_view host, int port, const ProxySettings& proxy,
                       std::string* bound_address, const SocketTimeouts& timeouts) {
    const auto request = socks5::DomainRequest(socks5::kCommandConnect, host, port);
    if (!request) return {};  // a name the length byte cannot carry
    if (!Socks5Negotiate(fd.get(), proxy, timeouts)) return {};
    if (!SendBuffer(fd.get(), *request, timeouts)) return {};
    PeerAddress bound;
    if (!Socks5ReadReply(fd.get(), bound, timeouts)) return {};
    if (bound_address != nullptr) *bound_address = bound.HostText();
    return fd;
}

}  // namespace

ProxySettings OutgoingProxy(const CServerSettings& settings) {
    ProxySettings proxy;
    proxy.enabled = settings.ByProxy != 0;
    proxy.address = settings.ProxyAddress;
    proxy.port = settings.ProxyPort;
    proxy.auth = settings.ProxyAuth != 0;
    proxy.user = settings.ProxyUser;
    proxy.pass = settings.ProxyPass;
    proxy.protocol = settings.ProxyProtocol;
    return proxy;
}

UniqueFd ConnectToHost(std::string_view host, int port, std::string* local_address) {
    return ConnectToHost(host, port, OutgoingProxy(*Settings()), local_address);
}

UniqueFd ConnectTcp(const PeerAddress& address, const SocketTimeouts& timeouts) {
    UniqueFd fd(::socket(address.family(), SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) return {};
    if (::connect(fd.get(), address.get(), address.length()) != 0) {
        if (errno != EINPROGRESS) return {};
        int idle_slices = 0;
        for (;;) {
            if (!ServersRunning()) return {};
            pollfd watch{fd.get(), POLLOUT, 0};
            const int ready = ::poll(&watch, 1, timeouts.slice_ms);
            if (ready < 0 && errno != EINTR) return {};
            if (ready > 0) break;
            if (ready == 0 && ++idle_slices > timeouts.idle_slices) return {};
        }
        int error = 0;
        socklen_t length = sizeof(error);
        if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) return {};
    }
    if (!SetBlocking(fd.get(), true)) return {};
    return fd;
}

UniqueFd ConnectToHost(std::string_view host, int port, const ProxySettings& proxy, std::string* local_address,
                       const SocketTimeouts& timeouts) {
    if (proxy.enabled) return ConnectThroughProxy(host, port, proxy, local_address, timeouts);
    const auto address = ResolveIpv4(host, port);
    if (!address) return {};
    UniqueFd fd = ConnectTcp(*address, timeouts);
    if (fd && local_address != nullptr) {
        const PeerAddress local = LocalAddressOf(fd.get());
        if (!local.empty()) *local_address = local.HostText();
    }
    return fd;
}

UniqueFd ConnectThroughProxy(std::string_view host, int port, const ProxySettings& proxy,
                             std::string* bound_address, const SocketTimeouts& timeouts) {
    const auto address = ResolveIpv4(proxy.address, proxy.port);
    if (!address) return {};
    const bool http = EqualsNoCase(proxy.protocol, "HTTP") ||
                      EqualsNoCase(proxy.protocol, "HTTPS");
    const bool socks = EqualsNoCase(proxy.protocol, "SOCKS5");
    UniqueFd fd = ConnectTcp(*address, timeouts);
    if (!fd || !(http || socks)) return {};
    if (http) return HttpConnect(std::move(fd), host, port, proxy, timeouts);
    return Socks5Connect(std::move(fd), host, port, proxy, bound_address, timeouts);
}

bool Socks5Negotiate(int fd, const ProxySettings& proxy, const SocketTimeouts& timeouts) {
    if (!SendBuffer(fd, socks5::Greeting(proxy.auth), timeouts)) return false;
    std::string reply;
    if (!ReadExact(fd, reply, 2, timeouts) || reply[0] != socks5::kVersion) return false;
    const auto method = static_cast<std::uint8_t>(reply[1]);
    if (method == socks5::kMethodNone) return true;
    if (method != socks5::kMethodUserPass || !proxy.auth) return false;
    const auto login = socks5::UserPassRequest(proxy.user, proxy.pass);
    if (!login || !SendBuffer(fd, *login, timeouts)) return false;
    return ReadExact(fd, reply, 2, timeouts) && reply[1] == 0;
}

bool Socks5ReadReply(int fd, PeerAddress& bound, const SocketTimeouts& timeouts) {
    // VER REP RSV ATYP, then the first address byte (a domain's length), so
    // that the rest can be read to its exact end and nothing of the tunnel
    // is taken by mistake.
    std::string head;
    if (!ReadExact(fd, head, 5, timeouts)) return false;
    if (head[0] != socks5::kVersion || head[1] != 0) return false;
    const auto type = static_cast<std::uint8_t>(head[3]);
    const auto field = socks5::AddressFieldLength(type, static_cast<std::uint8_t>(head[4]));
    if (!field) return false;
    std::string rest;
    if (!ReadExact(fd, rest, *field - 1 + 2, timeouts)) return false;
    const std::string address = head.substr(4) + rest;
    const int port = (static_cast<unsigned char>(address[*field]) << 8) | static_cast<unsigned char>(address[*field + 1]);
    if (type == socks5::kAddressIpv4) {
        std::uint32_t v4;
        std::memcpy(&v4, address.data(), 4);
        bound = PeerAddress::FromIpv4(v4, port);
    } else if (type == socks5::kAddressIpv6) {
        sockaddr_in6 v6{};
        v6.sin6_family = AF_INET6;
        std::memcpy(&v6.sin6_addr, address.data(), 16);
        v6.sin6_port = htons(static_cast<std::uint16_t>(port));
        bound = PeerAddress(reinterpret_cast<const sockaddr*>(&v6), sizeof(v6));
    } else {
        bound = PeerAddress();  // a bound domain name says nothing about addresses
    }
    return true;
}

}  // namespace quorvex
