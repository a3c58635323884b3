// One POP3 connection from greeting to end, without any socket: the glue
// feeds it command lines (CR LF removed) and it writes replies and message
// bodies to a Pop3Output. Besides the standard commands it serves the
// extended commands of the web-mail component, and it can turn into a
// mail-proxy relay or a one-file server for the anti-virus gateway.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/net/SessionActivity.h"
#include "servers/pop3/AntiVirusDialogue.h"
#include "servers/pop3/Pop3Mailbox.h"
#include "servers/pop3/StoredMessage.h"

namespace quorvex::pop3 {

// The settings one session works with (a snapshot taken when it starts).
struct Pop3SessionSettings {
    bool HideWelcomeMessage = false;
    std::string WelcomeMessage;
    int MaxPasswordTries = 3;
    bool MailProxy = false;
    bool EnableReceipt = false;
    // Anti-virus hand-off: only when enabled, only to the gateway address,
    // and only files inside `AntiVirusFolder` (the program's "smtp" folder).
    bool AntiVirusEnabled = false;
    std::string GateAddress = "127.0.0.1";
    std::string AntiVirusFolder;
};

// Longest user name and password a client may send.
inline constexpr std::size_t kMaxUserArgument = 260;
inline constexpr std::size_t kMaxPasswordArgument = 260;
// The user name the anti-virus gateway logs in with.
inline constexpr std::string_view kAntiVirusUser = "_ANTI_VIRUS";

enum class Pop3Step {
    kContinue,  // read the next line
    kClose,     // end the session (the glue closes the socket)
    kRelay,     // relay to RelayHost() as RelayUser() (mail-proxy mode)
};

class Pop3Session {
public:
    Pop3Session(Pop3Services& services, Pop3Output& out, Pop3SessionSettings settings, ConnectionClient client);

    // Where the session reports progress (a login, a retrieved, deleted,
    // moved or marked message, a queued collection) and the client a
    // web-mail front end names after USER.
    void SetActivity(SessionActivity& activity) {
        activity_ = &activity;
        client_.SetActivity(activity);
    }

    // Sends the greeting. kClose when it could not be sent.
    Pop3Step Start();
    // Handles one command line (without its CR LF).
    Pop3Step OnLine(std::string_view line);
    // A line longer than the line limit, discarded unread.
    Pop3Step OnLineTooLong();

    const std::string& RelayUser() const { return relay_user_; }
    const std::string& RelayHost() const { return relay_host_; }
    // The account logged in ("" before PASS succeeded).
    const std::string& Account() const { return account_; }
    // The source of the session's log lines: the client (ConnectionClient).
    const std::string& LogAddress() const { return client_.client().address; }

private:
    enum class Phase {
        kAuthorization,
        kIndexFailed,  // login done, index unreadable: refuse the next line
        kTransaction,
        kAntiVirus,    // the gateway's one-file dialogue
    };
    enum class Match { kExact, kPrefix };
    using Handler = Pop3Step (Pop3Session::*)(std::string_view args);
    // A row of the command table: the phase it is taken in, the command
    // word (with the blank that ends it, for a prefix) and its handler,
    // which gets the rest of the line.
    struct Command {
        Phase phase;
        std::string_view word;
        Match match;
        Handler handler;
    };
    static const Command kCommands[];

    Pop3Step Reply(std::string_view text);
    Pop3Step ReplyLine(const std::string& text);  // adds CR LF

    // Runs the first row of the current phase that matches the line.
    Pop3Step Dispatch(std::string_view line);
    Pop3Step OnUser(std::string_view argument);
    Pop3Step OnPass(std::string_view argument);
    Pop3Step OnQuitUnauthorized(std::string_view);
    Pop3Step FailedTry(std::string_view reply);
    Pop3Step EnterTransaction();
    Pop3Step BeginAntiVirus();

    // Message n (from 1) of folder f, or null when out of range.
    Pop3Message* MessageAt(int folder, int number);
    static bool IsFolder(int folder) { return folder == 0 || folder == 1; }
    std::size_t FirstOf(int folder) const;

    Pop3Step CmdStat(std::string_view);
    Pop3Step CmdPerm(std::string_view);
    Pop3Step CmdName(std::string_view);
    Pop3Step CmdSize(std::string_view);
    Pop3Step CmdUsed(std::string_view args);
    Pop3Step CmdStatFolder(std::string_view args);
    Pop3Step CmdList(std::string_view);
    Pop3Step CmdListOne(std::string_view args);
    Pop3Step CmdId(std::string_view args);
    Pop3Step CmdRead(std::string_view args);
    Pop3Step CmdNoop(std::string_view);
    Pop3Step CmdRetr(std::string_view args);
    Pop3Step CmdDele(std::string_view args);
    Pop3Step CmdMove(std::string_view args);
    Pop3Step CmdRset(std::string_view);
    Pop3Step CmdUidl(std::string_view);
    Pop3Step CmdUidlOne(std::string_view args);
    Pop3Step CmdTop(std::string_view args);
    Pop3Step CmdRemotePop3(std::string_view);
    Pop3Step CmdQuit(std::string_view);
    Pop3Step CmdRepl(std::string_view args);
    Pop3Step CmdForw(std::string_view args);
    Pop3Step CmdSetr(std::string_view args);
    Pop3Step CmdSetf(std::string_view args);
    Pop3Step CmdSete(std::string_view args);

    // Opens a message's file for RETR or TOP (`command`); logs the path
    // when it cannot be opened.
    UniqueFd OpenMessage(std::string_view command, int number, const Pop3Message& message, std::string& path);
    Pop3Step ListFolder(int folder);
    Pop3Step UidlFolder(int folder);
    Pop3Step ReportFlag(std::string_view args, std::uint16_t bit);
    Pop3Step SetFlags(std::string_view args, std::uint16_t (*change)(std::uint16_t flags, int value));

    Pop3Services& services_;
    SessionActivity* activity_ = &NoSessionActivity();
    Pop3Output& out_;
    Pop3SessionSettings settings_;
    ConnectionClient client_;
    Phase phase_ = Phase::kAuthorization;
    std::string user_;     // lower-cased name after USER; empty when it may not log in
    std::string attempted_user_;  // the name USER gave, lower-cased, for the password check
    std::string given_user_;      // the same as the client spelled it, for the failed-login line
    std::string account_;  // the name logged in
    int failed_tries_ = 0;
    Pop3Mailbox mailbox_;
    MessageFolder message_folder_;
    std::string relay_user_;
    std::string relay_host_;
    std::unique_ptr<AntiVirusDialogue> anti_virus_;
};

}  // namespace quorvex::pop3
