// The line channel on a socket and the steps shared by every request.
#include "accountserver/RequestContext.h"

#include "accountserver/AccountProtocol.h"
#include "common/AccountName.h"
#include "mailmodel/account/AccountConfig.h"
#include "servers/logins/AccountLogin.h"

namespace quorvex::accountserver {

LineStatus SocketLineChannel::ReadLine(std::string& line) {
    std::string_view text;
    const LineStatus status = reader_.ReadLine(text);
    line.assign(text);
    return status;
}

bool SocketLineChannel::SendLine(std::string_view text) { return quorvex::SendLine(fd_, text, true, activity_); }

RequestContext::RequestContext(LineChannel& channel, ConnectionClient client, NoticeSink* notices,
                               std::function<void(std::string_view)> system_log, LoginGuard* logins,
                               SignUpLimit* signups)
    : channel_(channel),
      client_(std::move(client)),
      notices_(notices),
      system_log_(std::move(system_log)),
      logins_(logins != nullptr ? *logins : ProcessLoginGuard()),
      signups_(signups != nullptr ? *signups : ProcessSignUpLimit()) {}

bool RequestContext::ReadWhole(std::string& line) {
    const LineStatus status = channel_.ReadLine(line);
    // Each line of a request has its place in the dialogue: one that could
    // not be read whole ends the request.
    if (status == LineStatus::kTooLong) Reply(kReplyLineTooLong);
    return status == LineStatus::kLine;
}

bool RequestContext::Read(std::string& line) {
    if (!ReadWhole(line)) return false;
    if (const auto nul = line.find('\0'); nul != std::string::npos) line.resize(nul);
    return true;
}

bool RequestContext::ReadCommand(std::string& line) {
    for (;;) {
        const LineStatus status = channel_.ReadLine(line);
        if (status == LineStatus::kLine) break;
        if (status != LineStatus::kTooLong || !Reply(kReplyLineTooLong)) return false;
    }
    if (const auto nul = line.find('\0'); nul != std::string::npos) line.resize(nul);
    return true;
}

std::string RequestContext::CutForwardedSuffix(std::string_view account_text) {
    const std::string_view account = CutColonSuffix(account_text);
    const bool suffix = account.size() < account_text.size();
    client_.Forward(suffix ? account_text.substr(account.size() + 1) : std::string_view());
    return std::string(account);
}

bool RequestContext::LoginLocked() { return logins_.IsLocked(Origin()); }

void RequestContext::LoginFailed(std::string_view account, LoginOutcome outcome) {
    logins_.RecordFailure(kLoginServiceAccount, Origin(), account, outcome);
}

std::string RequestContext::Source() const { return web_mail() ? "WebMail" : client(); }

void RequestContext::ShowMessage(std::string_view what, std::string_view text) {
    std::string line(what);
    line += ' ';
    line += Source();
    line += ' ';
    line += text;
    Notify(NoticeId::WM_SHOW_MESSAGE, line);
}

void RequestContext::Notify(NoticeId id, std::string_view text) {
    if (notices_) notices_->Post(id, text);
}

void RequestContext::Log(std::string_view text) {
    if (!system_log_) return;
    // Client text never starts a line of its own in the log.
    std::string line(text);
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    system_log_(line);
}

std::optional<std::string> RequestContext::CheckCredentials(std::string_view text, std::string_view notice_what) {
    const auto credentials = SplitCredentials(text);
    if (!credentials) {
        Reply(kReplyNoPassword);
        return std::nullopt;
    }
    ShowMessage(notice_what, credentials->account);
    const std::string account = CutForwardedSuffix(credentials->account);
    if (HasRefusedNameCharacter(account, false)) {
        Reply(kReplyIllegalLetter);
        return std::nullopt;
    }
    if (account.empty()) {
        Reply(kReplyAccountEmpty);
        return std::nullopt;
    }
    // A locked address is refused like a wrong password, without a check.
    if (LoginLocked()) {
        Reply(kReplyPasswordIncorrect);
        return std::nullopt;
    }
    const LoginOutcome outcome = CheckAccountLogin(account, credentials->password, GroupLogin::kAllowed);
    switch (outcome) {
        case LoginOutcome::kAccepted:
            Progress();
            return account;
        case LoginOutcome::kUnknownAccount:
            // A reserved name is no account either, but its refusal has
            // always been the password's.
            Reply(AccountExists(account) == AccountPresence::kReserved ? kReplyPasswordIncorrect : kReplyNoSuchUser);
            break;
        case LoginOutcome::kDisabled:
            Reply(kReplyAccountDisabled);
            break;
        case LoginOutcome::kWrongPassword:
        case LoginOutcome::kNotPermitted:
            Reply(kReplyPasswordIncorrect);
            break;
    }
    LoginFailed(account, outcome);
    return std::nullopt;
}

std::string CreatedAccountLine(std::string_view account, std::string_view by, const ClientSource& client) {
    std::string line = "Account ";
    AppendVisible(line, account);
    line += " created by " + std::string(by) + ":";
    AppendClientFields(line, client);
    return line;
}

}  // namespace quorvex::accountserver
