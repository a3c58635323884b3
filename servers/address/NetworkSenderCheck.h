// The network half of the stored-mail sender check: the address rules, the
// own-address test, MX lookups and host resolution, as the mailbox code
// asks for them through its SenderCheckServices interface. Start-up
// installs one with InstallSenderCheckServices.
#pragma once

#include "mailmodel/summary/SenderCheckServices.h"
#include "servers/dns/DnsResolver.h"

namespace quorvex {

class NetworkSenderCheck : public SenderCheckServices {
public:
    // Without options the resolver follows the current settings at each query.
    NetworkSenderCheck() = default;
    explicit NetworkSenderCheck(DnsResolverOptions options) : options_(std::move(options)), fixed_options_(true) {}

    int ClassifyAddress(std::string_view address) override;
    bool IsLocalAddress(std::uint32_t ipv4) override;
    int QueryMx(std::string_view domain, std::string_view dns_server, std::string& answer) override;
    std::vector<std::uint32_t> ResolveHost(std::string_view host) override;

private:
    DnsResolverOptions options_;
    bool fixed_options_ = false;
};

}  // namespace quorvex
