// The keys a client address is counted under, shared by every count of
// clients (the login guard, the sign-up limit, the job table's slots):
// one client has one key whatever spelling its address came in.
#pragma once

#include <string>
#include <string_view>

namespace quorvex {

// The key a client address is counted under: the address itself, for an
// IPv6 address its /64 network ("2001:db8:1:2::/64"); an IPv4-mapped
// address counts as its IPv4 address.
std::string CountingKey(std::string_view address);

// The network a client is counted with where it has no count of its own:
// an IPv4 address's /24 ("192.0.2.0/24", an IPv4-mapped address as its
// IPv4 address), an IPv6 address's /48 ("2001:db8:1::/48"); any other
// text itself.
std::string NetworkKey(std::string_view address);

}  // namespace quorvex
