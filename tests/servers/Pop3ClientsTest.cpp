// The POP3 server on a loopback port against mail clients nobody here
// wrote: Python's poplib, curl, fetchmail and getmail. Messages must arrive
// byte for byte as they were stored (after the client undoes the stuffing).
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <filesystem>

#include "mailmodel/OdbcTestSupport.h"
#include "mailmodel/db/MailDatabase.h"
#include "mailmodel/db/Odbc.h"
#include "servers/filters/VirusScan.h"
#include "tests/servers/support/Pop3TestServer.h"

namespace quorvex::pop3 {
namespace {

using testing::Pop3TestServer;

const std::string kFirst =
    "From: alice@example.org\r\nTo: bob@example.com\r\nSubject: first\r\nMessage-ID: <m1@example.org>\r\n\r\n"
    "Hello Bob.\r\n..a line starting with a dot\r\n...two dots\r\n\r\nBye.\r\n";
const std::string kSecond =
    "From: carol@example.org\r\nTo: bob@example.com\r\nSubject: second\r\nMessage-ID: <m2@example.org>\r\n\r\n" +
    std::string(5000, 'x') + "\r\nend\r\n";

// The message as a client shows it: one dot taken off stuffed lines.
std::string Unstuffed(const std::string& stored) {
    std::string out;
    std::size_t at = 0;
    while (at < stored.size()) {
        std::size_t end = stored.find("\r\n", at);
        end = end == std::string::npos ? stored.size() : end + 2;
        std::string line = stored.substr(at, end - at);
        if (!line.empty() && line[0] == '.') line.erase(0, 1);
        out += line;
        at = end;
    }
    return out;
}

std::string WithLf(std::string text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    return out;
}

class Pop3ClientsTest : public ::testing::Test {
protected:
    Pop3ClientsTest() {
        server.AddAccount("bob", "secret");
        server.Store("bob", kFirst);
        server.Store("bob", kSecond);
        server.Start();
    }
    Pop3TestServer server;
};

TEST_F(Pop3ClientsTest, PythonPoplibDialogue) {
    const char* script = R"PY(
import poplib, sys
poplib._MAXLINE = 1 << 20
p = poplib.POP3('127.0.0.1', int(sys.argv[1]), timeout=20)
out = []
out.append(p.getwelcome().decode())
try:
    p.capa(); out.append('capa ok')
except poplib.error_proto as e:
    out.append('capa refused')
p.user('bob'); p.pass_('secret')
out.append(repr(p.stat()))
resp, lines, _ = p.list(); out.append(repr(lines))
resp, lines, _ = p.uidl(); out.append(repr(lines))
resp, lines, _ = p.top(1, 0); out.append(repr(lines))
for n in (1, 2):
    resp, lines, _ = p.retr(n)
    sys.stdout.buffer.write(b'\r\n'.join(lines) + b'\r\n' + b'<END>\n')
p.dele(1); p.rset(); p.dele(2)
out.append(p.quit().decode())
p = poplib.POP3('127.0.0.1', int(sys.argv[1]), timeout=20)
p.user('bob'); p.pass_('secret'); out.append(repr(p.stat())); p.quit()
try:
    p = poplib.POP3('127.0.0.1', int(sys.argv[1]), timeout=20)
    p.user('bob'); p.pass_('wrong')
except poplib.error_proto as e:
    out.append(str(e))
print('\n'.join(out))
)PY";
    const CommandResult result = server.Python(script);
    ASSERT_EQ(result.exit_status, 0) << result.output;
    const std::string& text = result.output;
    const std::size_t first_end = text.find("<END>\n");
    ASSERT_NE(first_end, std::string::npos);
    EXPECT_EQ(text.substr(0, first_end), Unstuffed(kFirst));
    const std::size_t second_end = text.find("<END>\n", first_end + 6);
    ASSERT_NE(second_end, std::string::npos);
    EXPECT_EQ(text.substr(first_end + 6, second_end - first_end - 6), kSecond);
    const std::string summary = text.substr(second_end + 6);
    const std::string uid1 = "bob.example.com.quorvexserver.";
    EXPECT_EQ(summary,
              "+OK QuorvexServer 5.3 POP3 Service Ready\n"
              "capa refused\n"
              "(2, " + std::to_string(kFirst.size() + kSecond.size()) + ")\n"
              "[b'1 " + std::to_string(kFirst.size()) + "', b'2 " + std::to_string(kSecond.size()) + "']\n"
              "[b'1 " + uid1 + "1', b'2 " + uid1 + "2']\n"
              "[b'From: alice@example.org', b'To: bob@example.com', b'Subject: first', "
              "b'Message-ID: <m1@example.org>', b'']\n"
              "+OK bye\n"
              "(1, " + std::to_string(kFirst.size()) + ")\n"
              "b'-ERR the password incorrect'\n");
    // QUIT stored the visit time in the account's settings.
    ProfileFile::ClearCache();
    const std::string stamp =
        ReadProfileString(server.home().File("mail/bob/maillist.ini"), "System", "TimeStamp");
    ASSERT_EQ(stamp.size(), 19u) << stamp;
    EXPECT_EQ(stamp.substr(4, 1) + stamp.substr(7, 1) + stamp.substr(13, 1), "//:");
}

TEST_F(Pop3ClientsTest, CurlListsAndRetrieves) {
    const std::string url = "pop3://127.0.0.1:" + std::to_string(server.port()) + "/";
    const CommandResult list = ::quorvex::RunCommand({"curl", "-s", "--max-time", "20", "-u", "bob:secret", url});
    ASSERT_EQ(list.exit_status, 0);
    EXPECT_EQ(list.output, "1 " + std::to_string(kFirst.size()) + "\r\n2 " + std::to_string(kSecond.size()) + "\r\n");
    const CommandResult first = ::quorvex::RunCommand({"curl", "-s", "--max-time", "20", "-u", "bob:secret", url + "1"});
    ASSERT_EQ(first.exit_status, 0);
    EXPECT_EQ(first.output, Unstuffed(kFirst));
    const CommandResult refused = ::quorvex::RunCommand({"curl", "-s", "--max-time", "20", "-u", "bob:nope", url + "1"});
    EXPECT_NE(refused.exit_status, 0);
}

TEST_F(Pop3ClientsTest, FetchmailDeliversEveryMessageOnceAndDeletes) {
    const std::string out_folder = server.home().File("fetched");
    MakeFolders(out_folder);
    const std::string rc = server.home().File("fetchmailrc");
    AtomicWriteFile(rc, "poll 127.0.0.1 protocol pop3 port " + std::to_string(server.port()) +
                            " no uidl\n  user bob password secret is root here nokeep fetchall sslproto ''\n"
                            "  mda \"/bin/sh -c 'cat > " + out_folder + "/msg.$$'\"\n",
                    0600);
    const CommandResult run = ::quorvex::RunCommand({"fetchmail", "--nodetach", "--nosyslog", "-s", "-f", rc, "--pidfile",
                                          server.home().File("fetchmail.pid"), "--idfile",
                                          server.home().File("fetchids")});
    ASSERT_EQ(run.exit_status, 0) << run.output;
    std::vector<std::string> saved;
    for (const auto& entry : std::filesystem::directory_iterator(out_folder)) {
        std::string text;
        ReadWholeFile(entry.path().string(), text);
        saved.push_back(text);
    }
    ASSERT_EQ(saved.size(), 2u);
    // fetchmail adds its own Received line on top and hands LF lines on.
    int found = 0;
    for (const std::string& text : saved) {
        for (const std::string& original : {kFirst, kSecond}) {
            const std::string want = WithLf(Unstuffed(original));
            if (text.size() >= want.size() && text.compare(text.size() - want.size(), want.size(), want) == 0) ++found;
        }
    }
    EXPECT_EQ(found, 2);
    // nokeep: the mailbox is empty afterwards.
    EXPECT_EQ(GetMailboxMessageCount("bob"), 0);
}

TEST_F(Pop3ClientsTest, GetmailFillsAMaildir) {
    // getmail refuses to deliver as root: it runs as "nobody" in a folder
    // of its own.
    testing::TempFolder work;
    ::chmod(work.path().c_str(), 0755);
    const std::string maildir = work.File("Maildir");
    for (const char* sub : {"new", "cur", "tmp"}) MakeFolders(JoinPath(maildir, sub), 0755);
    const std::string rc_folder = work.File("getmail");
    MakeFolders(rc_folder, 0755);
    AtomicWriteFile(JoinPath(rc_folder, "getmailrc"),
                    "[retriever]\ntype = SimplePOP3Retriever\nserver = 127.0.0.1\nport = " +
                        std::to_string(server.port()) + "\nusername = bob\npassword = secret\n\n"
                        "[destination]\ntype = Maildir\npath = " + maildir + "/\n\n"
                        "[options]\nread_all = false\ndelete = false\ndelivered_to = false\nreceived = false\n"
                        "message_log_syslog = false\nverbose = 0\n", 0644);
    ::quorvex::RunCommand({"chown", "-R", "nobody:nogroup", work.path()});
    // getmail forks for each delivery and only then installs the SIGCHLD
    // handler it waits on: a child that exits first (a busy machine) leaves
    // it waiting out its whole time-out, or failing inside the handler. Its
    // wait is replaced by a plain waitpid; the POP3 side is getmail's own.
    const std::string run_getmail =
        "import os, runpy, shutil, sys\n"
        "from getmailcore import baseclasses\n"
        "from getmailcore.exceptions import getmailOperationError\n"
        "def wait_for_child(self, pid):\n"
        "    _, status = os.waitpid(pid, 0)\n"
        "    if not os.WIFEXITED(status):\n"
        "        raise getmailOperationError('child %d did not exit' % pid)\n"
        "    return os.WEXITSTATUS(status)\n"
        "baseclasses.ForkingBase._prepare_child = lambda self: None\n"
        "baseclasses.ForkingBase._wait_for_child = wait_for_child\n"
        "sys.argv[0] = shutil.which('getmail')\n"
        "runpy.run_path(sys.argv[0], run_name='__main__')\n";
    const std::vector<std::string> getmail = {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                              "/usr/bin/python3", "-c", run_getmail, "--getmaildir", rc_folder,
                                              "--rcfile", "getmailrc"};
    const CommandResult run = ::quorvex::RunCommand(getmail);
    ASSERT_EQ(run.exit_status, 0) << run.output;
    std::vector<std::string> saved;
    for (const auto& entry : std::filesystem::directory_iterator(JoinPath(maildir, "new"))) {
        std::string text;
        ReadWholeFile(entry.path().string(), text);
        saved.push_back(text);
    }
    ASSERT_EQ(saved.size(), 2u);
    std::sort(saved.begin(), saved.end(), [](const std::string& a, const std::string& b) { return a.size() < b.size(); });
    // getmail puts a Return-Path line first and stores LF lines.
    for (std::size_t i = 0; i < 2; ++i) {
        const std::string want = WithLf(Unstuffed(i == 0 ? kFirst : kSecond));
        EXPECT_NE(saved[i].find(want), std::string::npos) << saved[i];
    }
    // Messages are kept, and getmail's own unique-id memory (our UIDL) makes
    // a second run fetch nothing new.
    EXPECT_EQ(GetMailboxMessageCount("bob"), 2);
    ASSERT_EQ(::quorvex::RunCommand(getmail).exit_status, 0);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(JoinPath(maildir, "new")),
                            std::filesystem::directory_iterator()),
              2);
}

