// Who an address belongs to: a local account, a local domain without such
// an account, or the outside world; whether an IPv4 address is one of this
// host's own; whether a client is one of the configured web-mail front
// ends. Every server and the mailbox store decide these the same way here.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "mailmodel/account/AccountPresence.h"
#include "common/AddressClass.h"
#include "common/ServerSettings.h"
#include "common/net/PeerAddress.h"

namespace quorvex {

// The account an address names: the whole address with several mail
// domains, the part before the last "@" with one.
std::string AccountOfAddress(std::string_view address, const CServerSettings& settings);

// Longest address looked at; longer input is cut to this (a 1024-byte
// buffer with its terminator).
inline constexpr std::size_t kMaxClassifiedAddressLength = 1023;

// The account store's verdict on a name (AccountExists).
using AccountExistsFunction = std::function<AccountPresence(std::string_view name)>;

// Splits at the last "@". A domain that is a dotted IPv4 address of this
// host (bare or in square brackets) names the local accounts in
// single-domain mode and nobody in multi-domain mode. Otherwise, in
// multi-domain mode the domain must be in the domain table and the whole
// address is the account name; in single-domain mode the domain must equal
// Dominame (any case) and the name before the "@" is the account name.
// Gives an AddressClass value.
int ClassifyAddress(std::string_view address, const CServerSettings& settings,
                    const AccountExistsFunction& account_exists);

// The same against the current settings and the account store.
int ClassifyAddress(std::string_view address);

// 1 when the first byte is 127 or the address is one under which the local
// host name resolves; 0 for the address 0 and every other address.
int IsLocalAddress(std::uint32_t ipv4_net_order);

// The same for a peer of either family: IPv6 loopback counts as local too.
bool IsLocalAddress(const PeerAddress& address);

// 1 when the dotted address is one of the ";"-separated entries of
// `front_ends` ([WebMail] IP), compared byte for byte without trimming.
int IsWebMailAddress(std::string_view dotted_address, std::string_view front_ends);

// The same against the current settings.
int IsWebMailAddress(std::string_view dotted_address);

}  // namespace quorvex
