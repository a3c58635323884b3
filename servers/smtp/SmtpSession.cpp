// The SMTP dialogue: command handlers, AUTH LOGIN, the access and relay
// rules and the receiving of the message text.
#include "servers/smtp/SmtpSession.h"

#include <cerrno>
#include <ctime>

#include "common/AsciiCase.h"
#include "common/MailDate.h"
#include "common/ReplyFormat.h"
#include "common/AccountName.h"
#include "common/Base64.h"
#include "common/TextHelpers.h"
#include "servers/address/AddressRules.h"
#include "servers/smtp/SmtpAccessRules.h"
#include "servers/smtp/SmtpReplies.h"
#include "servers/smtp/SmtpText.h"

namespace quorvex::smtp {

namespace {

bool IsControlCharacter(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }

bool HasControlCharacter(std::string_view text) {
    for (const char c : text) {
        if (IsControlCharacter(c)) return true;
    }
    return false;
}

// Client text inside a stored header: a control character (a bare CR or
// LF above all) would end the header line early, so each becomes "?".
std::string HeaderSafe(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (IsControlCharacter(c)) c = '?';
    }
    return out;
}

}  // namespace

SmtpSession::SmtpSession(SmtpServices& services, std::string client_address)
    : services_(services), client_address_(std::move(client_address)), peer_(client_address_) {}

std::string SmtpSession::Start() {
    settings_ = services_.Settings();
    std::string out;
    if (settings_->IPBlockEnable != 0 && IsAddressBlocked(settings_->IPList, client_address_)) {
        End(out, FormatReply(kIpBlockedFormat, {client_address_}));
        return out;
    }
    if (settings_->HideWelcomeMessage != 0) {
        out = FormatReply(kCustomGreetingFormat, {settings_->WelcomeMessage});
    } else {
        out = FormatReply(kGreetingFormat, {kGreetingProduct, kGreetingVersion});
    }
    return out;
}

void SmtpSession::End(std::string& out, std::string_view reply) {
    out.append(reply);
    finished_ = true;
}

void SmtpSession::Process(LineBuffer& lines, std::string& out) {
    while (!finished_) {
        if (phase_ == Phase::kData) {
            const auto piece = lines.NextPiece();
            if (!piece) return;
            OnDataLine(*piece, out);
        } else {
            const auto line = lines.NextLine();
            if (!line) return;
            HandleLine(*line, out);
        }
    }
}

void SmtpSession::HandleLine(const CommandLine& line, std::string& out) {
    if (line.too_long) {
        // Nothing of the line was read as a command; an AUTH LOGIN waiting
        // for its user or password is abandoned, the session as it was.
        phase_ = Phase::kCommand;
        auth_user_.clear();
        CountError(out, kLineTooLong);
        return;
    }
    switch (phase_) {
    case Phase::kAuthUser:
    case Phase::kAuthPassword:
        OnAuthLine(line.text, out);
        return;
    case Phase::kCommand:
    case Phase::kData:
        settings_ = services_.Settings();
        HandleCommand(ParseSmtpCommand(line.text), out);
        return;
    }
}

void SmtpSession::ResetTransaction() {
    state_ = 1;
    sender_.clear();
    sender_class_ = 0;
    recipients_.clear();
    from_rewrite_.reset();
}

void SmtpSession::HandleCommand(const SmtpCommand& command, std::string& out) {
    switch (command.verb) {
    case SmtpVerb::kHelo:
        OnHelo(command, false, out);
        return;
    case SmtpVerb::kEhlo:
        OnHelo(command, true, out);
        return;
    case SmtpVerb::kMailFrom:
        if (state_ != 1) {
            out.append(kOutOfOrder);
        } else if (command.argument.size() > kMaxSenderLength) {
            End(out, kAddressTooLong);
        } else if (HasControlCharacter(command.argument)) {
            out.append(kBadAddress);
        } else {
            OnMailFrom(command.argument, out);
        }
        return;
    case SmtpVerb::kRcptTo:
        OnRcptTo(command.argument, out);
        return;
    case SmtpVerb::kData:
        OnData(out);
        return;
    case SmtpVerb::kRset:
        if (state_ == 0) {
            out.append(kOutOfOrder);
            return;
        }
        ResetTransaction();
        out.append(kOk);
        return;
    case SmtpVerb::kNoop:
        out.append(state_ == 0 ? kOutOfOrder : kOk);
        return;
    case SmtpVerb::kQuit:
        ended_cleanly_ = true;
        End(out, kClosing);
        return;
    case SmtpVerb::kAuthLogin:
    case SmtpVerb::kAuthEqualsLogin:
        if (state_ != 1) {
            out.append(kOutOfOrder);
        } else {
            OnAuthLogin(command, out);
        }
        return;
    case SmtpVerb::kOther:
        CountError(out, kBadCommand);
        return;
    }
}

