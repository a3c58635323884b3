// Address classification, own-address test and web-mail front ends.
#include "servers/address/AddressRules.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <unistd.h>

#include <string>

#include "common/AccountName.h"
#include "common/HostInfo.h"
#include "common/StringTokenizer.h"
#include "mailmodel/account/AccountConfig.h"

namespace quorvex {
namespace {

// "1.2.3.4" or "[1.2.3.4]" as an address in network order.
std::optional<std::uint32_t> HostLiteral(std::string_view domain) {
    if (domain.size() >= 2 && domain.front() == '[' && domain.back() == ']') {
        domain = domain.substr(1, domain.size() - 2);
    }
    const auto address = ParseIpv4(domain);
    if (!address) return std::nullopt;
    return htonl(*address);
}

}  // namespace

std::string AccountOfAddress(std::string_view address, const CServerSettings& settings) {
    if (IsMultiDomain(settings)) return std::string(address);
    return std::string(address.substr(0, address.rfind('@')));
}

int ClassifyAddress(std::string_view address, const CServerSettings& settings,
                    const AccountExistsFunction& account_exists) {
    address = address.substr(0, kMaxClassifiedAddressLength);
    const std::size_t at = address.rfind('@');
    if (at == std::string_view::npos) return ADDRESS_LOCAL_UNKNOWN;
    const std::string_view user_name = address.substr(0, at);
    const std::string_view domain = address.substr(at + 1);
    const bool multi_domain = settings.DomainNameType == 1;
    const auto exists = [&](std::string_view name) {
        return account_exists && account_exists(name) == AccountPresence::kListed ? ADDRESS_LOCAL_ACCOUNT : ADDRESS_LOCAL_UNKNOWN;
    };

    if (const auto literal = HostLiteral(domain); literal && IsLocalAddress(*literal)) {
        if (multi_domain) return ADDRESS_LOCAL_UNKNOWN;
        return exists(user_name);
    }
    if (multi_domain) {
        if (settings.Domains.Find(domain) < 0) return ADDRESS_REMOTE;
        return exists(address);
    }
    if (!SameName(domain, settings.Dominame)) return ADDRESS_REMOTE;
    return exists(user_name);
}

int ClassifyAddress(std::string_view address) {
    return ClassifyAddress(address, *Settings(), [](std::string_view name) { return AccountExists(name); });
}

int IsLocalAddress(std::uint32_t ipv4_net_order) {
    if (ipv4_net_order == 0) return 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(&ipv4_net_order);
    if (bytes[0] == 127) return 1;
    const std::string host = ComputerName();
    if (host.empty()) return 0;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) return 0;
    int local = 0;
    for (const addrinfo* entry = found; entry != nullptr && local == 0; entry = entry->ai_next) {
        const PeerAddress own(entry->ai_addr, entry->ai_addrlen);
        local = own.Ipv4() == ipv4_net_order ? 1 : 0;
    }
    ::freeaddrinfo(found);
    return local;
}

bool IsLocalAddress(const PeerAddress& address) {
    if (const auto v4 = address.Ipv4()) return IsLocalAddress(*v4) == 1;
    return address.HostText() == "::1";
}

int IsWebMailAddress(std::string_view dotted_address, std::string_view front_ends) {
    CStringTokenizer entries(front_ends, ";");
    while (entries.HasMoreTokens()) {
        if (entries.NextToken() == dotted_address) return 1;
    }
    return 0;
}

int IsWebMailAddress(std::string_view dotted_address) {
    return IsWebMailAddress(dotted_address, Settings()->WebMailIP);
}

}  // namespace quorvex
