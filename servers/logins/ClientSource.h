// The client a login or a sign-up counts against. A web-mail front end
// connects for all its users and forwards each user's address (POP3 "USER
// name:address", the ":" suffix of the account server's account texts, the
// web-mail HELO): from a web-mail address that forwarded address is the
// client, and the front end is named beside it. A forwarded text from any
// other connection, or one that is not an IP address, counts for nothing:
// the client is then the connection's own address.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace quorvex {

struct ClientSource {
    ClientSource() = default;
    ClientSource(std::string address_, std::string via_ = {}) : address(std::move(address_)), via(std::move(via_)) {}

    std::string address;  // counted and logged: the forwarded address, or the connection's
    std::string via;      // the web-mail front end a forwarded address came through; else empty

    bool operator==(const ClientSource&) const = default;
};

// The address a forwarded text names, in its plain numeric form so that
// one address has one spelling; nothing when it names none (empty, a name,
// a NUL byte). Blanks and tabs around it do not count.
std::optional<std::string> ForwardedAddress(std::string_view forwarded);

// `forwarded` may be empty (the request forwards nothing).
ClientSource ResolveClientSource(std::string_view connection, std::string_view forwarded, bool from_web_mail);

// Appends the text with every byte outside printable ASCII (the blank and
// the backslash included) written as \xNN: a log field stays one field of
// one line, whatever a client sent.
void AppendVisible(std::string& line, std::string_view text);

// Appends " address=<address>" and, for a forwarded address,
// " via=<front end>".
void AppendClientFields(std::string& line, const ClientSource& client);

}  // namespace quorvex