void SmtpSession::CountError(std::string& out, std::string_view reply) {
    out.append(reply);
    if (++error_count_ >= settings_->MaxPasswordTries) finished_ = true;
}

void SmtpSession::OnHelo(const SmtpCommand& command, bool extended, std::string& out) {
    if (command.argument.size() > kMaxHeloLength) {
        End(out, kNameTooLong);
        return;
    }
    helo_ = command.argument;
    ResetTransaction();
    out.append(extended ? kEhlo : kWelcome);
}

void SmtpSession::OnMailFrom(const std::string& address, std::string& out) {
    from_rewrite_.reset();
    if (helo_.find(':') != std::string::npos) {
        // A web-mail front end names its end user: account:address:copy:draft.
        if (!services_.IsWebMailAddress(client_address_)) {
            End(out, kIllegalConnection);
            return;
        }
        const WebMailHelo fields = ParseWebMailHelo(helo_);
        if (!ParseIpv4Entry(fields.address).value_or(0)) {
            End(out, kIllegalConnection);
            return;
        }
        // The front end's own copy goes to the account the HELO names: an
        // account that cannot take it is refused now, before anything is
        // delivered, not after the recipients already have the message.
        if (KeepsSentCopy(fields.copy, fields.draft) && !services_.AccountExists(fields.account)) {
            End(out, FormatReply(kAbsentFormat, {fields.account}));
            return;
        }
        copy_flag_ = fields.copy;
        draft_flag_ = fields.draft;
        peer_ = fields.address;
        helo_ = fields.account;
        webmail_helo_ = true;
    }
    // The sender of an authenticated session must be the user it logged in
    // as; a session without AUTH has nobody to compare with.
    if (settings_->FromEqualEsmtpUser != 0 && authenticated_ && !address.empty() &&
        !SameName(address, auth_address_)) {
        End(out, FormatReply(kNotEsmtpUserFormat, {address, auth_address_}));
        return;
    }
    sender_ = address;
    sender_class_ = address.empty() ? kAddressRemote : services_.ClassifyAddress(address);
    if (sender_class_ == kAddressLocalUnknown) {
        End(out, FormatReply(kWrongSenderFormat, {address}));
        return;
    }
    if (!webmail_helo_ && sender_class_ == kAddressLocalAccount && settings_->ESMTP != 0 && !authenticated_ &&
        !IsPermittedAddress(settings_->PermittedIPSMTP, peer_)) {
        End(out, FormatReply(kEsmtpRequiredFormat, {sender_}));
        return;
    }
    state_ = 2;
    out.append(kOk);
}

void SmtpSession::OnRcptTo(std::string address, std::string& out) {
    if (state_ != 2) {
        out.append(kOutOfOrder);
        return;
    }
    if (webmail_helo_ && draft_flag_ != 0) {
        out.append(kOk);
        return;
    }
    if (address.size() > kMaxRecipientLength) {
        End(out, kAddressTooLong);
        return;
    }
    if (HasControlCharacter(address)) {
        out.append(kBadAddress);
        return;
    }
    if (static_cast<int>(recipients_.size()) >= settings_->MaxRcpts) {
        End(out, kTooManyReceivers);
        return;
    }
    if (sender_.empty() && !recipients_.empty()) {
        End(out, kSpamReject);
        return;
    }
    const CServerSettings& s = *settings_;
    TrimToken(address, " ");
    if (address.find('@') == std::string::npos) {
        if (IsMultiDomain(s) || s.LocalAbbrv == 0) {
            End(out, FormatReply(kAbsentFormat, {address}));
            return;
        }
        address += "@" + s.Dominame;
    }
    const int recipient_class = services_.ClassifyAddress(address);
    if (recipient_class == kAddressLocalUnknown) {
        if (s.EnableCatchAll != 0) {
            if (s.AccountCatchAll.find('@') != std::string::npos) {
                address = s.AccountCatchAll;
            } else {
                address = s.AccountCatchAll + address.substr(address.rfind('@'));
            }
        } else if (s.SendOutIfAbsent == 0) {
            End(out, FormatReply(kAbsentFormat, {address}));
            return;
        }
    } else if (recipient_class == kAddressRemote) {
        if (s.MailServerModel == 2 && sender_class_ == kAddressLocalAccount) {
            const std::string account = AccountOfAddress(sender_, s);
            std::string inter_mail = services_.AccountInterMail(account);
            if (inter_mail.empty()) {
                End(out, FormatReply(kNoInterMailFormat, {address}));
                return;
            }
            from_rewrite_ = std::move(inter_mail);
        }
        if (s.OpenRelay == 0) {
            if (s.MailServerModel == 0) {
                End(out, kLanOnly);
                return;
            }
            if (s.MailServerModel == 2 && sender_class_ != kAddressLocalAccount) {
                End(out, FormatReply(kNotLocalUserFormat, {address}));
                return;
            }
            if (s.MailServerModel == 1 && sender_class_ != kAddressLocalAccount && !authenticated_) {
                if (!IsPermittedAddress(s.PermittedIPSMTP, peer_)) {
                    End(out, FormatReply(kRelayDeniedFormat, {sender_, sender_, address, s.Dominame}));
                    return;
                }
                sender_ = s.AnonymousAccount;
            }
        }
    }
    recipients_.push_back(AsciiLowerCase(address));
    out.append(kOk);
}

