// One SMTP client connection: greeting, HELO (or EHLO with AUTH LOGIN for
// a relay that wants it), one message for one recipient, QUIT. Every
// failed step leaves its reason in LastResponse(): the server's reply, or
// "WSAETIMEDOUT" for a lost, silent or refused connection.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/UniqueFd.h"
#include "common/net/HostConnect.h"
#include "common/net/SocketIo.h"
#include "servers/outgoing/SmtpClientText.h"

namespace quorvex::outgoing {

struct SmtpClientOptions {
    // A reply may take this long in silence ([System] "SocketIdleTimeout"
    // minutes); waits are cut into slices so a shutdown ends them.
    SocketTimeouts timeouts{1000, 600};
    ProxySettings proxy;
    // AUTH LOGIN after EHLO (a relay with [ISPSMTP] "NeedAuth").
    bool authenticate = false;
    std::string user;
    std::string password;
};

class SmtpClientSession {
public:
    explicit SmtpClientSession(SmtpClientOptions options) : options_(std::move(options)) {}
    virtual ~SmtpClientSession() = default;
    SmtpClientSession(const SmtpClientSession&) = delete;
    SmtpClientSession& operator=(const SmtpClientSession&) = delete;

    // Connects, reads the greeting and says HELO (or EHLO and logs in).
    bool Open(std::string_view host, int port, std::string_view helo_name);
    // MAIL, RCPT, DATA and the stored (dot-stuffed) message file, sent as
    // it is but for its bare CRs and LFs (DataLineEnds), with a final line
    // end and ".". True once the server accepted the data.
    bool SendMessage(const std::string& file, std::string_view sender, std::string_view recipient);
    bool SendRecipient(std::string_view recipient);
    // Sends QUIT (when `send` is set and the dialogue is open) and closes.
    // True only when the server answered 221.
    bool Quit(bool send);
    // Reads the next complete reply; true when it carries `code`.
    bool ExpectReply(int code);
    void Close();

    const std::string& LastResponse() const { return last_failure_.text; }
    const HostFailure& LastFailure() const { return last_failure_; }
    int LastReplyCode() const { return last_code_; }
    // Dotted local address of the connection (empty through an HTTP proxy).
    const std::string& LocalAddress() const { return local_address_; }

private:
    bool Send(std::string_view bytes);
    bool SendData(const std::string& file);
    void Fail(std::string_view text);
    void FailTimedOut();

    SmtpClientOptions options_;
    UniqueFd socket_;
    bool connected_ = false;
    std::string pending_;  // received bytes not yet taken as a reply
    HostFailure last_failure_;
    std::string local_address_;
    int last_code_ = 0;
};

}  // namespace quorvex::outgoing
