// Counting keys of client addresses.
#include "common/net/AddressKey.h"

#include <arpa/inet.h>

#include <cstring>

#include "common/net/PeerAddress.h"

namespace quorvex {

std::string CountingKey(std::string_view address) {
    const auto peer = PeerAddress::FromNumeric(address, 0);
    if (!peer || peer->family() != AF_INET6 || peer->Ipv4()) return peer ? peer->HostText() : std::string(address);
    in6_addr network = reinterpret_cast<const sockaddr_in6*>(peer->get())->sin6_addr;
    std::memset(network.s6_addr + 8, 0, 8);
    char text[INET6_ADDRSTRLEN];
    if (::inet_ntop(AF_INET6, &network, text, sizeof text) == nullptr) return std::string(address);
    return std::string(text) + "/64";
}

std::string NetworkKey(std::string_view address) {
    const auto peer = PeerAddress::FromNumeric(address, 0);
    if (!peer) return std::string(address);
    if (const auto ipv4 = peer->Ipv4()) {
        const in_addr network{.s_addr = *ipv4 & htonl(0xffffff00)};
        char text[INET_ADDRSTRLEN];
        ::inet_ntop(AF_INET, &network, text, sizeof text);
        return std::string(text) + "/24";
    }
    in6_addr network = reinterpret_cast<const sockaddr_in6*>(peer->get())->sin6_addr;
    std::memset(network.s6_addr + 6, 0, 10);
    char text[INET6_ADDRSTRLEN];
    ::inet_ntop(AF_INET6, &network, text, sizeof text);
    return std::string(text) + "/48";
}

}  // namespace quorvex
