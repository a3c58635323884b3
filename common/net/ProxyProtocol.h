// The bytes of the two proxy dialogues, built and checked without sockets:
// HTTP CONNECT (with Basic proxy authorisation) and SOCKS5 (RFC 1928 with
// the user name and password method of RFC 1929).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvex {

// "CONNECT host:port HTTP/1.0" with, when `user` is given, a
// "Proxy-Authorization: Basic" line carrying base64("user:pass").
std::string BuildHttpConnectRequest(std::string_view host, int port, const std::string* user,
                                    const std::string* pass);

// True when the status line, blanks trimmed, begins with "HTTP/1.0 200" or
// "HTTP/1.1 200" in any letter case.
bool IsHttpConnectSuccess(std::string_view status_line);

namespace socks5 {

inline constexpr std::uint8_t kVersion = 5;
inline constexpr std::uint8_t kMethodNone = 0x00;
inline constexpr std::uint8_t kMethodUserPass = 0x02;
inline constexpr std::uint8_t kCommandConnect = 0x01;
inline constexpr std::uint8_t kCommandUdpAssociate = 0x03;
inline constexpr std::uint8_t kAddressIpv4 = 0x01;
inline constexpr std::uint8_t kAddressDomain = 0x03;
inline constexpr std::uint8_t kAddressIpv6 = 0x04;

// Offers "no authentication", plus "user name and password" when asked.
std::string Greeting(bool with_auth);

// The RFC 1929 sub-negotiation. Nothing when a name or password exceeds the
// 255 bytes its length byte can carry.
std::optional<std::string> UserPassRequest(std::string_view user, std::string_view pass);

// A request for `host` sent as a domain name (also when it is a dotted
// address). Nothing for an empty host or one longer than 255 bytes.
std::optional<std::string> DomainRequest(std::uint8_t command, std::string_view host, int port);

// UDP ASSOCIATE naming the IPv4 address and port the datagrams will come from.
std::string UdpAssociateRequest(std::uint32_t address_net_order, int port);

// Length of a reply's address field for the address type byte, counting
// the domain's length byte (needs the byte after the type for a domain).
// Nothing for an unknown type.
std::optional<std::size_t> AddressFieldLength(std::uint8_t type, std::uint8_t first_address_byte);

// The header that precedes every datagram sent through a UDP relay:
// reserved 0 0, fragment 0, the target as a domain name and its port.
std::optional<std::string> UdpDatagramHeader(std::string_view host, int port);

}  // namespace socks5
}  // namespace quorvex
