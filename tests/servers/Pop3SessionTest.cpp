// The POP3 session driven line by line, without sockets: byte-exact
// replies, the authorization rules, the standard and extended commands,
// message transfer and the QUIT commit.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "servers/pop3/Pop3Session.h"
#include "tests/servers/support/Pop3FakeServices.h"
#include "tests/support/RecordedActivity.h"
#include "tests/support/TempFolder.h"

namespace quorvex::pop3 {
namespace {

using testing::FakeServices;
using testing::RecordedActivity;
using testing::StringOutput;
using testing::TempFolder;

class Pop3SessionTest : public ::testing::Test {
protected:
    Pop3SessionTest() : services(folder.path()) {
        services.accounts["bob"] = {"secret"};
        services.accounts["off"] = {"pw", true};
        services.accounts["team"] = {"pw", false, true};
    }

    // Starts a session and returns the greeting.
    std::string Open(const std::string& client = "192.0.2.7") {
        const bool web_mail = services.webmail_peers.count(client) != 0;
        session = std::make_unique<Pop3Session>(services, out, settings, ConnectionClient(client, web_mail));
        activity = RecordedActivity{};
        session->SetActivity(activity);
        EXPECT_EQ(session->Start(), Pop3Step::kContinue);
        return out.Take();
    }
    // Sends one line (kTooLongLine: a line over the limit); returns what
    // came back.
    static constexpr std::string_view kTooLongLine = "<a line over the limit>";
    std::string Say(std::string_view line) {
        last_step = line == kTooLongLine ? session->OnLineTooLong() : session->OnLine(line);
        return out.Take();
    }
    void Login() {
        Open();
        ASSERT_EQ(Say("USER bob"), "+OK welcome here\r\n");
        ASSERT_EQ(Say("PASS secret"), "+OK \r\n");
        ASSERT_EQ(last_step, Pop3Step::kContinue);
    }

