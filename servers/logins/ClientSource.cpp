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

ConnectionClient::ConnectionClient(std::string connection, bool web_mail)
    : connection_(std::move(connection)), web_mail_(web_mail), client_(connection_) {}

void ConnectionClient::Forward(std::string_view forwarded) {
    if (!web_mail_) return;
    auto address = ForwardedAddress(forwarded);
    ClientSource client = address ? ClientSource(std::move(*address), connection_) : ClientSource(connection_);
    if (client == client_) return;
    client_ = std::move(client);
    activity_->ForwardedClient(client_.address);
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
