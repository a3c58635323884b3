// Forwards the sender check's questions to the address rules and resolver.
#include "servers/address/NetworkSenderCheck.h"

#include <netdb.h>

#include <algorithm>

#include "common/net/PeerAddress.h"
#include "servers/address/AddressRules.h"

namespace quorvex {

int NetworkSenderCheck::ClassifyAddress(std::string_view address) { return quorvex::ClassifyAddress(address); }

bool NetworkSenderCheck::IsLocalAddress(std::uint32_t ipv4) { return quorvex::IsLocalAddress(ipv4) == 1; }

int NetworkSenderCheck::QueryMx(std::string_view domain, std::string_view dns_server, std::string& answer) {
    DnsResolver resolver = fixed_options_ ? DnsResolver(options_) : DnsResolver();
    return resolver.Query(domain, answer, dns_server);
}

std::vector<std::uint32_t> NetworkSenderCheck::ResolveHost(std::string_view host) {
    std::vector<std::uint32_t> addresses;
    if (IsDottedIpv4(host)) {
        if (const auto address = PeerAddress::FromNumeric(host, 0)) addresses.push_back(*address->Ipv4());
        return addresses;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string name(host);
    if (name.empty() || ::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0) return addresses;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        const auto v4 = PeerAddress(entry->ai_addr, entry->ai_addrlen).Ipv4();
        if (v4 && std::find(addresses.begin(), addresses.end(), *v4) == addresses.end()) addresses.push_back(*v4);
    }
    ::freeaddrinfo(found);
    return addresses;
}

}  // namespace quorvex
