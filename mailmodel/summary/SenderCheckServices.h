// What the mail summary's sender check needs from the network code, which
// lives above this library: the local-account test of an address, the
// local-host test of an IPv4 address, the MX query and host resolution.
// The servers install their implementation at start-up; tests use fakes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/AddressClass.h"

namespace quorvex {

class SenderCheckServices {
public:
    virtual ~SenderCheckServices() = default;

    // An AddressClass value: an existing local account, not a local
    // domain, or no "@" / a local domain without that account.
    virtual int ClassifyAddress(std::string_view address) = 0;
    // True for 127.x.x.x and the addresses of the local host name
    // (network byte order).
    virtual bool IsLocalAddress(std::uint32_t ipv4) = 0;
    // MX records of the domain asked of dns_server: entries "host pref"
    // separated by CR LF in `answer`. 1 answered, 0 undecodable (worth
    // asking the secondary server), -1 failed.
    virtual int QueryMx(std::string_view domain, std::string_view dns_server, std::string& answer) = 0;
    // Every IPv4 address of a host name (network byte order); empty when it
    // does not resolve.
    virtual std::vector<std::uint32_t> ResolveHost(std::string_view host) = 0;
};

// The process's services; nothing installed means the check is skipped.
void InstallSenderCheckServices(std::shared_ptr<SenderCheckServices> services);
std::shared_ptr<SenderCheckServices> InstalledSenderCheckServices();

}  // namespace quorvex
