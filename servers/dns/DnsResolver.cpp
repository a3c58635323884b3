// One UDP exchange per server, directly or through a SOCKS5 UDP relay, and
// the referral walk.
#include "servers/dns/DnsResolver.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>

#include "common/RunFlag.h"
#include "common/net/ProxyProtocol.h"
#include "servers/dns/DnsMessage.h"

namespace quorvex {
namespace {

// Transaction identifiers count up from 0xBEEF (the first query carries
// 0xBEF0), shared by every lookup of the process.
std::atomic<std::uint16_t> last_transaction_id{0xBEEF};

std::uint16_t NextTransactionId() {
    return static_cast<std::uint16_t>(last_transaction_id.fetch_add(1, std::memory_order_relaxed) + 1);
}

// Largest datagram we take; servers answer plain queries in 512 bytes.
constexpr std::size_t kMaxDatagram = 65536;

// Length of the SOCKS5 header in front of a relayed datagram, or nothing
// when the datagram is too short to hold one.
std::optional<std::size_t> RelayHeaderLength(std::string_view datagram) {
    if (datagram.size() < 5) return std::nullopt;
    const auto field = socks5::AddressFieldLength(static_cast<std::uint8_t>(datagram[3]),
                                                  static_cast<std::uint8_t>(datagram[4]));
    if (!field || datagram.size() < 4 + *field + 2) return std::nullopt;
    return 4 + *field + 2;
}

// Waits for the reply to query `id` until the deadline, dropping datagrams
// that are not it (stale replies of earlier lookups, forgeries).
std::optional<std::string> AwaitReply(int fd, std::uint16_t id, bool relayed, int wait_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    std::string datagram(kMaxDatagram, '\0');
    for (;;) {
        if (!ServersRunning()) return std::nullopt;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        pollfd watch{fd, POLLIN, 0};
        const int ready = ::poll(&watch, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
        if (ready < 0 && errno != EINTR) return std::nullopt;
        if (ready <= 0) continue;
        const ssize_t got = ::recv(fd, datagram.data(), datagram.size(), MSG_DONTWAIT);
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return std::nullopt;  // e.g. the server's port is closed
        }
        std::string_view message(datagram.data(), static_cast<std::size_t>(got));
        if (relayed) {
            const auto header = RelayHeaderLength(message);
            if (!header) continue;
            message.remove_prefix(*header);
        }
        if (message.size() < dns::kHeaderSize) continue;
        const auto* bytes = reinterpret_cast<const unsigned char*>(message.data());
        const bool is_response = (bytes[2] & 0x80) != 0;
        if (dns::ReadUint16BE(bytes) != id || !is_response) continue;
        return std::string(message);
    }
}

}  // namespace

DnsResolverOptions DnsOptionsFromSettings(const CServerSettings& settings) {
    DnsResolverOptions options;
    options.proxy = OutgoingProxy(settings);
    return options;
}

DnsResolver::DnsResolver() : options_(DnsOptionsFromSettings(*Settings())) {}

int DnsResolver::Query(std::string_view domain, std::string& output, std::string_view server) {
    output.clear();
    Lookup lookup;
    return QueryServer(domain, output, server, lookup);
}

int DnsResolver::QueryServer(std::string_view domain, std::string& output, std::string_view server, Lookup& lookup) {
    if (++lookup.attempts > kMaxServersPerLookup) return kUndecodable;
    const auto reply = Exchange(domain, server);
    if (!reply) return kNoAnswer;
    const dns::MxReply parsed = dns::ParseMxReply(*reply);
    switch (parsed.kind) {
        case dns::MxReply::Kind::kMalformed: return kUndecodable;
        case dns::MxReply::Kind::kAnswers: output = dns::FormatMxList(parsed.answers); return kFound;
        case dns::MxReply::Kind::kReferrals: break;
    }
    bool referral_undecodable = false;
    for (const std::string& next : parsed.referrals) {
        if (std::find(lookup.asked.begin(), lookup.asked.end(), next) != lookup.asked.end()) continue;
        lookup.asked.push_back(next);
        const int result = QueryServer(domain, output, next, lookup);
        if (result == kFound) return kFound;
        if (result == kUndecodable) referral_undecodable = true;
    }
    return referral_undecodable ? kUndecodable : kNoAnswer;
}

std::optional<std::string> DnsResolver::Exchange(std::string_view domain, std::string_view server) {
    const ProxySettings& proxy = options_.proxy;
    const std::uint16_t id = NextTransactionId();
    const auto query = dns::BuildMxQuery(id, domain);
    if (!query) return std::nullopt;

    UniqueFd udp(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!udp) return std::nullopt;
    sockaddr_in any{};
    any.sin_family = AF_INET;
    if (::bind(udp.get(), reinterpret_cast<const sockaddr*>(&any), sizeof(any)) != 0) return std::nullopt;
    const PeerAddress udp_local = LocalAddressOf(udp.get());
    if (udp_local.empty()) return std::nullopt;

    UniqueFd control;  // the proxy's TCP connection; the relay lives as long as it
    std::string datagram;
    PeerAddress target;
    if (!proxy.enabled) {
        const auto address = ResolveIpv4(server, options_.server_port);
        if (!address) return std::nullopt;
        target = *address;
        datagram = *query;
    } else {
        const auto proxy_address = ResolveIpv4(proxy.address, proxy.port);
        if (!proxy_address) return std::nullopt;
        control = ConnectTcp(*proxy_address);
        if (!control || !Socks5Negotiate(control.get(), proxy)) return std::nullopt;
        const auto local_v4 = LocalAddressOf(control.get()).Ipv4();
        if (!local_v4) return std::nullopt;
        if (!SendBuffer(control.get(), socks5::UdpAssociateRequest(*local_v4, udp_local.port()))) return std::nullopt;
        PeerAddress relay;
        if (!Socks5ReadReply(control.get(), relay)) return std::nullopt;
        // The relay listens on the proxy's address at the port it named.
        target = PeerAddress::FromIpv4(*proxy_address->Ipv4(), relay.port());
        const auto header = socks5::UdpDatagramHeader(server, options_.server_port);
        if (!header) return std::nullopt;
        datagram = *header;
        datagram += *query;
    }
    if (::connect(udp.get(), target.get(), target.length()) != 0) return std::nullopt;
    if (::send(udp.get(), datagram.data(), datagram.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(datagram.size())) {
        return std::nullopt;
    }
    return AwaitReply(udp.get(), id, proxy.enabled, options_.reply_wait_ms);
}

}  // namespace quorvex
