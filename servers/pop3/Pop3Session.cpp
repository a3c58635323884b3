// The POP3 session: authorization, the transaction commands in their
// dispatch order, the QUIT commit and the anti-virus one-file dialogue.
#include "servers/pop3/Pop3Session.h"

#include <algorithm>
#include <cstdio>

#include "common/AccountName.h"
#include "common/AsciiCase.h"
#include "common/DecimalScan.h"
#include "common/net/PeerAddress.h"
#include "servers/logins/ClientSource.h"
#include "servers/pop3/Pop3Replies.h"
#include "servers/pop3/Pop3Text.h"

namespace quorvex::pop3 {
namespace {

std::string Format(const char* format, auto... args) {
    char buffer[64];
    const int n = std::snprintf(buffer, sizeof buffer, format, args...);
    return std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
}

}  // namespace

// Dispatch order matters: a line reaches the first row of its phase that
// matches it. Authorization takes USER, QUIT and PASS (each as a prefix);
// the transaction phase the standard commands and the web-mail extensions.
const Pop3Session::Command Pop3Session::kCommands[] = {
    {Phase::kAuthorization, "USER ", Match::kPrefix, &Pop3Session::OnUser},
    {Phase::kAuthorization, "QUIT", Match::kPrefix, &Pop3Session::OnQuitUnauthorized},
    {Phase::kAuthorization, "PASS ", Match::kPrefix, &Pop3Session::OnPass},
    {Phase::kTransaction, "STAT", Match::kExact, &Pop3Session::CmdStat},
    {Phase::kTransaction, "PERM", Match::kExact, &Pop3Session::CmdPerm},
    {Phase::kTransaction, "NAME", Match::kExact, &Pop3Session::CmdName},
    {Phase::kTransaction, "SIZE", Match::kExact, &Pop3Session::CmdSize},
    {Phase::kTransaction, "USED ", Match::kPrefix, &Pop3Session::CmdUsed},
    {Phase::kTransaction, "STAT ", Match::kPrefix, &Pop3Session::CmdStatFolder},
    {Phase::kTransaction, "EXSTAT ", Match::kPrefix, &Pop3Session::CmdStatFolder},
    {Phase::kTransaction, "LIST", Match::kExact, &Pop3Session::CmdList},
    {Phase::kTransaction, "LIST ", Match::kPrefix, &Pop3Session::CmdListOne},
    {Phase::kTransaction, "EXLIST ", Match::kPrefix, &Pop3Session::CmdListOne},
    {Phase::kTransaction, "ID ", Match::kPrefix, &Pop3Session::CmdId},
    {Phase::kTransaction, "READ ", Match::kPrefix, &Pop3Session::CmdRead},
    {Phase::kTransaction, "NOOP", Match::kPrefix, &Pop3Session::CmdNoop},
    {Phase::kTransaction, "RETR ", Match::kPrefix, &Pop3Session::CmdRetr},
    {Phase::kTransaction, "EXRETR ", Match::kPrefix, &Pop3Session::CmdRetr},
    {Phase::kTransaction, "DELE ", Match::kPrefix, &Pop3Session::CmdDele},
    {Phase::kTransaction, "EXDELE ", Match::kPrefix, &Pop3Session::CmdDele},
    {Phase::kTransaction, "MOVE ", Match::kPrefix, &Pop3Session::CmdMove},
    {Phase::kTransaction, "RSET", Match::kExact, &Pop3Session::CmdRset},
    {Phase::kTransaction, "UIDL", Match::kExact, &Pop3Session::CmdUidl},
    {Phase::kTransaction, "UIDL ", Match::kPrefix, &Pop3Session::CmdUidlOne},
    {Phase::kTransaction, "EXUIDL ", Match::kPrefix, &Pop3Session::CmdUidlOne},
    {Phase::kTransaction, "TOP ", Match::kPrefix, &Pop3Session::CmdTop},
    {Phase::kTransaction, "EXTOP ", Match::kPrefix, &Pop3Session::CmdTop},
    {Phase::kTransaction, "REMOTE POP3", Match::kExact, &Pop3Session::CmdRemotePop3},
    {Phase::kTransaction, "QUIT", Match::kExact, &Pop3Session::CmdQuit},
    {Phase::kTransaction, "REPL ", Match::kPrefix, &Pop3Session::CmdRepl},
    {Phase::kTransaction, "FORW ", Match::kPrefix, &Pop3Session::CmdForw},
    {Phase::kTransaction, "SETR ", Match::kPrefix, &Pop3Session::CmdSetr},
    {Phase::kTransaction, "SETE ", Match::kPrefix, &Pop3Session::CmdSete},
    {Phase::kTransaction, "SETF ", Match::kPrefix, &Pop3Session::CmdSetf},
};

Pop3Session::Pop3Session(Pop3Services& services, Pop3Output& out, Pop3SessionSettings settings,
                         ConnectionClient client)
    : services_(services), out_(out), settings_(std::move(settings)), client_(std::move(client)) {}

Pop3Step Pop3Session::Reply(std::string_view text) {
    return out_.Send(text) ? Pop3Step::kContinue : Pop3Step::kClose;
}

Pop3Step Pop3Session::ReplyLine(const std::string& text) {
    return Reply(text + "\r\n");
}

Pop3Step Pop3Session::Start() {
    if (settings_.HideWelcomeMessage) return ReplyLine("+OK " + settings_.WelcomeMessage);
    return ReplyLine("+OK " + std::string(kGreetingProduct) + std::string(kGreetingSuffix));
}

Pop3Step Pop3Session::OnLine(std::string_view line) {
    switch (phase_) {
        case Phase::kAuthorization:
        case Phase::kTransaction:
            return Dispatch(line);
        case Phase::kIndexFailed:
            Reply(kReadMailInfoFailed);
            return Pop3Step::kClose;
        case Phase::kAntiVirus:
            return anti_virus_->OnLine(line);
    }
    return Pop3Step::kClose;
}

Pop3Step Pop3Session::OnLineTooLong() {
    switch (phase_) {
        case Phase::kAuthorization:
            return FailedTry(kLineTooLong);
        case Phase::kIndexFailed:
            return OnLine({});
        case Phase::kTransaction:
            return Reply(kLineTooLong);
        case Phase::kAntiVirus:
            return Pop3Step::kClose;  // the gateway's dialogue is fixed
    }
    return Pop3Step::kClose;
}

Pop3Step Pop3Session::Dispatch(std::string_view line) {
    for (const Command& command : kCommands) {
        if (command.phase != phase_) continue;
        const bool hit = command.match == Match::kExact ? EqualsNoCase(line, command.word)
                                                        : StartsWithNoCase(line, command.word);
        if (hit) return (this->*command.handler)(line.substr(command.word.size()));
    }
    // An unknown command counts as a failed try before the login only.
    return phase_ == Phase::kAuthorization ? FailedTry(kUnknownCommand) : Reply(kUnknownCommand);
}

// ---- authorization ------------------------------------------------------

Pop3Step Pop3Session::OnQuitUnauthorized(std::string_view) {
    Reply(kBye);
    return Pop3Step::kClose;
}

Pop3Step Pop3Session::FailedTry(std::string_view reply) {
    if (Reply(reply) == Pop3Step::kClose) return Pop3Step::kClose;
    ++failed_tries_;
    return failed_tries_ >= settings_.MaxPasswordTries ? Pop3Step::kClose : Pop3Step::kContinue;
}

Pop3Step Pop3Session::OnUser(std::string_view argument) {
    if (argument.size() > kMaxUserArgument) {
        Reply(kUserTooLong);
        services_.Log(LogAddress(), kLogUserTooLong);
        return Pop3Step::kClose;
    }
    // The gateway's user is served only when the hand-off is switched on;
    // otherwise the name is an unknown user like any other.
    if (EqualsNoCase(argument, kAntiVirusUser) && settings_.AntiVirusEnabled) return BeginAntiVirus();

    std::string name = AsciiLowerCase(argument);
    // Any client sends this before a login: written escaped, so that no
    // line break or terminal control of its own reaches the log.
    std::string shown;
    AppendVisible(shown, name);
    services_.Log(LogAddress(), shown);
    // The failed-login line names the account as the client gave it.
    given_user_ = argument;
    // "name:address": a web-mail front end names the user it speaks for,
    // whom the session's log lines, logins and slot count against from
    // now on; from any other client the suffix is only cut off.
    std::string forwarded;
    if (const std::size_t colon = name.find(':'); colon != std::string::npos) {
        forwarded = name.substr(colon + 1, kMaxUserArgument);
        name.resize(colon);
        given_user_.resize(colon);
    }
    client_.Forward(forwarded);

    user_.clear();
    attempted_user_ = name;
    if (IsValidAccountName(name) && services_.AccountExists(name) == AccountPresence::kListed) {
        if (services_.IsDisabled(name)) {
            Reply(kAccountDisabled);
            return Pop3Step::kClose;
        }
        // A group has no mailbox of its own: every PASS fails.
        if (!services_.IsGroup(name)) user_ = name;
        return Reply(kWelcomeHere);
    }
    if (const std::size_t hash = name.find('#'); hash != std::string::npos) {
        if (!settings_.MailProxy) {
            Reply(kMailProxyDisabled);
            return Pop3Step::kClose;
        }
        relay_user_ = name.substr(0, hash);
        relay_host_ = name.substr(hash + 1, kMaxUserArgument);
        return Pop3Step::kRelay;
    }
    // Unknown names get the same answer as known ones.
    return Reply(kWelcomeHere);
}

Pop3Step Pop3Session::OnPass(std::string_view argument) {
    if (argument.size() > kMaxPasswordArgument) {
        Reply(kPasswordTooLong);
        services_.Log(LogAddress(), kLogPasswordTooLong);
        return Pop3Step::kClose;
    }
    // A locked client is refused like a wrong password, without a check.
    const ClientSource& client = client_.client();
    if (services_.Logins().Locked(client)) return FailedTry(kPasswordIncorrect);
    // The check runs for unknown names too, so that they cost the same.
    LoginOutcome outcome = services_.Logins().Check(attempted_user_, argument);
    if (outcome == LoginOutcome::kAccepted && user_.empty()) outcome = LoginOutcome::kNotPermitted;
    if (outcome == LoginOutcome::kAccepted) {
        if (Reply(kLoggedIn) == Pop3Step::kClose) return Pop3Step::kClose;
        account_ = user_;
        return EnterTransaction();
    }
    // Reported to the system log and standard error, and shown in the POP3
    // log beside the session's other lines.
    services_.Logins().Failed(client, given_user_, outcome);
    services_.Log(LogAddress(), FailedLoginLine(kLoginServicePop3, client, given_user_, outcome));
    return FailedTry(kPasswordIncorrect);
}

Pop3Step Pop3Session::EnterTransaction() {
    Pop3Mailbox loaded;
    if (!services_.LoadMailbox(account_, loaded)) {
        phase_ = Phase::kIndexFailed;
        return Pop3Step::kContinue;
    }
    // Never trust the counts beyond the records actually there.
    const auto available = static_cast<int>(loaded.Messages.size());
    for (int& count : loaded.Counts) count = std::max(0, count);
    if (loaded.Counts[0] > available) loaded.Counts[0] = available;
    if (loaded.Counts[1] > available - loaded.Counts[0]) loaded.Counts[1] = available - loaded.Counts[0];
    mailbox_ = std::move(loaded);
    phase_ = Phase::kTransaction;
    activity_->Progress();
    return Pop3Step::kContinue;
}

// ---- transaction --------------------------------------------------------

std::size_t Pop3Session::FirstOf(int folder) const {
    return folder == 0 ? 0 : static_cast<std::size_t>(mailbox_.Counts[0]);
}

Pop3Message* Pop3Session::MessageAt(int folder, int number) {
    if (!IsFolder(folder) || number < 1 || number > mailbox_.Counts[static_cast<std::size_t>(folder)]) {
        return nullptr;
    }
    return &mailbox_.Messages[FirstOf(folder) + static_cast<std::size_t>(number - 1)];
}

Pop3Step Pop3Session::CmdStat(std::string_view) {
    return ReplyLine(Format("+OK %d %u", mailbox_.Counts[0], mailbox_.Bytes[0]));
}

Pop3Step Pop3Session::CmdPerm(std::string_view) {
    return ReplyLine(Format("+OK %d", services_.Permission(account_)));
}

// The account's stored spelling, whatever case the login used: the web-mail
// component names the account's folders with it.
Pop3Step Pop3Session::CmdName(std::string_view) { return ReplyLine("+OK " + services_.StoredName(account_)); }

Pop3Step Pop3Session::CmdSize(std::string_view) {
    const std::uint64_t quota = services_.QuotaBytes(account_);
    const std::uint64_t used = std::uint64_t{mailbox_.Bytes[0]} + mailbox_.Bytes[1];
    const long long quota_mb = quota >= kNoQuota ? -1 : static_cast<long long>(quota / 1024 / 1024);
    return ReplyLine(Format("+OK %lld %lld", quota_mb, static_cast<long long>(used / 1024)));
}

Pop3Step Pop3Session::CmdUsed(std::string_view args) {
    const auto [folder] = ScanNumbers<1>(args, {0});
    if (!IsFolder(folder)) return Pop3Step::kClose;
    return ReplyLine(Format("+OK %d %u", folder, mailbox_.Bytes[static_cast<std::size_t>(folder)] / 1024));
}

Pop3Step Pop3Session::CmdStatFolder(std::string_view args) {
    const auto [folder] = ScanNumbers<1>(args, {0});
    if (!IsFolder(folder)) return Pop3Step::kClose;
    const auto f = static_cast<std::size_t>(folder);
    return ReplyLine(Format("+OK %d %u", mailbox_.Counts[f], mailbox_.Bytes[f]));
}

Pop3Step Pop3Session::ListFolder(int folder) {
    const auto f = static_cast<std::size_t>(folder);
    std::string text = Format("+OK %d %u\r\n", mailbox_.Counts[f], mailbox_.Bytes[f]);
    for (int n = 1; n <= mailbox_.Counts[f]; ++n) {
        text += Format("%d %u\r\n", n, MessageAt(folder, n)->Size);
    }
    text += kEndOfList;
    return Reply(text);
}

Pop3Step Pop3Session::CmdList(std::string_view) { return ListFolder(0); }

Pop3Step Pop3Session::CmdListOne(std::string_view args) {
    const auto [number, folder] = ScanNumbers<2>(args, {0, 0});
    if (number == 0 && folder == 1) return ListFolder(1);
    if (!IsFolder(folder)) return Pop3Step::kClose;
    if (const Pop3Message* message = MessageAt(folder, number)) {
        if (message->Size == kUnknownSize) return Reply(kNoSuchMessage);
        return ReplyLine(Format("+OK %d %u", number, message->Size));
    }
    // The web-mail pages ask for a second-folder message without its folder
    // number and get its size.
    if (folder == 0) {
        if (const Pop3Message* message = MessageAt(1, number)) {
            return ReplyLine(Format("+OK %d %u", number, message->Size));
        }
    }
    return Reply(kNoThisMessage);
}

Pop3Step Pop3Session::UidlFolder(int folder) {
    std::string text(kOkBlank);
    const auto f = static_cast<std::size_t>(folder);
    for (int n = 1; n <= mailbox_.Counts[f]; ++n) {
        text += Format("%d ", n) + services_.UidText(account_, MessageAt(folder, n)->Uid) + "\r\n";
    }
    text += kEndOfList;
    return Reply(text);
}

Pop3Step Pop3Session::CmdUidl(std::string_view) { return UidlFolder(0); }

Pop3Step Pop3Session::CmdUidlOne(std::string_view args) {
    const auto [number, folder] = ScanNumbers<2>(args, {0, 0});
    if (!IsFolder(folder)) return Pop3Step::kClose;
    if (number == 0 && folder == 1) return UidlFolder(1);
    if (const Pop3Message* message = MessageAt(folder, number)) {
        return ReplyLine(Format("+OK %d ", number) + services_.UidText(account_, message->Uid));
    }
    return Reply(kNoThisMessage);
}

Pop3Step Pop3Session::CmdId(std::string_view args) {
    // "ID f uid": the uid starts after the first blank that follows f.
    const int folder = AtoiLike(args);
    const std::size_t blank = args.find(' ');
    if (blank == std::string_view::npos) return Reply(kInvalidIdParameter);
    if (!IsFolder(folder)) return Reply(kUnfoundMessage);
    const std::uint32_t wanted = UidNumberOf(args.substr(blank + 1));
    for (int n = 1; n <= mailbox_.Counts[static_cast<std::size_t>(folder)]; ++n) {
        if (MessageAt(folder, n)->Uid == wanted) return ReplyLine(Format("+OK %d", n));
    }
    return Reply(kUnfoundMessage);
}

Pop3Step Pop3Session::CmdRead(std::string_view args) {
    const auto [number, folder] = ScanNumbers<2>(args, {0, 0});
    if (!IsFolder(folder)) return Pop3Step::kClose;
    if (const Pop3Message* message = MessageAt(folder, number)) {
        return ReplyLine(Format("+OK %d %d ", number, (message->Flags & kFlagRead) ? 1 : 0));
    }
    if (number == -1) {
        int read = 0;
        const int count = mailbox_.Counts[static_cast<std::size_t>(folder)];
        for (int n = 1; n <= count; ++n) read += (MessageAt(folder, n)->Flags & kFlagRead) ? 1 : 0;
        return ReplyLine(Format("+OK %d %d ", count, read));
    }
    return Reply(kNoThisMessage);
}

Pop3Step Pop3Session::CmdNoop(std::string_view) { return Reply(kNoop); }

UniqueFd Pop3Session::OpenMessage(std::string_view command, int number, const Pop3Message& message,
                                  std::string& path) {
    path = services_.MessagePath(account_, message.FileNumber);
    UniqueFd file = message_folder_.Open(path);
    if (!file) {
        services_.Log(LogAddress(),
                      std::string(command) + " " + std::to_string(number) + " of " + account_ + ": cannot open " + path);
    }
    return file;
}

Pop3Step Pop3Session::CmdRetr(std::string_view args) {
    const auto [number, folder] = ScanNumbers<2>(args, {0, 0});
    if (!IsFolder(folder)) return Pop3Step::kClose;
    Pop3Message* message = MessageAt(folder, number);
    if (message == nullptr) return Reply(kNoThisMessage);

    std::string path;
    const UniqueFd file = OpenMessage("RETR", number, *message, path);
    if (!file) return Reply(kMessageUnreadable);
    const std::uint8_t key = services_.StoreKey(account_);
    if (settings_.EnableReceipt) services_.MarkReceiptRead(account_, path, key);

    if (Reply(Format("+OK %u octets\r\n", message->Size)) == Pop3Step::kClose) return Pop3Step::kClose;
    // A transfer that breaks off part-way leaves the client unable to find
    // the end of the message: the connection cannot go on.
    if (!SendMessageFile(file.get(), key, out_)) return Pop3Step::kClose;
    message->Flags |= kFlagRead;
    message->Changes |= kChangeFlags;
    activity_->Progress();
    return Reply(kEndOfList);
}

Pop3Step Pop3Session::CmdDele(std::string_view args) {
    const auto [number, folder] = ScanNumbers<2>(args, {0, 0});
    if (!IsFolder(folder)) return Pop3Step::kClose;
    Pop3Message* message = MessageAt(folder, number);
    if (message == nullptr) return Reply(kNoThisMessage);
    message->Changes = kChangeDeleteOnly;
    activity_->Progress();
    return Reply(kOkBlank);
}

Pop3Step Pop3Session::CmdMove(std::string_view args) {
    const auto [from, to, number] = ScanNumbers<3>(args, {-1, -1, -1});
    if (!IsFolder(from) || !IsFolder(to)) return Pop3Step::kClose;
    if (number == -1 || from == to) return Reply(kInvalidParameter);
    Pop3Message* message = MessageAt(from, number);
    if (message == nullptr) return Reply(kInvalidParameter);
    message->MoveTarget = static_cast<std::uint16_t>(to);
    message->Changes |= kChangeMoveBit;
    activity_->Progress();
    return Reply(kMoveDone);
}

Pop3Step Pop3Session::CmdRset(std::string_view) {
    for (Pop3Message& message : mailbox_.Messages) message.Changes = 0;
    return Reply(kOkBlank);
}

Pop3Step Pop3Session::CmdTop(std::string_view args) {
    const auto [number, lines, folder] = ScanNumbers<3>(AsciiUpperCase(args), {0, 0, 0});
    if (!IsFolder(folder)) return Pop3Step::kClose;
    const Pop3Message* message = MessageAt(folder, number);
    if (message == nullptr) return Reply(kNoSuchMsg);

    std::string path;
    const UniqueFd file = OpenMessage("TOP", number, *message, path);
    if (!file) return Reply(kMessageUnreadable);
    std::string text = "+OK\r\n";
    StoredLineReader reader(file.get(), services_.StoreKey(account_));
    std::string line;
    bool in_header = true;
    int body_lines = 0;
    while ((in_header || body_lines < lines) && reader.Next(line)) {
        if (in_header) {
            in_header = !line.empty();
        } else {
            ++body_lines;
        }
        text += line;
        text += "\r\n";
        if (text.size() >= 64 * 1024) {
            if (!out_.Send(text)) return Pop3Step::kClose;
            text.clear();
        }
    }
    text += kEndOfList;
    return Reply(text);
}

Pop3Step Pop3Session::CmdRemotePop3(std::string_view) {
    const bool queued = services_.QueueRemoteCollection(account_) >= 0;
    if (queued) activity_->Progress();
    return Reply(queued ? kCollectionQueued : kCollectionBusy);
}

Pop3Step Pop3Session::CmdQuit(std::string_view) {
    if (!services_.CommitMailbox(account_, mailbox_)) {
        Reply(kUpdateFailed);
        return Pop3Step::kClose;
    }
    Reply(kBye);
    services_.RecordVisit(account_);
    return Pop3Step::kClose;
}

Pop3Step Pop3Session::ReportFlag(std::string_view args, std::uint16_t bit) {
    const auto [number, folder] = ScanNumbers<2>(args, {0, 0});
    if (!IsFolder(folder)) return Pop3Step::kClose;
    const Pop3Message* message = MessageAt(folder, number);
    if (message == nullptr) return Reply(kNoThisMessage);
    return ReplyLine(Format("+OK %d %d ", number, (message->Flags & bit) ? 1 : 0));
}

Pop3Step Pop3Session::CmdRepl(std::string_view args) { return ReportFlag(args, kFlagReplied); }
Pop3Step Pop3Session::CmdForw(std::string_view args) { return ReportFlag(args, kFlagForwarded); }

Pop3Step Pop3Session::SetFlags(std::string_view args, std::uint16_t (*change)(std::uint16_t flags, int value)) {
    const auto [value, number, folder] = ScanNumbers<3>(args, {0, 0, 0});
    if (!IsFolder(folder)) return Pop3Step::kClose;
    Pop3Message* message = MessageAt(folder, number);
    if (message == nullptr) return Reply(kNoThisMessage);
    message->Flags = change(message->Flags, value);
    message->Changes |= kChangeFlags;
    activity_->Progress();
    return Reply(kOk);
}

Pop3Step Pop3Session::CmdSetr(std::string_view args) {
    return SetFlags(args, [](std::uint16_t flags, int value) -> std::uint16_t {
        if (value != 0) return static_cast<std::uint16_t>((flags & ~kFlagForwarded) | kFlagReplied);
        return static_cast<std::uint16_t>(flags & ~kFlagReplied);
    });
}

Pop3Step Pop3Session::CmdSetf(std::string_view args) {
    return SetFlags(args, [](std::uint16_t flags, int value) -> std::uint16_t {
        if (value != 0) return static_cast<std::uint16_t>((flags & ~kFlagReplied) | kFlagForwarded);
        return static_cast<std::uint16_t>(flags & ~kFlagForwarded);
    });
}

Pop3Step Pop3Session::CmdSete(std::string_view args) {
    return SetFlags(args, [](std::uint16_t flags, int value) -> std::uint16_t {
        const auto kept = static_cast<std::uint16_t>(flags & (kFlagReplied | kFlagForwarded));
        return value != 0 ? static_cast<std::uint16_t>(kept | kFlagRead) : kept;
    });
}

// ---- anti-virus mode ----------------------------------------------------

Pop3Step Pop3Session::BeginAntiVirus() {
    // The gateway is the connection's own peer, whatever a USER forwarded.
    const std::string& peer = client_.connection();
    bool passes = peer == settings_.GateAddress;
    if (!passes && !IsDottedIpv4(settings_.GateAddress)) {
        const std::optional<std::string> resolved = services_.ResolveHost(settings_.GateAddress);
        passes = resolved && *resolved == peer;
    }
    if (!passes) {
        Reply(kIllegalConnection);
        return Pop3Step::kClose;
    }
    anti_virus_ = std::make_unique<AntiVirusDialogue>(services_, out_, settings_.AntiVirusFolder, LogAddress());
    phase_ = Phase::kAntiVirus;
    return Reply(kOk);
}

}  // namespace quorvex::pop3