void SmtpSession::OnData(std::string& out) {
    if (state_ != 2) {
        out.append(kOutOfOrder);
        return;
    }
    if (recipients_.empty() && !(webmail_helo_ && draft_flag_ != 0)) {
        out.append(kNoReceiver);
        return;
    }
    if (!message_.Create(services_.NewTempMessagePath())) {
        End(out, WriteFailureReply(message_.error()));
        return;
    }
    out.append(kStartData);
    phase_ = Phase::kData;
    in_header_ = true;
    previous_line_crlf_ = true;
    write_error_ = 0;
    text_bytes_ = 0;
    StoreText(TraceHeader());
}

std::string SmtpSession::TraceHeader() const {
    return FormatReply("Return-Path: <%s>\r\nReceived: from %s (unknown [%s])\r\n\tby %s with QuorvexServer 5.3 SMTP; %s\r\n",
                       {HeaderSafe(sender_), HeaderSafe(helo_), HeaderSafe(peer_), settings_->Dominame,
                        LocalMailDate(std::time(nullptr))});
}

std::string_view SmtpSession::WriteFailureReply(int error) {
    return error == ENOSPC || error == EDQUOT ? kDiskFull : kFileSystemError;
}

void SmtpSession::StoreText(std::string_view text) {
    text_bytes_ += static_cast<long long>(text.size());
    if (write_error_ != 0 || message_.Write(text)) return;
    // The rest of the text is read and dropped; the client hears of the
    // failure in the reply to its final ".", as it expects to.
    write_error_ = message_.error();
    message_.Discard();
}

void SmtpSession::OnDataLine(const LinePiece& piece, std::string& out) {
    // Only a line that arrived whole as "." CR LF, after a line that itself
    // ended in CR LF, ends the text. A dot ended by a bare LF, or the rest
    // of a cut line, is text: a client cannot hide a second transaction in
    // a message by ending lines differently from the servers after us.
    if (settings_->MaxMailSize != -1 && text_bytes_ > settings_->MaxMailSize) {
        message_.Discard();
        End(out, FormatReply(kMailTooBigFormat, {sender_}));
        return;
    }
    if (piece.text == "." && piece.end == LineEnd::kCrLf && !piece.continuation && previous_line_crlf_) {
        FinishMessage(out);
        return;
    }
    previous_line_crlf_ = piece.end == LineEnd::kCrLf;
    std::string line;
    if (from_rewrite_ && StartsWithNoCase(piece.text, "From:")) {
        line = "From: " + *from_rewrite_;
        from_rewrite_.reset();
    } else if (piece.text == "." || (piece.continuation && piece.text.starts_with('.'))) {
        // Stored text is dot-stuffed, so a dot that begins a stored line is
        // taken off when the message is read. The rest of a cut line was
        // never stuffed by the client: its leading dot gets its stuffing
        // here. A lone "." is kept stuffed too, so that no reader of the
        // stored file can mistake it for the end of the message.
        line = ".";
        line.append(piece.text);
    } else {
        line.assign(piece.text);
    }
    if (in_header_ && settings_->EmailFilterEnable != 0) {
        if (const auto from = HeaderFromAddress(piece.text)) {
            if (const auto entry = MatchBlockedSender(settings_->FromList, *from)) {
                message_.Discard();
                End(out, FormatReply(kFromBlockedFormat, {*entry}));
                return;
            }
        }
    }
    if (line.empty()) in_header_ = false;
    line.append("\r\n");
    StoreText(line);
}

