// What every request of the account server works with: the line channel
// to the client, the client's address, where notices and log lines go,
// and the shared steps (replies, notices, the credential check).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "accountserver/SignUpLimit.h"
#include "common/Notices.h"
#include "common/net/LineReader.h"
#include "common/net/SocketIo.h"
#include "servers/logins/LoginGuard.h"

namespace quorvex::accountserver {

// One line at a time in each direction. The socket implementation is
// below; tests feed scripted lines.
class LineChannel {
public:
    virtual ~LineChannel() = default;
    // A line without its CR LF, NUL bytes included (kLine); kTooLong for a
    // line over the line limit, discarded; anything else when the peer
    // closed, did not send a whole line within the idle limit, or the
    // servers stop.
    virtual LineStatus ReadLine(std::string& line) = 0;
    // Sends the text followed by CR LF. False when the send failed.
    virtual bool SendLine(std::string_view text) = 0;
};

class SocketLineChannel final : public LineChannel {
public:
    SocketLineChannel(int fd, SocketTimeouts timeouts, IdleLimit idle_limit = {},
                      SessionActivity& activity = NoSessionActivity())
        : fd_(fd), reader_(fd, timeouts, std::move(idle_limit)), activity_(activity) {
        reader_.set_activity(activity);
    }
    LineStatus ReadLine(std::string& line) override;
    bool SendLine(std::string_view text) override;

private:
    int fd_;
    LineReader reader_;
    SessionActivity& activity_;  // told what every reply moved
};

// The reply to a line over the line limit.
inline constexpr std::string_view kReplyLineTooLong = "-ERR line too long";

class RequestContext {
public:
    // `client`: the connection's peer and whether it is a web-mail front
    // end. `notices` may be null: nothing is posted. `system_log` may be
    // empty. `logins` and `signups` null: the process's failed-login guard
    // and sign-up limit.
    RequestContext(LineChannel& channel, ConnectionClient client, NoticeSink* notices,
                   std::function<void(std::string_view)> system_log = {}, LoginGuard* logins = nullptr,
                   SignUpLimit* signups = nullptr);

    // A line cut at its first NUL byte (the protocol's lines were C
    // strings: nothing after a NUL was ever seen). A line over the limit
    // is answered "-ERR line too long" and, like every error of a
    // dialogue, ends it: false.
    bool Read(std::string& line);
    // The same with the whole line, NUL bytes included (the first line of
    // a request).
    bool ReadWhole(std::string& line);
    // A command of a session's command loop: a line over the limit is
    // answered "-ERR line too long" and the loop goes on, as after an
    // unknown command. False when the session ends.
    bool ReadCommand(std::string& line);
    bool Reply(std::string_view text) { return channel_.SendLine(text); }

    const std::string& client() const { return client_.connection(); }
    bool web_mail() const { return client_.web_mail(); }
    // "WebMail" for a listed web-mail front end, else the dotted address.
    std::string Source() const;
    NoticeSink* notices() const { return notices_; }

    // WM_SHOW_MESSAGE "<what> <source> <text>".
    void ShowMessage(std::string_view what, std::string_view text);
    void Notify(NoticeId id, std::string_view text);
    // A line of the system log (refused logins and the like).
    void Log(std::string_view text);

    // The credential steps of LOGIN#, UPDATE#, DELETE#, AUTH# and ACCOUNT#:
    // split at the last "#", notice, cut the colon suffix, character and
    // emptiness tests, the address lock, existence, password and the
    // disabled flag. Returns the account (as the client spelled it) or
    // nothing after the error reply has been sent (and a failed login
    // logged).
    std::optional<std::string> CheckCredentials(std::string_view text, std::string_view notice_what);

    // Where the request reports progress (a login, an accepted line of a
    // dialogue, a command that changed something), with the bytes of the
    // line last read as what it moved.
    void SetActivity(SessionActivity& activity) {
        activity_ = &activity;
        client_.SetActivity(activity);
    }
    void Progress() { activity_->Progress(); }
    // The account of an account text without the ":" suffix a web-mail
    // page appends (cut at the last colon). The suffix, the address of the
    // page's user, becomes the forwarded address of this request and names
    // the client to the activity.
    std::string CutForwardedSuffix(std::string_view account_text);
    // The client this request counts against: the forwarded address, or
    // the connection's (ClientSource.h).
    const ClientSource& Origin() const { return client_.client(); }

    // The failed-login guard for this client: whether its logins are
    // refused now, and a failure to log and count.
    bool LoginLocked();
    void LoginFailed(std::string_view account, LoginOutcome outcome);
    SignUpLimit& signups() { return signups_; }

private:
    LineChannel& channel_;
    ConnectionClient client_;
    NoticeSink* notices_;
    std::function<void(std::string_view)> system_log_;
    LoginGuard& logins_;
    SignUpLimit& signups_;
    SessionActivity* activity_ = &NoSessionActivity();
};

// The system-log line of an account made over the account server, as the
// window writes one for an account it deletes: "Account alice created by
// sign-up: address=10.9.9.9 via=127.0.0.1".
std::string CreatedAccountLine(std::string_view account, std::string_view by, const ClientSource& client);

}  // namespace quorvex::accountserver
