// The client a connection's logins, sign-ups, log lines and job slot count
// against. A web-mail front end connects for all its users and forwards
// each user's address (POP3 "USER name:address", the ":" suffix of the
// account server's account texts, the web-mail HELO): from a front end
// that forwarded address is the client, and the front end is named beside
// it. A forwarded text from any other connection, or one that is not an IP
// address, counts for nothing: the client is then the connection's own
// address.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "common/net/SessionActivity.h"

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

// Who one connection speaks for. Whether its peer is a web-mail front end
// is decided once, when the connection is accepted (the job table's
// answer), and every part of the session asks this object: the logs, the
// login guard, the sign-up limit and the job slot see one client.
class ConnectionClient {
public:
    // `connection`: the peer's address; `web_mail`: whether it is a
    // web-mail front end.
    explicit ConnectionClient(std::string connection, bool web_mail = false);

    const std::string& connection() const { return connection_; }
    bool web_mail() const { return web_mail_; }
    const ClientSource& client() const { return client_; }

    // Where a change of client is reported (the job slot keys its
    // connection by it).
    void SetActivity(SessionActivity& activity) { activity_ = &activity; }

    // The text a request forwards for its user (empty: none) names the
    // client from now on: from a front end, an address names that address
    // and anything else the front end itself; from any other connection it
    // changes nothing.
    void Forward(std::string_view forwarded);

private:
    std::string connection_;
    bool web_mail_ = false;
    ClientSource client_;
    SessionActivity* activity_ = &NoSessionActivity();
};

// Appends the text with every byte outside printable ASCII (the blank and
// the backslash included) written as \xNN: a log field stays one field of
// one line, whatever a client sent.
void AppendVisible(std::string& line, std::string_view text);

// Appends " address=<address>" and, for a forwarded address,
// " via=<front end>".
void AppendClientFields(std::string& line, const ClientSource& client);

}  // namespace quorvex