// A raw POP3 conversation: one command, one reply line (or a whole
// multi-line reply when `multi` is set).
class RawPop3 {
public:
    explicit RawPop3(int port) : fd_(testing::ConnectLoopback(port)) { Line(); }
    std::string Say(const std::string& command, bool multi = false) {
        const std::string line = command + "\r\n";
        ::send(fd_.get(), line.data(), line.size(), MSG_NOSIGNAL);
        std::string reply = Line();
        if (multi) {
            for (std::string next; (next = Line()) != ".\r\n" && !next.empty();) reply += next;
        }
        return reply;
    }

private:
    std::string Line() {
        std::string line;
        char c;
        while (::recv(fd_.get(), &c, 1, 0) == 1) {
            line += c;
            if (c == '\n') break;
        }
        return line;
    }
    UniqueFd fd_;
};

TEST_F(Pop3ClientsTest, TwoSessionsOfOneMailboxLoseAndDuplicateNothing) {
    RawPop3 a(server.port()), b(server.port());
    for (RawPop3* s : {&a, &b}) {
        s->Say("USER bob");
        ASSERT_EQ(s->Say("PASS secret"), "+OK \r\n");
    }
    EXPECT_EQ(a.Say("DELE 1"), "+OK \r\n");
    EXPECT_EQ(b.Say("DELE 2"), "+OK \r\n");
    const std::string index = server.home().File("mail/bob/mailinfo.dat");
    std::string older;
    ASSERT_TRUE(ReadWholeFile(index, older));
    // Mail arriving meanwhile is not listed in the open sessions...
    server.Store("bob", "Subject: late\r\n\r\nlate\r\n");
    EXPECT_EQ(a.Say("STAT"), "+OK 2 " + std::to_string(kFirst.size() + kSecond.size()) + "\r\n");
    EXPECT_EQ(a.Say("QUIT"), "+OK bye\r\n");
    // ...and b, whose copy still lists the message a deleted, is refused it.
    EXPECT_EQ(b.Say("RETR 1"), "-ERR read mail failed\r\n");
    EXPECT_EQ(b.Say("QUIT"), "+OK bye\r\n");
    // Both deletions hold, the late message survives both commits, once.
    RawPop3 c(server.port());
    c.Say("USER bob");
    c.Say("PASS secret");
    EXPECT_EQ(c.Say("LIST", true), "+OK 1 23\r\n1 23\r\n");
    EXPECT_EQ(c.Say("TOP 1 0", true), "+OK\r\nSubject: late\r\n\r\n");
    // The index from before it came put back: its deletion cannot be done, and QUIT says so.
    EXPECT_EQ(c.Say("DELE 1"), "+OK \r\n");
    ASSERT_TRUE(AtomicWriteFile(index, older));
    EXPECT_EQ(c.Say("QUIT"), "-ERR update failed\r\n");
}