    TempFolder folder;
    FakeServices services;
    StringOutput out;
    Pop3SessionSettings settings;
    RecordedActivity activity;
    std::unique_ptr<Pop3Session> session;
    Pop3Step last_step = Pop3Step::kContinue;
};

TEST_F(Pop3SessionTest, Greetings) {
    EXPECT_EQ(Open(), "+OK QuorvexServer 5.3 POP3 Service Ready\r\n");
    settings.HideWelcomeMessage = true;
    settings.WelcomeMessage = "mail here ";
    EXPECT_EQ(Open(), "+OK mail here \r\n");
}

// One row per authorization dialogue: the lines sent, the replies expected
// and whether the session is still open afterwards.
struct AuthCase {
    const char* name;
    std::vector<std::string> lines;
    std::string replies;
    Pop3Step last;
};

TEST_F(Pop3SessionTest, AuthorizationDialogues) {
    const std::string long_name(261, 'a');
    const std::string ok_name(260, 'a');
    const AuthCase cases[] = {
        {"known user, right password", {"USER bob", "PASS secret"}, "+OK welcome here\r\n+OK \r\n", Pop3Step::kContinue},
        {"case of USER and name ignored", {"user BOB", "pass secret"}, "+OK welcome here\r\n+OK \r\n", Pop3Step::kContinue},
        {"unknown user looks like a known one",
         {"USER nobody", "PASS x"},
         "+OK welcome here\r\n-ERR the password incorrect\r\n",
         Pop3Step::kContinue},
        {"name survives a refused PASS",
         {"USER bob", "PASS wrong", "PASS secret"},
         "+OK welcome here\r\n-ERR the password incorrect\r\n+OK \r\n",
         Pop3Step::kContinue},
        {"three failed tries end the session",
         {"HELO", "CAPA", "PASS x"},
         "-ERR unknown command\r\n-ERR unknown command\r\n-ERR the password incorrect\r\n",
         Pop3Step::kClose},
        {"USER never counts as a failed try",
         {"USER a", "USER b", "USER c", "USER bob", "PASS secret"},
         "+OK welcome here\r\n+OK welcome here\r\n+OK welcome here\r\n+OK welcome here\r\n+OK \r\n",
         Pop3Step::kContinue},
        {"disabled account", {"USER off"}, "-ERR the account is disabled\r\n", Pop3Step::kClose},
        {"group account cannot log in",
         {"USER team", "PASS pw"},
         "+OK welcome here\r\n-ERR the password incorrect\r\n",
         Pop3Step::kContinue},
        {"user name too long", {"USER " + long_name}, "-ERR user name is too long\r\n", Pop3Step::kClose},
        {"user name at the limit", {"USER " + ok_name}, "+OK welcome here\r\n", Pop3Step::kContinue},
        {"password too long", {"USER bob", "PASS " + long_name}, "+OK welcome here\r\n-ERR password is too long\r\n",
         Pop3Step::kClose},
        {"QUIT before login", {"QUIT"}, "+OK bye\r\n", Pop3Step::kClose},
        {"proxy form without MailProxy", {"USER joe#192.0.2.1"}, "-ERR mail proxy disabled\r\n", Pop3Step::kClose},
        {"transaction command before login", {"STAT"}, "-ERR unknown command\r\n", Pop3Step::kContinue},
        {"a name that would leave the mail folder", {"USER ../bob", "PASS secret"},
         "+OK welcome here\r\n-ERR the password incorrect\r\n", Pop3Step::kContinue},
        {"over-long lines are failed tries",
         {std::string(kTooLongLine), "USER bob", std::string(kTooLongLine), "PASS secret"},
         "-ERR line too long\r\n+OK welcome here\r\n-ERR line too long\r\n+OK \r\n", Pop3Step::kContinue},
        {"three over-long lines end the session",
         {std::string(kTooLongLine), std::string(kTooLongLine), std::string(kTooLongLine)},
         "-ERR line too long\r\n-ERR line too long\r\n-ERR line too long\r\n", Pop3Step::kClose},
    };
    for (const AuthCase& c : cases) {
        SCOPED_TRACE(c.name);
        Open();
        std::string replies;
        for (const std::string& line : c.lines) replies += Say(line);
        EXPECT_EQ(replies, c.replies);
        EXPECT_EQ(last_step, c.last);
    }
}

// Every refused PASS is reported with the connection's address, the name
// USER gave (as the client spelled it) and the outcome; the check runs for unknown names too (equal
// cost); a locked address is refused without a check.
TEST_F(Pop3SessionTest, FailedLoginsAreReportedAndLockedAddressesRefused) {
    settings.MaxPasswordTries = 20;
    Open("192.0.2.7");
    for (const char* line : {"USER nobody", "PASS x", "USER Bob", "PASS wrong", "USER team", "PASS pw", "PASS y"})
        Say(line);
    EXPECT_EQ(services.checked, (std::vector<std::string>{"nobody", "bob", "team", "team"}));
    EXPECT_EQ(services.failed_logins,
              (std::vector<std::string>{"192.0.2.7 nobody unknown-account", "192.0.2.7 Bob wrong-password",
                                        "192.0.2.7 team not-permitted", "192.0.2.7 team wrong-password"}));
    EXPECT_NE(std::find(services.log.begin(), services.log.end(),
                        "192.0.2.7 login failed: service=pop3 address=192.0.2.7 account=Bob outcome=wrong-password"),
              services.log.end());
    // Any client's USER text is logged escaped, as the failure lines are.
    Say("USER a\rB c\x1b[2J");
    EXPECT_EQ(services.log.back(), "192.0.2.7 a\\x0db\\x20c\\x1b[2j");
    services.locked.insert("192.0.2.7");
    Say("USER bob");
    EXPECT_EQ(Say("PASS secret"), "-ERR the password incorrect\r\n");
    EXPECT_EQ(services.checked.size(), 4u);
    EXPECT_EQ(services.failed_logins.size(), 4u);
    // A web-mail front end's login counts against the address it forwards.
    services.webmail_peers.insert("192.0.2.7");
    Open("192.0.2.7");
    Say("USER bob:10.9.9.9");
    Say("PASS wrong");
    EXPECT_EQ(services.failed_logins.back(), "10.9.9.9 bob wrong-password");
    EXPECT_EQ(services.log.back(), "10.9.9.9 login failed: service=pop3 address=10.9.9.9 via=192.0.2.7 account=bob "
                                   "outcome=wrong-password");
}

TEST_F(Pop3SessionTest, OverLongLineInTheTransactionIsAnsweredAndSkipped) {
    Login();
    EXPECT_EQ(Say(kTooLongLine), "-ERR line too long\r\n");
    EXPECT_EQ(last_step, Pop3Step::kContinue);
    EXPECT_EQ(Say("NOOP"), "+OK noop\r\n");
}

// "USER name:address" from a web-mail front end makes that address the
// session's client, for its log lines, its logins and its slot; from any
// other client the suffix is cut off and changes nothing.
TEST_F(Pop3SessionTest, OnlyAFrontEndNamesTheClient) {
    services.webmail_peers.insert("192.0.2.80");
    for (const std::string connection : {"192.0.2.80", "192.0.2.7"}) {
        const bool front_end = connection == "192.0.2.80";
        const std::string client = front_end ? "10.0.0.9" : connection;
        services.log.clear();
        Open(connection);
        EXPECT_EQ(Say("USER Bob:10.0.0.9"), "+OK welcome here\r\n");
        EXPECT_EQ(Say("PASS wrong"), "-ERR the password incorrect\r\n");
        EXPECT_EQ(Say("PASS secret"), "+OK \r\n");
        EXPECT_EQ(services.log.front(), connection + " bob:10.0.0.9");
        EXPECT_EQ(services.log.back().substr(0, client.size() + 1), client + " ");
        EXPECT_EQ(services.failed_logins.back(), client + " Bob wrong-password");
        EXPECT_EQ(activity.forwarded, front_end ? std::vector<std::string>{client} : std::vector<std::string>{});
        EXPECT_EQ(session->Account(), "bob");
    }
}

TEST_F(Pop3SessionTest, MailProxyNamesTheRelay) {
    settings.MailProxy = true;
    Open();
    EXPECT_EQ(Say("USER Joe#Other.Example"), "");
    EXPECT_EQ(last_step, Pop3Step::kRelay);
    EXPECT_EQ(session->RelayUser(), "joe");
    EXPECT_EQ(session->RelayHost(), "other.example");
    // An account whose name holds "#" is served, never relayed.
    services.accounts["a#b"] = {"pw"};
    Open();
    EXPECT_EQ(Say("USER a#b"), "+OK welcome here\r\n");
    EXPECT_EQ(last_step, Pop3Step::kContinue);
}

TEST_F(Pop3SessionTest, UnreadableIndexRefusesTheNextCommand) {
    services.fail_load = true;
    Login();
    EXPECT_EQ(Say("STAT"), "-ERR read mail info failed\r\n");
    EXPECT_EQ(last_step, Pop3Step::kClose);
}

class Pop3MailboxTest : public Pop3SessionTest {
protected:
    Pop3MailboxTest() {
        services.AddMessage(0, "Subject: one\r\n\r\nbody 1\r\n", 11);
        services.AddMessage(0, "Subject: two\r\n\r\nline a\r\n..dot\r\nline c\r\n", 12, kFlagRead);
        services.AddMessage(1, "Subject: three\r\n\r\nx\r\n", 13);
        services.AddMessage(1, "Subject: four\r\n\r\ny\r\n", 14);
        services.AddMessage(1, "Subject: five\r\n\r\nz\r\n", 17, kFlagForwarded);
    }
};

struct CommandCase {
    const char* line;
    const char* reply;
};

TEST_F(Pop3MailboxTest, ListingCommands) {
    services.stored_names["bob"] = "Bob";  // as the account list spells the name logged in as "bob"
    Login();
    const CommandCase cases[] = {
        {"STAT", "+OK 2 63\r\n"},
        {"stat 1", "+OK 3 61\r\n"},
        {"EXSTAT 0", "+OK 2 63\r\n"},
        {"LIST", "+OK 2 63\r\n1 24\r\n2 39\r\n.\r\n"},
        {"LIST 2", "+OK 2 39\r\n"},
        {"LIST 0 1", "+OK 3 61\r\n1 21\r\n2 20\r\n3 20\r\n.\r\n"},
        {"LIST 0 0", "-ERR no this message\r\n"},
        {"LIST 3", "+OK 3 20\r\n"},  // beyond folder 0: message 3 of folder 1
        {"LIST 4", "-ERR no this message\r\n"},
        {"EXLIST 1 1", "+OK 1 21\r\n"},
        {"LIST -1", "-ERR no this message\r\n"},
        {"LIST 99999999999", "-ERR no this message\r\n"},
        {"UIDL", "+OK \r\n1 bob.example.com.quorvexserver.11\r\n2 bob.example.com.quorvexserver.12\r\n.\r\n"},
        {"UIDL 2", "+OK 2 bob.example.com.quorvexserver.12\r\n"},
        {"UIDL 0 1",
         "+OK \r\n1 bob.example.com.quorvexserver.13\r\n2 bob.example.com.quorvexserver.14\r\n"
         "3 bob.example.com.quorvexserver.17\r\n.\r\n"},
        {"UIDL 3", "-ERR no this message\r\n"},
        {"NOOP", "+OK noop\r\n"},
        {"NOOPS", "+OK noop\r\n"},
        {"CAPA", "-ERR unknown command\r\n"},
        {"list", "+OK 2 63\r\n1 24\r\n2 39\r\n.\r\n"},
        {"PERM", "+OK 0\r\n"},
        {"NAME", "+OK Bob\r\n"},
        {"SIZE", "+OK -1 0\r\n"},
        {"USED 1", "+OK 1 0\r\n"},
        {"READ -1 0", "+OK 2 1 \r\n"},
        {"READ 2", "+OK 2 1 \r\n"},
        {"READ 1 0", "+OK 1 0 \r\n"},
        {"READ 3 0", "-ERR no this message\r\n"},
        {"FORW 3 1", "+OK 3 1 \r\n"},
        {"REPL 3 1", "+OK 3 0 \r\n"},
        {"ID 1 abc.def.quorvexserver.17", "+OK 3\r\n"},
        {"ID 0 whatever.12", "+OK 2\r\n"},
        {"ID 1 abc.def.quorvexserver.99", "-ERR unfound this message\r\n"},
        {"ID 1", "-ERR invalid id parameter\r\n"},
        {"ID 7 x.1", "-ERR unfound this message\r\n"},
        {"MOVE 0 0 2", "-ERR invalid parameter\r\n"},
        {"MOVE 0 1", "-ERR invalid parameter\r\n"},
        {"MOVE 0 1 9", "-ERR invalid parameter\r\n"},
        {"DELE 5", "-ERR no this message\r\n"},
        {"TOP 9 0", "-ERR no such msg\r\n"},
    };
    for (const CommandCase& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(Say(c.line), c.reply);
        EXPECT_EQ(last_step, Pop3Step::kContinue);
    }
}

TEST_F(Pop3MailboxTest, FolderOutsideZeroAndOneEndsTheSessionSilently) {
    for (const char* line : {"LIST 3 5", "UIDL 1 2", "RETR 1 -1", "DELE 1 2", "TOP 1 0 2", "STAT 2", "USED 3",
                             "READ 1 2", "REPL 1 2", "FORW 1 9", "SETR 1 1 2", "SETE 1 1 2", "SETF 1 1 2",
                             "MOVE 2 0 1", "MOVE 0"}) {
        SCOPED_TRACE(line);
        Login();
        EXPECT_EQ(Say(line), "");
        EXPECT_EQ(last_step, Pop3Step::kClose);
    }
}

TEST_F(Pop3MailboxTest, SizeInMegabytesAndKilobytes) {
    services.accounts["bob"].Quota = 5ull * 1024 * 1024;
    services.AddMessage(0, std::string(3000, 'x'), 20);
    Login();
    EXPECT_EQ(Say("SIZE"), "+OK 5 3\r\n");  // 3124 bytes
    services.accounts["bob"].Quota = kNoQuota;
    EXPECT_EQ(Say("SIZE"), "+OK -1 3\r\n");
}

TEST_F(Pop3MailboxTest, MarksChangeOnlyTheSessionCopyUntilQuit) {
    Login();
    EXPECT_EQ(Say("SETR 1 2 0"), "+OK\r\n");
    EXPECT_EQ(Say("REPL 2 0"), "+OK 2 1 \r\n");
    EXPECT_EQ(Say("FORW 2 0"), "+OK 2 0 \r\n");
    EXPECT_EQ(Say("SETF 1 3 1"), "+OK\r\n");  // forwarded again: replied goes
    EXPECT_EQ(Say("SETR 1 3 1"), "+OK\r\n");
    EXPECT_EQ(Say("FORW 3 1"), "+OK 3 0 \r\n");
    EXPECT_EQ(Say("REPL 3 1"), "+OK 3 1 \r\n");
    EXPECT_EQ(Say("SETE 0 2 0"), "+OK\r\n");  // read and replied: stays replied, unread
    EXPECT_EQ(Say("READ 2 0"), "+OK 2 0 \r\n");
    EXPECT_EQ(Say("REPL 2 0"), "+OK 2 1 \r\n");
    EXPECT_EQ(Say("SETE 1 1 0"), "+OK\r\n");
    EXPECT_EQ(Say("READ -1 0"), "+OK 2 1 \r\n");
    EXPECT_EQ(Say("SETR 1 9 0"), "-ERR no this message\r\n");
    EXPECT_EQ(Say("QUIT"), "+OK bye\r\n");
    ASSERT_EQ(services.committed.size(), 1u);
    const auto& messages = services.committed[0].Messages;
    EXPECT_EQ(messages[0].Flags, kFlagRead);
    EXPECT_EQ(messages[0].Changes, kChangeFlags);
    EXPECT_EQ(messages[1].Flags, kFlagReplied);
    EXPECT_EQ(messages[4].Flags, kFlagReplied);
    EXPECT_EQ(messages[2].Changes, 0);
    EXPECT_EQ(services.visits, std::vector<std::string>{"bob"});
}

TEST_F(Pop3MailboxTest, DeletionsAndMovesCommitAtQuit) {
    Login();
    EXPECT_EQ(Say("DELE 1"), "+OK \r\n");
    EXPECT_EQ(Say("MOVE 0 1 2"), "+OK move mail successfully\r\n");
    EXPECT_EQ(Say("MOVE 1 0 1"), "+OK move mail successfully\r\n");
    EXPECT_EQ(Say("LIST 2"), "+OK 2 39\r\n");  // keeps its number until QUIT
    EXPECT_EQ(Say("QUIT"), "+OK bye\r\n");
    EXPECT_EQ(last_step, Pop3Step::kClose);

    Login();
    EXPECT_EQ(Say("UIDL"), "+OK \r\n1 bob.example.com.quorvexserver.13\r\n.\r\n");
    EXPECT_EQ(Say("STAT 1"), "+OK 3 79\r\n");  // 14, 17 and the moved 12
    EXPECT_EQ(Say("ID 1 x.12").substr(0, 3), "+OK");
}

TEST_F(Pop3MailboxTest, RsetAndRetrKeepMessages) {
    Login();
    EXPECT_EQ(Say("DELE 1"), "+OK \r\n");
    EXPECT_EQ(Say("RSET"), "+OK \r\n");
    EXPECT_EQ(Say("DELE 2"), "+OK \r\n");
    Say("RETR 2");  // read after DELE: change bits 3, not deleted
    EXPECT_EQ(Say("QUIT"), "+OK bye\r\n");
    Login();
    EXPECT_EQ(Say("STAT"), "+OK 2 63\r\n");
    EXPECT_EQ(Say("READ 2"), "+OK 2 1 \r\n");
}

TEST_F(Pop3MailboxTest, OtherEndsDropPendingChanges) {
    Login();
    EXPECT_EQ(Say("DELE 1"), "+OK \r\n");
    EXPECT_EQ(Say("LIST 1 7"), "");
    EXPECT_EQ(last_step, Pop3Step::kClose);
    EXPECT_TRUE(services.committed.empty());
}

TEST_F(Pop3MailboxTest, FailedCommitKeepsNothingAndSkipsTheVisit) {
    services.fail_commit = true;
    Login();
    Say("DELE 1");
    EXPECT_EQ(Say("QUIT"), "-ERR update failed\r\n");
    EXPECT_EQ(last_step, Pop3Step::kClose);
    EXPECT_TRUE(services.visits.empty());
    EXPECT_EQ(services.inbox_.size(), 2u);
}

TEST_F(Pop3MailboxTest, RemoteCollectionQueuedOnce) {
    Login();
    EXPECT_EQ(Say("REMOTE POP3"), "+OK \r\n");
    EXPECT_EQ(Say("remote pop3"), "+OK in processing\r\n");
    EXPECT_EQ(services.queued, (std::vector<std::string>{"bob", "bob"}));
}

// Only what changes something is progress: a login, a retrieved, deleted,
// moved or marked message, a queued collection.
TEST_F(Pop3MailboxTest, ProgressIsWhatChangesSomething) {
    const std::pair<const char*, bool> steps[] = {
        {"NOOP", false},       {"USER bob", false},  {"PASS wrong", false},  {"PASS secret", true},
        {"STAT", false},       {"LIST", false},      {"UIDL", false},        {"TOP 1 0", false},
        {"NOOP", false},       {"RSET", false},      {"HELP", false},        {"RETR 9", false},
        {"RETR 1", true},      {"DELE 2", true},     {"DELE 9", false},      {"MOVE 1 0 1", true},
        {"REPL 1 1", false},   {"SETR 1 1 1", true}, {"SETR 1 9 1", false},  {"REMOTE POP3", true},
        {"REMOTE POP3", false},
    };
    Open();
    for (const auto& [line, progress] : steps) {
        const int before = activity.progress;
        Say(line);
        EXPECT_EQ(activity.progress > before, progress) << line;
    }
}

TEST_F(Pop3MailboxTest, RetrSendsStoredBytesOnceWithTheEndOnItsOwnLine) {
    services.AddMessage(0, "Subject: no end\r\n\r\n..stuffed\r\nlast", 30);
    services.AddMessage(0, std::string(4094, 'q') + "\r\n", 31);
    services.AddMessage(0, "", 32);
    Login();
    EXPECT_EQ(Say("RETR 2"), "+OK 39 octets\r\nSubject: two\r\n\r\nline a\r\n..dot\r\nline c\r\n.\r\n");
    EXPECT_EQ(Say("RETR 1 1"), "+OK 21 octets\r\nSubject: three\r\n\r\nx\r\n.\r\n");
    EXPECT_EQ(Say("RETR 3"), "+OK 34 octets\r\nSubject: no end\r\n\r\n..stuffed\r\nlast\r\n.\r\n");
    EXPECT_EQ(Say("RETR 4"), "+OK 4096 octets\r\n" + std::string(4094, 'q') + "\r\n.\r\n");
    EXPECT_EQ(Say("RETR 5"), "+OK 0 octets\r\n.\r\n");
    EXPECT_EQ(Say("READ 1 1"), "+OK 1 1 \r\n");
}

TEST_F(Pop3MailboxTest, UnreadableMessageFileGetsAnErrorAndTheSessionGoesOn) {
    Login();
    std::remove(services.MessagePath("bob", services.inbox_[0].FileNumber).c_str());
    EXPECT_EQ(Say("RETR 1"), "-ERR read mail failed\r\n");
    EXPECT_EQ(Say("TOP 1 0"), "-ERR read mail failed\r\n");
    EXPECT_EQ(last_step, Pop3Step::kContinue);
    EXPECT_EQ(Say("READ 1"), "+OK 1 0 \r\n");  // not marked read
    EXPECT_EQ(Say("RETR 2").substr(0, 14), "+OK 39 octets\r");
}

TEST_F(Pop3MailboxTest, ReceiptsAreMarkedOnRetrieval) {
    settings.EnableReceipt = true;
    Login();
    Say("RETR 1");
    ASSERT_EQ(services.receipts.size(), 1u);
    EXPECT_EQ(services.receipts[0], services.MessagePath("bob", services.inbox_[0].FileNumber));
}

TEST_F(Pop3MailboxTest, TopSendsHeaderAndBodyLines) {
    services.AddMessage(0, "A: 1\r\nB: 2\r\n\r\nl1\r\n..l2\r\nl3", 40);
    Login();
    EXPECT_EQ(Say("TOP 3 0"), "+OK\r\nA: 1\r\nB: 2\r\n\r\n.\r\n");
    EXPECT_EQ(Say("top 3 2"), "+OK\r\nA: 1\r\nB: 2\r\n\r\nl1\r\n..l2\r\n.\r\n");
    EXPECT_EQ(Say("TOP 3 10"), "+OK\r\nA: 1\r\nB: 2\r\n\r\nl1\r\n..l2\r\nl3\r\n.\r\n");
    EXPECT_EQ(Say("EXTOP 2 0 1"), "+OK\r\nSubject: four\r\n\r\n.\r\n");
    EXPECT_EQ(Say("READ 3"), "+OK 3 0 \r\n");  // TOP changes no flag
}

TEST_F(Pop3MailboxTest, BrokenConnectionDuringTransferEndsTheSession) {
    Login();
    out.FailFromNowOn();
    EXPECT_EQ(Say("RETR 1"), "");
    EXPECT_EQ(last_step, Pop3Step::kClose);
}

TEST_F(Pop3MailboxTest, CorruptCountsNeverReachBeyondTheRecords) {
    // An index whose counts claim more messages than it holds.
    class Lying : public FakeServices {
    public:
        using FakeServices::FakeServices;
        bool LoadMailbox(std::string_view a, Pop3Mailbox& m) override {
            FakeServices::LoadMailbox(a, m);
            m.Counts = {50, 70};
            return true;
        }
    } lying(folder.path());
    lying.accounts["bob"] = {"secret"};
    lying.AddMessage(0, "x\r\n", 1);
    Pop3Session s(lying, out, settings, ConnectionClient("192.0.2.1"));
    s.Start();
    s.OnLine("USER bob");
    s.OnLine("PASS secret");
    out.Take();
    s.OnLine("STAT");
    EXPECT_EQ(out.Take(), "+OK 1 3\r\n");
    s.OnLine("RETR 2");
    EXPECT_EQ(out.Take(), "-ERR no this message\r\n");
    s.OnLine("LIST 0 1");
    EXPECT_EQ(out.Take(), "+OK 0 0\r\n.\r\n");
}

// ---- anti-virus mode ----

class Pop3AntiVirusTest : public Pop3SessionTest {
protected:
    Pop3AntiVirusTest() {
        smtp_folder = folder.File("smtp");
        MakeFolders(smtp_folder);
        settings.AntiVirusEnabled = true;
        settings.GateAddress = "127.0.0.1";
        settings.AntiVirusFolder = smtp_folder;
        message = JoinPath(smtp_folder, "temp_smtp_1.dat");
        AtomicWriteFile(message, "Subject: scan\r\n\r\n..x\r\nend");
        AtomicWriteFile(folder.File("secret.txt"), "top secret\r\n");
    }
    std::string smtp_folder;
    std::string message;
};

TEST_F(Pop3AntiVirusTest, ServesOneFileToTheGateway) {
    Open("127.0.0.1");
    EXPECT_EQ(Say("USER _ANTI_VIRUS"), "+OK\r\n");
    EXPECT_EQ(Say("PASS " + message), "+OK\r\n");
    EXPECT_EQ(Say("STAT"), "+OK 1 25\r\n");
    EXPECT_EQ(Say("LIST"), "+OK 1 25\r\n1 25\r\n.\r\n");
    EXPECT_EQ(Say("LIST 1"), "+OK 1 25\r\n");
    EXPECT_EQ(Say("RETR 1"), "+OK 25 octets\r\nSubject: scan\r\n\r\n..x\r\nend\r\n.\r\n");
    EXPECT_EQ(Say("QUIT"), "+OK\r\n");
    EXPECT_EQ(last_step, Pop3Step::kClose);
}

TEST_F(Pop3AntiVirusTest, GatewayByNameMustResolveToTheClient) {
    settings.GateAddress = "scanner.local";
    services.hosts["scanner.local"] = "192.0.2.50";
    Open("192.0.2.50");
    EXPECT_EQ(Say("USER _anti_virus"), "+OK\r\n");
    Open("192.0.2.51");
    EXPECT_EQ(Say("USER _ANTI_VIRUS"), "-ERR illegal connection\r\n");
    EXPECT_EQ(last_step, Pop3Step::kClose);
}

TEST_F(Pop3AntiVirusTest, RefusedWhereItWouldExposeTheHost) {
    // Another client address.
    Open("192.0.2.9");
    EXPECT_EQ(Say("USER _ANTI_VIRUS"), "-ERR illegal connection\r\n");
    EXPECT_EQ(last_step, Pop3Step::kClose);
    // Paths outside the queue folder, also through "..".
    for (const std::string& path : {folder.File("secret.txt"), smtp_folder + "/../secret.txt",
                                    std::string("/etc/passwd"), smtp_folder, smtp_folder + "/missing"}) {
        SCOPED_TRACE(path);
        Open("127.0.0.1");
        Say("USER _ANTI_VIRUS");
        EXPECT_EQ(Say("PASS " + path), "-ERR the password incorrect\r\n");
        EXPECT_EQ(last_step, Pop3Step::kClose);
    }
    // Hand-off switched off: the name is an unknown user like any other.
    settings.AntiVirusEnabled = false;
    Open("127.0.0.1");
    EXPECT_EQ(Say("USER _ANTI_VIRUS"), "+OK welcome here\r\n");
    EXPECT_EQ(Say("PASS " + message), "-ERR the password incorrect\r\n");
    EXPECT_EQ(Say("STAT"), "-ERR unknown command\r\n");
}

TEST_F(Pop3AntiVirusTest, FixedDialogueEndsOnAnyOtherLine) {
    const std::vector<std::vector<std::string>> scripts = {
        {"USER _ANTI_VIRUS", "USER x"},
        {"USER _ANTI_VIRUS", "PASS " + message, "stat"},
        {"USER _ANTI_VIRUS", "PASS " + message, "STAT", "UIDL"},
        {"USER _ANTI_VIRUS", "PASS " + message, "STAT", "LIST", "RETR 2"},
    };
    for (const auto& script : scripts) {
        Open("127.0.0.1");
        for (const auto& line : script) Say(line);
        EXPECT_EQ(last_step, Pop3Step::kClose) << script.back();
    }
}

}  // namespace
}  // namespace quorvex::pop3
