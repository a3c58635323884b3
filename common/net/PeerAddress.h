// A socket address of either family, as accepted from a peer or resolved
// for a connect. The protocols speak IPv4; the type also holds an IPv6
// peer so that a listener on an IPv6 address loses nothing.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvex {

class PeerAddress {
public:
    PeerAddress() = default;  // the all-zero address (no peer)
    PeerAddress(const sockaddr* address, socklen_t length);

    // A dotted IPv4 address or an IPv6 literal, with a port. Nothing else.
    static std::optional<PeerAddress> FromNumeric(std::string_view host, int port);
    static PeerAddress FromIpv4(std::uint32_t address_net_order, int port);

    bool empty() const { return storage_.ss_family == AF_UNSPEC; }
    int family() const { return storage_.ss_family; }
    int port() const;

    // The IPv4 address in network byte order; an IPv4-mapped IPv6 address
    // counts as IPv4. Nothing for other IPv6 addresses and the empty one.
    std::optional<std::uint32_t> Ipv4() const;

    // "192.0.2.1" or "2001:db8::1" (IPv4-mapped addresses in dotted form);
    // empty for the empty address.
    std::string HostText() const;

    // Same host, whatever the ports (an IPv4-mapped address equals its IPv4).
    bool SameHost(const PeerAddress& other) const;

    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage_); }
    socklen_t length() const { return length_; }

private:
    sockaddr_storage storage_{};
    socklen_t length_ = 0;
};

// The local and remote addresses of a connected socket (empty on failure).
PeerAddress LocalAddressOf(int fd);
PeerAddress RemoteAddressOf(int fd);

// Resolves a host for an IPv4 connect: a dotted address is used as it is, a
// name gives the first IPv4 address the system resolver returns.
std::optional<PeerAddress> ResolveIpv4(std::string_view host, int port);

// True for a text of four dotted decimal numbers 0-255 ("127.0.0.1").
bool IsDottedIpv4(std::string_view text);

// The address of a dotted IPv4 text as inet_pton reads it (four decimal
// numbers 0-255, no leading zeros, nothing around them), in host byte
// order; nothing for any other text.
std::optional<std::uint32_t> ParseIpv4(std::string_view text);

}  // namespace quorvex
