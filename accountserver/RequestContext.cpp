// The line channel on a socket and the steps shared by every request.
#include "accountserver/RequestContext.h"

#include "accountserver/AccountProtocol.h"
#include "mailmodel/account/AccountConfig.h"
#include "servers/address/AddressRules.h"

namespace quorvex::accountserver {

bool SocketLineChannel::ReadLine(std::string& line) {
    if (!HasLine(ReceiveTextLine(fd_, line, timeouts_))) return false;
    // The lines were C strings: nothing after a NUL byte was ever seen.
    if (const auto nul = line.find('\0'); nul != std::string::npos) line.resize(nul);
    return true;
}

bool SocketLineChannel::SendLine(std::string_view text) { return quorvex::SendLine(fd_, text); }

RequestContext::RequestContext(LineChannel& channel, std::string client_address, NoticeSink* notices,
                               std::function<void(std::string_view)> system_log)
    : channel_(channel), client_(std::move(client_address)), notices_(notices), system_log_(std::move(system_log)) {}

std::string RequestContext::Source() const { return IsWebMailAddress(client_) ? "WebMail" : client_; }

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
    const std::string account(CutColonSuffix(credentials->account));
    if (HasRefusedCharacter(account, false)) {
        Reply(kReplyIllegalLetter);
        return std::nullopt;
    }
    if (account.empty()) {
        Reply(kReplyAccountEmpty);
        return std::nullopt;
    }
    if (AccountExists(account) == 0) {
        Log("ACCOUNT LOGIN REFUSED " + client_ + " " + account + ": no such user");
        Reply(kReplyNoSuchUser);
        return std::nullopt;
    }
    if (!CheckAccountPassword(account, credentials->password)) {
        Log("ACCOUNT LOGIN REFUSED " + client_ + " " + account + ": password incorrect");
        Reply(kReplyPasswordIncorrect);
        return std::nullopt;
    }
    return account;
}

std::mutex& AccountCreationLock() {
    static std::mutex lock;
    return lock;
}

}  // namespace quorvex::accountserver
