// Conversions between socket addresses and their texts.
#include "common/net/PeerAddress.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cstring>

namespace quorvex {

PeerAddress::PeerAddress(const sockaddr* address, socklen_t length) {
    if (address == nullptr || length <= 0 || static_cast<std::size_t>(length) > sizeof(storage_)) return;
    std::memcpy(&storage_, address, static_cast<std::size_t>(length));
    length_ = length;
}

std::optional<PeerAddress> PeerAddress::FromNumeric(std::string_view host, int port) {
    if (port < 0 || port > 65535) return std::nullopt;
    const std::string text(host);
    sockaddr_in v4{};
    if (IsDottedIpv4(host) && ::inet_pton(AF_INET, text.c_str(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(static_cast<std::uint16_t>(port));
        return PeerAddress(reinterpret_cast<const sockaddr*>(&v4), sizeof(v4));
    }
    sockaddr_in6 v6{};
    if (::inet_pton(AF_INET6, text.c_str(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(static_cast<std::uint16_t>(port));
        return PeerAddress(reinterpret_cast<const sockaddr*>(&v6), sizeof(v6));
    }
    return std::nullopt;
}

PeerAddress PeerAddress::FromIpv4(std::uint32_t address_net_order, int port) {
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_port = htons(static_cast<std::uint16_t>(port));
    v4.sin_addr.s_addr = address_net_order;
    return PeerAddress(reinterpret_cast<const sockaddr*>(&v4), sizeof(v4));
}

int PeerAddress::port() const {
    if (family() == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in*>(&storage_)->sin_port);
    if (family() == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&storage_)->sin6_port);
    return 0;
}

std::optional<std::uint32_t> PeerAddress::Ipv4() const {
    if (family() == AF_INET) return reinterpret_cast<const sockaddr_in*>(&storage_)->sin_addr.s_addr;
    if (family() == AF_INET6) {
        const in6_addr& a = reinterpret_cast<const sockaddr_in6*>(&storage_)->sin6_addr;
        if (IN6_IS_ADDR_V4MAPPED(&a)) {
            std::uint32_t v4;
            std::memcpy(&v4, a.s6_addr + 12, 4);
            return v4;
        }
    }
    return std::nullopt;
}

std::string PeerAddress::HostText() const {
    char text[INET6_ADDRSTRLEN] = "";
    if (const auto v4 = Ipv4()) {
        in_addr a{};
        a.s_addr = *v4;
        ::inet_ntop(AF_INET, &a, text, sizeof(text));
    } else if (family() == AF_INET6) {
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&storage_)->sin6_addr, text, sizeof(text));
    }
    return text;
}

bool PeerAddress::SameHost(const PeerAddress& other) const {
    const auto mine = Ipv4();
    const auto theirs = other.Ipv4();
    if (mine || theirs) return mine == theirs;
    if (family() != AF_INET6 || other.family() != AF_INET6) return empty() && other.empty();
    return std::memcmp(&reinterpret_cast<const sockaddr_in6*>(&storage_)->sin6_addr,
                       &reinterpret_cast<const sockaddr_in6*>(&other.storage_)->sin6_addr, sizeof(in6_addr)) == 0;
}

PeerAddress LocalAddressOf(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof(address);
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
    return PeerAddress(reinterpret_cast<const sockaddr*>(&address), length);
}

PeerAddress RemoteAddressOf(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof(address);
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
    return PeerAddress(reinterpret_cast<const sockaddr*>(&address), length);
}

std::optional<std::uint32_t> ParseIpv4(std::string_view text) {
    const std::string copy(text);
    in_addr address{};
    if (::inet_pton(AF_INET, copy.c_str(), &address) != 1) return std::nullopt;
    return ntohl(address.s_addr);
}

bool IsDottedIpv4(std::string_view text) {
    int groups = 0;
    std::size_t i = 0;
    while (true) {
        int value = 0;
        std::size_t digits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
            value = value * 10 + (text[i] - '0');
            ++i;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) return false;
        ++groups;
        if (i == text.size()) return groups == 4;
        if (text[i] != '.' || groups == 4) return false;
        ++i;
    }
}

std::optional<PeerAddress> ResolveIpv4(std::string_view host, int port) {
    if (port < 0 || port > 65535 || host.empty()) return std::nullopt;
    if (IsDottedIpv4(host)) return PeerAddress::FromNumeric(host, port);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string name(host);
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return std::nullopt;
    PeerAddress result(found->ai_addr, found->ai_addrlen);
    ::freeaddrinfo(found);
    if (result.family() != AF_INET) return std::nullopt;
    return PeerAddress::FromIpv4(*result.Ipv4(), port);
}

}  // namespace quorvex