// "REMOTE POP3" from the session that takes the last free slot of the job
// table: queuing would wait for a slot forever, so the answer comes at once.
TEST(Pop3RemoteCommandTest, FullJobTableAnswersAtOnce) {
    Pop3TestServer server;
    server.AddAccount("bob", "secret");
    std::mutex gate_lock;
    std::condition_variable gate;
    bool open = false;
    const auto open_gate = [&] {
        {
            std::lock_guard lock(gate_lock);
            open = true;
        }
        gate.notify_all();
    };
    // However the test ends, the blocked jobs are let go before the table stops.
    struct Opener {
        std::function<void()> run;
        ~Opener() { run(); }
    } opener{open_gate};
    std::atomic<int> collections{0};
    server.Start([&](JobTable& jobs, Pop3Server&) {
        jobs.SetHandler(JOB_SMTP, [&](Job&) {
            std::unique_lock lock(gate_lock);
            gate.wait(lock, [&] { return open; });
        });
        jobs.SetHandler(JOB_REMOTE_POP3, [&](Job&) { ++collections; });
    });
    for (int i = 0; i < kJobSlotCount - 1; ++i) {
        JobRequest request;
        request.kind = JOB_SMTP;
        ASSERT_GE(server.jobs().EnqueueJob(request), 0);
    }
    ASSERT_TRUE(testing::WaitUntil([&] { return server.jobs().ActiveJobCount() == kJobSlotCount - 1; }));
    {
        RawPop3 session(server.port());
        session.Say("USER bob");
        ASSERT_EQ(session.Say("PASS secret"), "+OK \r\n");
        EXPECT_EQ(session.Say("REMOTE POP3"), "+OK in processing\r\n");
        open_gate();
        ASSERT_TRUE(testing::WaitUntil([&] { return server.jobs().ActiveJobCount() == 1; }));
        EXPECT_EQ(session.Say("REMOTE POP3"), "+OK \r\n");
        EXPECT_EQ(session.Say("QUIT"), "+OK bye\r\n");
    }
    EXPECT_TRUE(testing::WaitUntil([&] { return collections.load() == 1; }));
}

