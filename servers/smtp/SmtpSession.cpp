// The SMTP dialogue: command handlers, AUTH LOGIN, the access and relay
// rules and the receiving of the message text.
#include "servers/smtp/SmtpSession.h"

#include <ctime>

#include "common/AccountName.h"
#include "common/AsciiCase.h"
#include "common/Base64.h"
#include "common/MailDate.h"
#include "common/ReplyFormat.h"
#include "common/TextHelpers.h"
#include "servers/address/AddressRules.h"
#include "servers/smtp/SmtpAccessRules.h"
#include "servers/smtp/SmtpReplies.h"
#include "servers/smtp/SmtpText.h"

namespace quorvex::smtp {

namespace {

constexpr unsigned StateBit(SmtpState state) { return 1u << static_cast<unsigned>(state); }
constexpr unsigned kAfterHelo = StateBit(SmtpState::kReady) | StateBit(SmtpState::kMailGiven);
constexpr unsigned kAnyCommandState = StateBit(SmtpState::kBeforeHelo) | kAfterHelo;

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

// The command table. A verb outside its states is answered "out of order"
// and changes nothing; HELO, EHLO, QUIT and unknown commands are taken in
// every state.
const SmtpSession::CommandRow SmtpSession::kCommands[] = {
    {SmtpVerb::kHelo, kAnyCommandState, &SmtpSession::OnHelo},
    {SmtpVerb::kEhlo, kAnyCommandState, &SmtpSession::OnHelo},
    {SmtpVerb::kMailFrom, StateBit(SmtpState::kReady), &SmtpSession::OnMailFrom},
    {SmtpVerb::kRcptTo, StateBit(SmtpState::kMailGiven), &SmtpSession::OnRcptTo},
    {SmtpVerb::kData, StateBit(SmtpState::kMailGiven), &SmtpSession::OnData},
    {SmtpVerb::kRset, kAfterHelo, &SmtpSession::OnRset},
    {SmtpVerb::kNoop, kAfterHelo, &SmtpSession::OnNoop},
    {SmtpVerb::kQuit, kAnyCommandState, &SmtpSession::OnQuit},
    {SmtpVerb::kAuthLogin, StateBit(SmtpState::kReady), &SmtpSession::OnAuthLogin},
    {SmtpVerb::kAuthEqualsLogin, StateBit(SmtpState::kReady), &SmtpSession::OnAuthLogin},
    {SmtpVerb::kOther, kAnyCommandState, &SmtpSession::OnUnknown},
};

SmtpSession::SmtpSession(SmtpServices& services, ConnectionClient client)
    : services_(services), client_(std::move(client)), peer_(client_.connection()) {}

std::string SmtpSession::Start() {
    settings_ = services_.Settings();
    std::string out;
    if (settings_->IPBlockEnable != 0 && IsAddressBlocked(settings_->IPList, client_.connection())) {
        End(out, FormatReply(kIpBlockedFormat, {client_.connection()}));
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
        if (state_ == SmtpState::kData) {
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
    const bool in_auth = state_ == SmtpState::kAuthUser || state_ == SmtpState::kAuthPassword;
    if (line.too_long) {
        // Nothing of the line was read as a command; an AUTH LOGIN waiting
        // for its user or password is abandoned, the session as it was.
        if (in_auth) state_ = SmtpState::kReady;
        auth_user_.clear();
        CountError(out, kLineTooLong);
        return;
    }
    if (in_auth) {
        OnAuthLine(line.text, out);
        return;
    }
    HandleCommand(ParseSmtpCommand(line.text), out);
}

void SmtpSession::HandleCommand(const SmtpCommand& command, std::string& out) {
    for (const CommandRow& row : kCommands) {
        if (row.verb != command.verb) continue;
        if ((row.allowed & StateBit(state_)) == 0) {
            out.append(kOutOfOrder);
            return;
        }
        (this->*row.handler)(command, out);
        return;
    }
}

void SmtpSession::ResetTransaction() {
    transaction_.reset();
    state_ = SmtpState::kReady;
}

void SmtpSession::CountError(std::string& out, std::string_view reply) {
    out.append(reply);
    if (++error_count_ >= settings_->MaxPasswordTries) finished_ = true;
}

void SmtpSession::OnUnknown(const SmtpCommand&, std::string& out) { CountError(out, kBadCommand); }

void SmtpSession::OnRset(const SmtpCommand&, std::string& out) {
    ResetTransaction();
    out.append(kOk);
}

void SmtpSession::OnNoop(const SmtpCommand&, std::string& out) { out.append(kOk); }

void SmtpSession::OnQuit(const SmtpCommand&, std::string& out) {
    ended_cleanly_ = true;
    End(out, kClosing);
}

void SmtpSession::OnHelo(const SmtpCommand& command, std::string& out) {
    if (command.argument.size() > kMaxHeloLength) {
        End(out, kNameTooLong);
        return;
    }
    if (state_ == SmtpState::kBeforeHelo) activity_->Progress();
    helo_ = command.argument;
    client_.Forward(ForwardedAddress());
    ResetTransaction();
    out.append(command.verb == SmtpVerb::kEhlo ? kEhlo : kWelcome);
}

bool SmtpSession::TakeWebMailHelo(std::string& out) {
    // A web-mail front end names its end user: account:address:copy:draft.
    if (!client_.web_mail()) {
        End(out, kIllegalConnection);
        return false;
    }
    const WebMailHelo fields = ParseWebMailHelo(helo_);
    // The end user's address, IPv4 or IPv6 as every service takes a
    // forwarded one; the unspecified address names nobody.
    const auto end_user = quorvex::ForwardedAddress(fields.address);
    if (!end_user || *end_user == "0.0.0.0" || *end_user == "::") {
        End(out, kIllegalConnection);
        return false;
    }
    // The front end speaks for the account the HELO names, and its own
    // copy goes there: a HELO naming no account (an empty name too) is
    // refused now, whatever its flags, before anything is delivered.
    if (!services_.AccountExists(fields.account)) {
        End(out, FormatReply(kAbsentFormat, {fields.account}));
        return false;
    }
    copy_flag_ = fields.copy;
    draft_flag_ = fields.draft;
    // The address as the HELO made it the client (ConnectionClient).
    peer_ = client_.client().address;
    helo_ = fields.account;
    webmail_helo_ = true;
    return true;
}

std::string SmtpSession::ForwardedAddress() const {
    // The HELO still waiting for MAIL FROM names the latest one.
    if (helo_.find(':') != std::string::npos) return ParseWebMailHelo(helo_).address;
    return webmail_helo_ ? peer_ : std::string();
}

void SmtpSession::OnMailFrom(const SmtpCommand& command, std::string& out) {
    const std::string& address = command.argument;
    if (address.size() > kMaxSenderLength) {
        End(out, kAddressTooLong);
        return;
    }
    if (HasControlCharacter(address)) {
        out.append(kBadAddress);
        return;
    }
    if (helo_.find(':') != std::string::npos && !TakeWebMailHelo(out)) return;
    // The sender of an authenticated session must be the user it logged in
    // as; a session without AUTH has nobody to compare with.
    if (settings_->FromEqualEsmtpUser != 0 && authenticated_ && !address.empty() &&
        !SameName(address, auth_address_)) {
        End(out, FormatReply(kNotEsmtpUserFormat, {address, auth_address_}));
        return;
    }
    const int sender_class = address.empty() ? kAddressRemote : services_.ClassifyAddress(address);
    if (sender_class == kAddressLocalUnknown) {
        End(out, FormatReply(kWrongSenderFormat, {address}));
        return;
    }
    if (!webmail_helo_ && sender_class == kAddressLocalAccount && settings_->ESMTP != 0 && !authenticated_ &&
        !IsPermittedAddress(settings_->PermittedIPSMTP, peer_)) {
        End(out, FormatReply(kEsmtpRequiredFormat, {address}));
        return;
    }
    transaction_.emplace();
    transaction_->sender = address;
    transaction_->sender_class = sender_class;
    state_ = SmtpState::kMailGiven;
    activity_->Progress();
    out.append(kOk);
}

void SmtpSession::OnRcptTo(const SmtpCommand& command, std::string& out) {
    if (webmail_helo_ && draft_flag_ != 0) {
        out.append(kOk);
        return;
    }
    std::string address = command.argument;
    if (address.size() > kMaxRecipientLength) {
        End(out, kAddressTooLong);
        return;
    }
    if (HasControlCharacter(address)) {
        out.append(kBadAddress);
        return;
    }
    SmtpTransaction& t = *transaction_;
    // A recipient past the limit waits for the client's next transaction
    // (RFC 5321 4.5.3.1.10): those accepted stay and get the message.
    if (static_cast<int>(t.recipients.size()) >= settings_->MaxRcpts) {
        out.append(kTooManyReceivers);
        return;
    }
    if (t.sender.empty() && !t.recipients.empty()) {
        End(out, kSpamReject);
        return;
    }
    TrimToken(address, " ");
    const std::optional<std::string> full = FullRecipientAddress(*settings_, address);
    if (!full) {
        End(out, FormatReply(kAbsentFormat, {address}));
        return;
    }
    const RecipientFacts facts{*full, services_.ClassifyAddress(*full), t.sender, t.sender_class, authenticated_, peer_};
    const RecipientDecision decision = DecideRecipient(*settings_, facts, [&] {
        return services_.AccountInterMail(AccountOfAddress(t.sender, *settings_));
    });
    if (decision.refusal) {
        End(out, *decision.refusal);
        return;
    }
    if (decision.from_rewrite) t.from_rewrite = decision.from_rewrite;
    if (decision.anonymous_sender) t.sender = settings_->AnonymousAccount;
    t.recipients.push_back(AsciiLowerCase(decision.recipient));
    activity_->Progress();
    out.append(kOk);
}

void SmtpSession::OnData(const SmtpCommand&, std::string& out) {
    SmtpTransaction& t = *transaction_;
    if (t.recipients.empty() && !(webmail_helo_ && draft_flag_ != 0)) {
        out.append(kNoReceiver);
        return;
    }
    t.message.Begin([this] { return services_.NewTempMessagePath(); });
    out.append(kStartData);
    activity_->Progress();
    state_ = SmtpState::kData;
    StoreText(TraceHeader());
}

std::string SmtpSession::TraceHeader() const {
    return FormatReply("Return-Path: <%s>\r\nReceived: from %s (unknown [%s])\r\n\tby %s with QuorvexServer 5.3 SMTP; %s\r\n",
                       {HeaderSafe(transaction_->sender), HeaderSafe(helo_), HeaderSafe(peer_), settings_->Dominame,
                        LocalMailDate(std::time(nullptr))});
}

void SmtpSession::StoreText(std::string_view text) {
    SmtpTransaction& t = *transaction_;
    t.text_bytes += static_cast<long long>(text.size());
    if (t.write_error != 0 || t.message.Write(text)) return;
    // The rest of the text is read and dropped; the client hears of the
    // failure in the reply to its final ".", as it expects to.
    t.write_error = t.message.error();
    t.message.Discard();
}

void SmtpSession::OnDataLine(const LinePiece& piece, std::string& out) {
    SmtpTransaction& t = *transaction_;
    activity_->Progress();
    // Only a line that arrived whole as "." CR LF, after a line that itself
    // ended in CR LF, ends the text. A dot ended by a bare LF, or the rest
    // of a cut line, is text: a client cannot hide a second transaction in
    // a message by ending lines differently from the servers after us.
    if (settings_->MaxMailSize != -1 && t.text_bytes > settings_->MaxMailSize) {
        const std::string reply = FormatReply(kMailTooBigFormat, {t.sender});
        transaction_.reset();
        End(out, reply);
        return;
    }
    if (piece.text == "." && piece.end == LineEnd::kCrLf && !piece.continuation && t.previous_line_crlf) {
        FinishMessage(out);
        return;
    }
    t.previous_line_crlf = piece.end == LineEnd::kCrLf;
    std::string line;
    if (t.from_rewrite && StartsWithNoCase(piece.text, "From:")) {
        line = "From: " + *t.from_rewrite;
        t.from_rewrite.reset();
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
    if (t.in_header && settings_->EmailFilterEnable != 0) {
        if (const auto from = HeaderFromAddress(piece.text)) {
            if (const auto entry = MatchBlockedSender(settings_->FromList, *from)) {
                transaction_.reset();
                End(out, FormatReply(kFromBlockedFormat, {*entry}));
                return;
            }
        }
    }
    if (line.empty()) t.in_header = false;
    line.append("\r\n");
    StoreText(line);
}

void SmtpSession::FinishMessage(std::string& out) {
    SmtpTransaction& t = *transaction_;
    if (t.write_error == 0 && !t.message.Finish()) t.write_error = t.message.error();
    if (t.write_error != 0) {
        // Nothing was delivered: a temporary failure, so the client keeps
        // the message and tries again.
        const std::string_view reply = ReplyForWriteError(t.write_error);
        ResetTransaction();
        out.append(reply);
        return;
    }
    std::string uid;
    const bool delivered = DeliverMessage(out, uid);
    // The file goes in every case: delivered copies are the store's own.
    ResetTransaction();
    activity_->Progress();
    if (delivered) out.append(FormatReply(kAcceptedFormat, {uid}));
}

bool SmtpSession::DeliverMessage(std::string& out, std::string& uid) {
    SmtpTransaction& t = *transaction_;
    MessageFile& message = t.message;
    const CServerSettings& s = *settings_;
    if (s.AntiVirusEnable != 0) {
        // The scanner works on a file; unscanned mail is never delivered.
        const std::string* file = message.File();
        if (!file) {
            End(out, ReplyForWriteError(message.error()));
            return false;
        }
        services_.ScanForViruses(*file);
    }

    // One reply answers for every recipient: a recipient that would refuse
    // the message refuses it before anybody, the copies included, has it.
    for (const auto& recipient : t.recipients) {
        if (auto refusal = services_.Refusal(recipient, message)) {
            End(out, *refusal);
            return false;
        }
    }
    const bool copy_wanted = t.sender_class == kAddressLocalAccount ? s.EnableOutMailsCopyTo != 0
                                                                    : s.EnableInMailsCopyTo != 0;
    // Every copy is decided at once: a recipient that fails leaves nothing
    // for anybody, so that the client's retry duplicates nothing.
    DeliveryRequest request;
    request.tag = peer_;
    request.sender = t.sender;
    request.recipients.assign(t.recipients.begin(), t.recipients.end());
    if (s.EnableMailsCopyTo != 0 && copy_wanted) {
        for (const auto& address : SplitList(s.MailsCopyTo)) request.copies.push_back(address);
    }
    const bool sent_copy = webmail_helo_ && KeepsSentCopy(copy_flag_, draft_flag_);
    if (sent_copy) {
        if (!services_.AccountExists(helo_)) {
            End(out, kSentCopyFailed);
            return false;
        }
        request.sent_copy_account = helo_;
    }
    DeliveryOutcome outcome = services_.Deliver(request, message);
    if (!outcome.delivered) {
        if (outcome.sent_copy_failed) {
            outcome.reply = kSentCopyFailed;
        } else if (outcome.reply.empty()) {
            // A message that could not be spooled for the queue or a
            // filter fails as its write would have.
            outcome.reply = message.error() != 0 ? ReplyForWriteError(message.error()) : kLocalStoreFailed;
        }
        End(out, outcome.reply);
        return false;
    }
    if (sent_copy) uid = outcome.sent_copy_id;
    for (const auto& recipient : t.recipients) {
        if (services_.ClassifyAddress(recipient) == kAddressLocalAccount && !SameName(recipient, t.sender)) {
            services_.SendAutoReply(AccountOfAddress(recipient, s), t.sender, message);
        }
    }
    return true;
}

void SmtpSession::OnAuthLogin(const SmtpCommand& command, std::string& out) {
    state_ = SmtpState::kAuthUser;
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
    if (state_ == SmtpState::kAuthUser) {
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
        state_ = SmtpState::kAuthPassword;
        out.append(kAskPassword);
        return;
    }
    state_ = SmtpState::kReady;
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
    // A locked client is refused like a wrong password, without a check.
    // A failed login changes nothing of the session.
    const ClientSource& client = client_.client();
    if (services_.Logins().Locked(client)) {
        CountError(out, kAuthFailed);
        return;
    }
    std::string address;
    const LoginOutcome outcome = AuthenticateUser(user, *decoded, address);
    if (outcome == LoginOutcome::kAccepted) {
        authenticated_ = true;
        activity_->Progress();
        auth_address_ = std::move(address);
        out.append(kAuthOk);
        services_.Log(peer_, FormatReply("ESMTP authentication: %s", {user}));
        return;
    }
    // Reported to the system log and standard error, and shown in the
    // SMTP log beside the session's other lines.
    services_.Logins().Failed(client, user, outcome);
    services_.Log(peer_, FailedLoginLine(kLoginServiceSmtp, client, user, outcome));
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
