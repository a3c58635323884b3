// One SMTP dialogue, without a socket: the lines of a LineBuffer go in
// through Process, replies come out as bytes. The session keeps all
// dialogue state, applies the access and relay rules, receives the message
// text (into memory, or a spool file when it is large) and hands it to
// local delivery. SmtpConnection
// drives it over a real socket.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/net/LineBuffer.h"
#include "common/net/SessionActivity.h"
#include "servers/smtp/MessageFile.h"
#include "servers/smtp/SmtpCommand.h"
#include "servers/smtp/SmtpServices.h"

namespace quorvex::smtp {

// Longest HELO/EHLO argument, mail address and AUTH user name accepted.
inline constexpr std::size_t kMaxHeloLength = 276;
inline constexpr std::size_t kMaxSenderLength = 260;
inline constexpr std::size_t kMaxRecipientLength = 256;
inline constexpr std::size_t kMaxAuthUserLength = 256;

// A whole session handed over to another SMTP server (mail proxy).
struct ProxyRequest {
    std::string user;
    std::string password;
    std::string host;
};

// Where the dialogue stands. Commands come in the first three; AUTH LOGIN
// waits for its user and password lines, DATA for the message text.
enum class SmtpState {
    kBeforeHelo,    // greeted; HELO or EHLO first
    kReady,         // after HELO: a transaction or AUTH LOGIN may begin
    kMailGiven,     // after MAIL FROM: recipients, then DATA
    kAuthUser,      // AUTH LOGIN asked for the user name
    kAuthPassword,  // AUTH LOGIN asked for the password
    kData,          // message text up to the final "."
};

// One mail transaction from MAIL FROM to the end of its data: RSET, a new
// HELO and the end of the message discard it whole, the file included.
struct SmtpTransaction {
    std::string sender;  // MAIL FROM (or AnonymousAccount for a relayed sender)
    int sender_class = kAddressRemote;
    std::vector<std::string> recipients;
    std::optional<std::string> from_rewrite;  // replaces the first From: line

    // The DATA phase.
    MessageFile message;
    bool in_header = true;
    bool previous_line_crlf = true;
    long long text_bytes = 0;  // the message so far, trace header included
    int write_error = 0;       // system error of a failed write of this message
};

class SmtpSession {
public:
    SmtpSession(SmtpServices& services, ConnectionClient client);

    // Where the session reports progress (a first HELO, an accepted sender,
    // recipient or AUTH, message text, a delivered message) and the client
    // a web-mail HELO names.
    void SetActivity(SessionActivity& activity) {
        activity_ = &activity;
        client_.SetActivity(activity);
    }

    // The greeting, or the refusal of a blocked client (then Finished()).
    // Takes the settings the whole session works with.
    std::string Start();

    // Takes every command line (or, during DATA, every piece of message
    // text) that `lines` holds and appends the replies to `out`. Stops
    // taking lines once the session has finished.
    void Process(LineBuffer& lines, std::string& out);

    bool Finished() const { return finished_; }
    // True when the session ended with QUIT or a proxy hand-off.
    bool EndedCleanly() const { return ended_cleanly_; }
    // Set when AUTH LOGIN asked for a hand-off to another server: the
    // connection relays the rest of the session there.
    const std::optional<ProxyRequest>& proxy_request() const { return proxy_; }

    // The client's address as logs show it (a web-mail HELO replaces it).
    const std::string& peer() const { return peer_; }

private:
    using Handler = void (SmtpSession::*)(const SmtpCommand& command, std::string& out);
    // A row of the command table: the states the verb is taken in (any
    // other gets "out of order") and what it does.
    struct CommandRow {
        SmtpVerb verb;
        unsigned allowed;  // one bit per SmtpState
        Handler handler;
    };
    static const CommandRow kCommands[];

    void HandleLine(const CommandLine& line, std::string& out);
    void HandleCommand(const SmtpCommand& command, std::string& out);
    // Ends any transaction: sender, recipients, From rewrite and message
    // file are gone and a new one may begin.
    void ResetTransaction();

    void OnHelo(const SmtpCommand& command, std::string& out);
    void OnMailFrom(const SmtpCommand& command, std::string& out);
    void OnRcptTo(const SmtpCommand& command, std::string& out);
    void OnData(const SmtpCommand& command, std::string& out);
    void OnRset(const SmtpCommand& command, std::string& out);
    void OnNoop(const SmtpCommand& command, std::string& out);
    void OnQuit(const SmtpCommand& command, std::string& out);
    void OnAuthLogin(const SmtpCommand& command, std::string& out);
    void OnUnknown(const SmtpCommand& command, std::string& out);

    // A web-mail front end's HELO, applied at MAIL FROM; false when the
    // session ended.
    bool TakeWebMailHelo(std::string& out);
    // The end user's address a web-mail HELO names; empty without one.
    std::string ForwardedAddress() const;
    void OnAuthLine(std::string_view line, std::string& out);
    void OnDataLine(const LinePiece& piece, std::string& out);
    void FinishMessage(std::string& out);
    // Delivers the finished message; false when the session ended.
    bool DeliverMessage(std::string& out, std::string& uid);
    void CountError(std::string& out, std::string_view reply);
    // The address AUTH LOGIN names, and whether its account may log in.
    LoginOutcome AuthenticateUser(const std::string& user, const std::string& password, std::string& address);
    // Writes message text to the file; after a failed write it only counts.
    void StoreText(std::string_view text);
    std::string TraceHeader() const;
    void End(std::string& out, std::string_view reply);

    SmtpServices& services_;
    SessionActivity* activity_ = &NoSessionActivity();
    std::shared_ptr<const CServerSettings> settings_;  // one snapshot for the session
    SmtpState state_ = SmtpState::kBeforeHelo;
    bool finished_ = false;
    bool ended_cleanly_ = false;
    std::optional<ProxyRequest> proxy_;

    // The connection's peer and the client a web-mail HELO names, whom
    // logins count against from that HELO on.
    ConnectionClient client_;
    std::string peer_;  // what logs and the trace header show: the client, from MAIL FROM on
    std::string helo_;
    bool authenticated_ = false;
    std::string auth_address_;  // the address AUTH LOGIN logged in as
    std::string auth_user_;     // the user name while the password is asked for
    bool webmail_helo_ = false;
    int copy_flag_ = 0;
    int draft_flag_ = 0;
    int error_count_ = 0;
    std::optional<SmtpTransaction> transaction_;  // from MAIL FROM to the end of the data
};

}  // namespace quorvex::smtp