// The scan client's hand-off with this server standing in for the gateway:
// the server hands the queued file out in anti-virus mode and the client
// writes back exactly what it got.
TEST(Pop3AntiVirusHandOffTest, QueuedFileMakesTheRoundTripUnchanged) {
    Pop3TestServer server("[AntiVirus]\r\nEnable=1\r\nGateAddress=127.0.0.1\r\n");
    server.Start();
    UpdateSettings([&](CServerSettings& s) { s.GatePort = server.port(); });
    const std::string message = server.home().File("smtp/temp_smtp_7.dat");
    const std::string text = "Subject: scan me\r\n\r\n..stuffed\r\nno line end at the end";
    AtomicWriteFile(message, text);
    ScanMailForViruses(message, *Settings());
    std::string after;
    ASSERT_TRUE(ReadWholeFile(message, after));
    EXPECT_EQ(after, text + "\r\n");  // the end line needs a line of its own
    // A file outside the queue folder is never handed out (if it were, it
    // would come back with a line end added).
    const std::string secret = server.home().File("secret.txt");
    AtomicWriteFile(secret, "top secret");
    ScanMailForViruses(secret, *Settings());
    std::string unchanged;
    ReadWholeFile(secret, unchanged);
    EXPECT_EQ(unchanged, "top secret");
}

