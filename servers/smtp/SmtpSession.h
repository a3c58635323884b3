// One SMTP dialogue, without a socket: the lines of a LineBuffer go in
// through Process, replies come out as bytes. The session keeps all
// dialogue state, applies the access and relay rules, writes the message
// text to a temporary file and hands it to local delivery. SmtpConnection
// drives it over a real socket.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/net/LineBuffer.h"
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

class SmtpSession {
public:
    SmtpSession(SmtpServices& services, std::string client_address);

    // The greeting, or the refusal of a blocked client (then Finished()).
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
    enum class Phase { kCommand, kAuthUser, kAuthPassword, kData };

    void HandleLine(const CommandLine& line, std::string& out);
    void HandleCommand(const SmtpCommand& command, std::string& out);
    // RSET, HELO and the end of a message: the transaction (sender,
    // recipients, From rewrite) is gone and a new one may begin.
    void ResetTransaction();
    void OnHelo(const SmtpCommand& command, bool extended, std::string& out);
    void OnMailFrom(const std::string& address, std::string& out);
    void OnRcptTo(std::string address, std::string& out);
    void OnData(std::string& out);
    void OnAuthLogin(const SmtpCommand& command, std::string& out);
    void OnAuthLine(std::string_view line, std::string& out);
    void OnDataLine(const LinePiece& piece, std::string& out);
    void FinishMessage(std::string& out);
    void CountError(std::string& out, std::string_view reply);
    // The address AUTH LOGIN names, and whether its account may log in.
    LoginOutcome AuthenticateUser(const std::string& user, const std::string& password, std::string& address);
    // Writes message text to the file; after a failed write it only counts.
    void StoreText(std::string_view text);
    // The reply to a failed write: 452 for a full disk, 451 for the rest.
    static std::string_view WriteFailureReply(int error);
    std::string TraceHeader() const;
    void End(std::string& out, std::string_view reply);

    SmtpServices& services_;
    std::shared_ptr<const CServerSettings> settings_;
    Phase phase_ = Phase::kCommand;
    bool finished_ = false;
    bool ended_cleanly_ = false;
    std::optional<ProxyRequest> proxy_;

    std::string client_address_;  // the connection's own peer address
    std::string peer_;            // what logs and the trace header show
    std::string helo_;
    std::string sender_;        // the transaction's MAIL FROM (or AnonymousAccount)
    int sender_class_ = 0;
    bool authenticated_ = false;
    std::string auth_address_;  // the address AUTH LOGIN logged in as
    bool webmail_helo_ = false;
    int copy_flag_ = 0;
    int draft_flag_ = 0;
    int state_ = 0;
    std::vector<std::string> recipients_;
    int error_count_ = 0;
    std::optional<std::string> from_rewrite_;
    std::string auth_user_;

    // DATA phase
    MessageFile message_;
    bool in_header_ = true;
    bool previous_line_crlf_ = true;
    long long text_bytes_ = 0;  // the message so far, trace header included
    int write_error_ = 0;       // system error of a failed write of this message
};

}  // namespace quorvex::smtp
