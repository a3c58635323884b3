// Opening TCP connections to other hosts, directly or through the
// configured outgoing proxy (SOCKS5 or HTTP CONNECT). A connect waits in
// slices like every other socket wait, so a shutdown or an unreachable
// host never blocks a thread for long.
#pragma once

#include <string>
#include <string_view>

#include "common/ServerSettings.h"
#include "common/UniqueFd.h"
#include "common/net/PeerAddress.h"
#include "common/net/SocketIo.h"

namespace quorvex {

// The outgoing proxy: [System] "ByProxy" and section "Proxy" of config.ini.
struct ProxySettings {
    bool enabled = false;          // "ByProxy"
    std::string address;           // "Address": host name or dotted address
    int port = 1080;               // "Port"
    bool auth = false;             // "Auth"
    std::string user;              // "User"
    std::string pass;              // "Pass"
    std::string protocol = "SOCKS5";  // "Protocol": "SOCKS5", "HTTP" or "HTTPS"
};

// The proxy fields of a settings record.
ProxySettings OutgoingProxy(const CServerSettings& settings);

// A plain TCP connection to a resolved address; invalid on failure. The
// connect itself gives up after the idle limit of `timeouts`.
UniqueFd ConnectTcp(const PeerAddress& address, const SocketTimeouts& timeouts = kDefaultSocketTimeouts);

// Connects to host:port (host a dotted IPv4 address or a name), through the
// proxy when `proxy.enabled` is set. `local_address`, when given, receives
// the local address of the connection as dotted text (through a SOCKS5
// proxy: the address the proxy bound; through HTTP: nothing). Invalid on
// failure.
UniqueFd ConnectToHost(std::string_view host, int port, const ProxySettings& proxy,
                       std::string* local_address = nullptr,
                       const SocketTimeouts& timeouts = kDefaultSocketTimeouts);

// The same with the proxy of the current settings.
UniqueFd ConnectToHost(std::string_view host, int port, std::string* local_address = nullptr);

// Connects to the proxy and asks it for a tunnel to host:port. An unknown
// "Protocol" fails. `bound_address` as for ConnectToHost.
UniqueFd ConnectThroughProxy(std::string_view host, int port, const ProxySettings& proxy,
                             std::string* bound_address = nullptr,
                             const SocketTimeouts& timeouts = kDefaultSocketTimeouts);

// The SOCKS5 method negotiation (and the user name and password step when
// the proxy picks it) on a socket connected to the proxy.
bool Socks5Negotiate(int fd, const ProxySettings& proxy, const SocketTimeouts& timeouts = kDefaultSocketTimeouts);

// Reads a SOCKS5 request reply of any address type, exactly as long as it
// is, and gives the bound address and port. False unless version 5 and
// success.
bool Socks5ReadReply(int fd, PeerAddress& bound, const SocketTimeouts& timeouts = kDefaultSocketTimeouts);

}  // namespace quorvex