TEST(Pop3ReceiptsTest, RetrievalMarksTheReceiptRead) {
    Pop3TestServer server("EnableReceipt=1\r\n");
    testing::OdbcConfig odbc("");  // no data source: the program's SQLite file
    ASSERT_TRUE(CreateMailDatabase(std::string(QUORVEX_SOURCE_DIR) + "/data/schema.sql", {}));
    {
        db::Connection connection;
        ASSERT_TRUE(OpenMailDatabase(connection, {}));
        for (const char* account : {"bob@example.com", "Bob <bob@example.com>", "carol@example.com"}) {
            ASSERT_TRUE(connection.Execute("insert into receipts (messageid, account) values (?, ?)",
                                           {std::string("m1@example.org"), std::string(account)}));
        }
    }
    server.AddAccount("bob", "secret");
    server.Store("bob", kFirst);
    server.Start();
    const CommandResult run = server.Python(R"PY(
import poplib, sys
p = poplib.POP3('127.0.0.1', int(sys.argv[1]), timeout=20)
p.user('bob'); p.pass_('secret'); p.retr(1); p.quit()
)PY");
    ASSERT_EQ(run.exit_status, 0);
    db::Connection connection;
    ASSERT_TRUE(OpenMailDatabase(connection, {}));
    std::vector<db::Row> rows;
    ASSERT_TRUE(connection.Query("select account, mailisread from receipts order by account", {}, rows));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(*rows[0][0] + "=" + *rows[0][1], "Bob <bob@example.com>=1");
    EXPECT_EQ(*rows[1][0] + "=" + *rows[1][1], "bob@example.com=1");
    EXPECT_EQ(*rows[2][0] + "=" + *rows[2][1], "carol@example.com=0");
}

}  // namespace
}  // namespace quorvex::pop3
