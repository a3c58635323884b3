// MX lookups straight at a given DNS server over UDP (not through the
// system resolver), following referrals from the authority section, and
// optionally through a SOCKS5 proxy's UDP relay. The delivery code walks
// the result, one "host preference" line per mail exchanger.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/net/HostConnect.h"

namespace quorvex {

struct DnsResolverOptions {
    int server_port = 53;      // the DNS port asked at every server (tests pick their own)
    int reply_wait_ms = 2000;  // one wait per server; there is no second try
    // With `proxy.enabled` the queries go through the proxy's SOCKS5 UDP
    // relay, whatever its "Protocol" says.
    ProxySettings proxy;
};

// Options for the current settings: port 53, the settings' proxy when
// "ByProxy" is set.
DnsResolverOptions DnsOptionsFromSettings(const CServerSettings& settings);

class DnsResolver {
public:
    // Without options: those of the current settings.
    DnsResolver();
    explicit DnsResolver(DnsResolverOptions options) : options_(std::move(options)) {}
    virtual ~DnsResolver() = default;

    // Results of Query.
    static constexpr int kFound = 1;        // `output` holds the MX list
    static constexpr int kUndecodable = 0;  // a malformed reply, too many servers, or a referral ended so
    static constexpr int kNoAnswer = -1;    // no server could be reached or gave anything usable

    // Asks `server` (a host name or dotted address) for the MX records of
    // `domain`, following referrals, at most 9 servers per lookup. On
    // kFound `output` holds "host preference" lines joined by CR LF, in the
    // order of the answer; otherwise it is left empty.
    int Query(std::string_view domain, std::string& output, std::string_view server);

    // Most servers one lookup asks.
    static constexpr int kMaxServersPerLookup = 9;

private:
    struct Lookup {
        int attempts = 0;
        std::vector<std::string> asked;  // referral servers already asked, lower-case
    };

    int QueryServer(std::string_view domain, std::string& output, std::string_view server, Lookup& lookup);
    // One query and its reply; nothing when the server could not be
    // reached or sent no matching reply in time.
    std::optional<std::string> Exchange(std::string_view domain, std::string_view server);

    DnsResolverOptions options_;
};

}  // namespace quorvex
