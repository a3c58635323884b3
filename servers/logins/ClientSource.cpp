// Which address a request counts against.
#include "servers/logins/ClientSource.h"

#include <cstdio>

#include "common/TextHelpers.h"
#include "common/net/PeerAddress.h"

namespace quorvex {

std::optional<std::string> ForwardedAddress(std::string_view forwarded) {
    const std::string_view text = TrimChars(forwarded, " \t");
    if (text.empty() || text.find('\0') != std::string_view::npos) return std::nullopt;
    const auto address = PeerAddress::FromNumeric(text, 0);
    if (!address) return std::nullopt;
    return address->HostText();
}

ClientSource ResolveClientSource(std::string_view connection, std::string_view forwarded, bool from_web_mail) {
    if (from_web_mail) {
        if (auto address = ForwardedAddress(forwarded)) return {std::move(*address), std::string(connection)};
    }
    return {std::string(connection), {}};
}

void AppendVisible(std::string& line, std::string_view text) {
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u > 0x20 && u < 0x7f && c != '\\') {
            line.push_back(c);
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", u);
            line.append(escaped);
        }
    }
}

void AppendClientFields(std::string& line, const ClientSource& client) {
    line += " address=";
    AppendVisible(line, client.address);
    if (client.via.empty()) return;
    line += " via=";
    AppendVisible(line, client.via);
}

}  // namespace quorvex