void SmtpSession::FinishMessage(std::string& out) {
    phase_ = Phase::kCommand;
    if (write_error_ == 0 && !message_.Finish()) write_error_ = message_.error();
    if (write_error_ != 0) {
        // Nothing was delivered: a temporary failure, so the client keeps
        // the message and tries again.
        message_.Discard();
        ResetTransaction();
        out.append(WriteFailureReply(write_error_));
        return;
    }
    const std::string& path = message_.path();
    const CServerSettings& s = *settings_;
    if (s.AntiVirusEnable != 0) services_.ScanForViruses(path);

    const bool copy_wanted = sender_class_ == kAddressLocalAccount ? s.EnableOutMailsCopyTo != 0
                                                                   : s.EnableInMailsCopyTo != 0;
    if (s.EnableMailsCopyTo != 0 && copy_wanted) {
        for (const auto& address : SplitList(s.MailsCopyTo)) services_.Deliver(peer_, address, sender_, path);
    }
    for (const auto& recipient : recipients_) {
        DeliveryOutcome outcome = services_.Deliver(peer_, recipient, sender_, path);
        if (!outcome.delivered) {
            message_.Discard();
            End(out, outcome.reply.empty() ? std::string(kLocalStoreFailed) : outcome.reply);
            return;
        }
        if (services_.ClassifyAddress(recipient) == kAddressLocalAccount && !SameName(recipient, sender_)) {
            services_.SendAutoReply(AccountOfAddress(recipient, s), sender_, path);
        }
    }
    std::string uid;
    if (webmail_helo_ && KeepsSentCopy(copy_flag_, draft_flag_)) {
        const auto copy = services_.StoreSentCopy(helo_, path);
        if (!copy) {
            message_.Discard();
            End(out, kSentCopyFailed);
            return;
        }
        uid = *copy;
    }
    message_.Discard();
    ResetTransaction();
    out.append(FormatReply(kAcceptedFormat, {uid}));
}

void SmtpSession::OnAuthLogin(const SmtpCommand& command, std::string& out) {
    phase_ = Phase::kAuthUser;
    // "AUTH LOGIN <user>" carries the user name already (an initial
    // response, RFC 4954, as Python's smtplib and others send it): asking
    // for it again would take the password for the name.
    if (command.verb == SmtpVerb::kAuthLogin && command.blank_after_verb && !command.argument.empty()) {
        OnAuthLine(command.argument, out);
        return;
    }
    out.append(kAskUser);
}

void SmtpSession::OnAuthLine(std::string_view line, std::string& out) {
    std::optional<std::string> decoded;
    if (std::string bytes; Base64Decode(line, bytes) >= 0) decoded = std::move(bytes);
    if (phase_ == Phase::kAuthUser) {
        if (!decoded) {
            authenticated_ = false;
            End(out, kAuthUserFailed);
            return;
        }
        if (decoded->size() > kMaxAuthUserLength) {
            End(out, kUserNameTooLong);
            return;
        }
        auth_user_ = *decoded;
        phase_ = Phase::kAuthPassword;
        out.append(kAskPassword);
        return;
    }
    phase_ = Phase::kCommand;
    if (!decoded) {
        authenticated_ = false;
        End(out, kAuthPasswordFailed);
        return;
    }
    const std::string user = std::move(auth_user_);
    if (const auto hash = user.rfind('#'); hash != std::string::npos) {
        if (settings_->MailProxy == 0) {
            End(out, kProxyDisabled);
            return;
        }
        services_.Log(peer_, FormatReply("%s send mail by proxy", {helo_}));
        proxy_ = ProxyRequest{user.substr(0, hash), *decoded, user.substr(hash + 1)};
        ended_cleanly_ = true;
        finished_ = true;
        return;
    }
    // A locked address is refused like a wrong password, without a check.
    // A failed login changes nothing of the session.
    if (services_.Logins().Locked(client_address_)) {
        CountError(out, kAuthFailed);
        return;
    }
    std::string address;
    const LoginOutcome outcome = AuthenticateUser(user, *decoded, address);
    if (outcome == LoginOutcome::kAccepted) {
        authenticated_ = true;
        auth_address_ = std::move(address);
        out.append(kAuthOk);
        services_.Log(peer_, FormatReply("ESMTP authentication: %s", {user}));
        return;
    }
    // Reported to the system log and standard error, and shown in the
    // SMTP log beside the session's other lines.
    services_.Logins().Failed(client_address_, user, outcome);
    services_.Log(peer_, FailedLoginLine(kLoginServiceSmtp, client_address_, user, outcome));
    CountError(out, kAuthFailed);
}

LoginOutcome SmtpSession::AuthenticateUser(const std::string& user, const std::string& password,
                                           std::string& address) {
    const CServerSettings& s = *settings_;
    address = user;
    if (address.find('@') == std::string::npos) address += "@" + s.Dominame;
    std::string account = address;
    if (!IsMultiDomain(s)) {
        const auto at = address.rfind('@');
        // An address at another domain names no account here; its check
        // still costs what any other does.
        account = SameName(std::string_view(address).substr(at + 1), s.Dominame) ? address.substr(0, at) : address;
    }
    return services_.Logins().Check(account, password);
}

}  // namespace quorvex::smtp
