// Proxy request building and reply checks.
#include "common/net/ProxyProtocol.h"


#include "common/AsciiCase.h"
#include "common/Base64.h"

namespace quorvex {
namespace {

void AppendPort(std::string& out, int port) {
    out += static_cast<char>((port >> 8) & 0xFF);
    out += static_cast<char>(port & 0xFF);
}

}  // namespace

std::string BuildHttpConnectRequest(std::string_view host, int port, const std::string* user,
                                    const std::string* pass) {
    std::string request = "CONNECT ";
    request.append(host).append(":").append(std::to_string(port)).append(" HTTP/1.0\r\n");
    if (user != nullptr) {
        std::string credentials = *user;
        credentials.append(":").append(pass != nullptr ? *pass : std::string());
        request.append("Proxy-Authorization: Basic ").append(Base64Encode(credentials)).append("\r\n");
    }
    request.append("\r\n");
    return request;
}

bool IsHttpConnectSuccess(std::string_view status_line) {
    while (!status_line.empty() && status_line.front() == ' ') status_line.remove_prefix(1);
    constexpr std::string_view kPrefixes[] = {"HTTP/1.0 200", "HTTP/1.1 200"};
    for (const std::string_view prefix : kPrefixes) {
        if (StartsWithNoCase(status_line, prefix)) return true;
    }
    return false;
}

namespace socks5 {

std::string Greeting(bool with_auth) {
    if (with_auth) return std::string{char(kVersion), 2, char(kMethodNone), char(kMethodUserPass)};
    return std::string{char(kVersion), 1, char(kMethodNone)};
}

std::optional<std::string> UserPassRequest(std::string_view user, std::string_view pass) {
    if (user.size() > 255 || pass.size() > 255) return std::nullopt;
    std::string request{char(1)};
    request += static_cast<char>(user.size());
    request.append(user);
    request += static_cast<char>(pass.size());
    request.append(pass);
    return request;
}

std::optional<std::string> DomainRequest(std::uint8_t command, std::string_view host, int port) {
    if (host.empty() || host.size() > 255 || port < 0 || port > 65535) return std::nullopt;
    std::string request{char(kVersion), char(command), 0, char(kAddressDomain)};
    request += static_cast<char>(host.size());
    request.append(host);
    AppendPort(request, port);
    return request;
}

std::string UdpAssociateRequest(std::uint32_t address_net_order, int port) {
    std::string request{char(kVersion), char(kCommandUdpAssociate), 0, char(kAddressIpv4)};
    request.append(reinterpret_cast<const char*>(&address_net_order), 4);  // already in network order
    AppendPort(request, port);
    return request;
}

std::optional<std::size_t> AddressFieldLength(std::uint8_t type, std::uint8_t first_address_byte) {
    switch (type) {
        case kAddressIpv4: return 4;
        case kAddressIpv6: return 16;
        case kAddressDomain: return 1 + std::size_t{first_address_byte};
        default: return std::nullopt;
    }
}

std::optional<std::string> UdpDatagramHeader(std::string_view host, int port) {
    if (host.empty() || host.size() > 255 || port < 0 || port > 65535) return std::nullopt;
    std::string header{0, 0, 0, char(kAddressDomain)};
    header += static_cast<char>(host.size());
    header.append(host);
    AppendPort(header, port);
    return header;
}

}  // namespace socks5
}  // namespace quorvex
