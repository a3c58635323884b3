// Against a real Dovecot POP3 server on loopback: the mail-proxy relay of
// "user#host" logins, and remote collection storing each message exactly
// once, honouring leave-a-copy and fetching nothing twice across runs.
#include <gtest/gtest.h>

#include "mailmodel/account/AccountConfig.h"
#include "mailmodel/account/EmailPOP3Remote.h"
#include "servers/address/AddressRules.h"
#include "servers/remotepop3/RemoteCollectionJob.h"
#include "app/ServerSmtpServices.h"
#include "tests/servers/support/DovecotServer.h"
#include "tests/servers/support/Pop3TestServer.h"

namespace quorvex::remotepop3 {
namespace {

using testing::DovecotServer;
using testing::Pop3TestServer;

// Messages as Dovecot holds them (LF lines), and as POP3 clients see them.
std::string Message(int n) {
    return "From: joe@remote.example\nTo: joe@remote.example\nSubject: remote " + std::to_string(n) +
           "\nMessage-ID: <r" + std::to_string(n) + "@remote.example>\n\nline one\n.starts with a dot\n" +
           std::string(static_cast<std::size_t>(n) * 700, 'z') + "\nend\n";
}
std::string AsSeen(const std::string& lf_text) {
    std::string out;
    for (char c : lf_text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

// Reads every message of an account through our POP3 server, in order.
std::vector<std::string> Retrieve(Pop3TestServer& server, const std::string& user, const std::string& password) {
    const CommandResult run = server.Python(R"PY(
import poplib, sys
poplib._MAXLINE = 1 << 20
p = poplib.POP3('127.0.0.1', int(sys.argv[1]), timeout=20)
p.user(sys.argv[2]); p.pass_(sys.argv[3])
count, _ = p.stat()
for n in range(1, count + 1):
    _, lines, _ = p.retr(n)
    sys.stdout.buffer.write(b'\r\n'.join(lines) + b'\r\n\0')
p.quit()
)PY",
                                            {user, password});
    EXPECT_EQ(run.exit_status, 0);
    std::vector<std::string> out;
    std::size_t at = 0;
    for (std::size_t end; (end = run.output.find('\0', at)) != std::string::npos; at = end + 1) {
        out.push_back(run.output.substr(at, end - at));
    }
    return out;
}

TEST(RemotePop3DovecotTest, MailProxyRelaysToDovecot) {
    DovecotServer dovecot("joe", "pw");
    dovecot.AddMessage(Message(1));
    ASSERT_TRUE(dovecot.Start());
    Pop3TestServer server("MailProxy=1\r\n");
    server.Start();
    pop3::Pop3ConnectionOptions options;
    options.relay_port = dovecot.port();
    server.server().set_connection_options(options);

    const CommandResult run = server.Python(R"PY(
import poplib, sys
p = poplib.POP3('127.0.0.1', int(sys.argv[1]), timeout=20)
print(p.getwelcome().decode())
print(p.user('joe#127.0.0.1').decode())
print(p.pass_('pw').decode())
print(p.stat())
_, lines, _ = p.retr(1)
sys.stdout.buffer.write(b'\r\n'.join(lines) + b'\r\n<END>\n')
print(p.quit().decode())
)PY");
    ASSERT_EQ(run.exit_status, 0) << run.output;
    // Our greeting, then Dovecot's own dialogue.
    EXPECT_EQ(run.output.substr(0, run.output.find('\n')), "+OK QuorvexServer 5.3 POP3 Service Ready");
    EXPECT_NE(run.output.find("(1, " + std::to_string(AsSeen(Message(1)).size()) + ")"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find(AsSeen(Message(1)) + "<END>"), std::string::npos);
    EXPECT_NE(run.output.find("+OK Logging out"), std::string::npos) << run.output;
}

class RemoteCollectionTest : public ::testing::Test {
protected:
    RemoteCollectionTest() : dovecot("joe", "pw"), server("") {
        for (int n = 1; n <= 3; ++n) dovecot.AddMessage(Message(n));
        server.AddAccount("bob", "secret");
        smtp::ServerSmtpHooks hooks;
        hooks.classify_address = [](std::string_view address) {
            return ClassifyAddress(address, *Settings(), [](std::string_view name) { return AccountExists(name); });
        };
        delivery = std::make_unique<smtp::ServerSmtpServices>(std::move(hooks), notices, queue);
        wiring.delivery = delivery.get();
        // The remote server is on this host: let the run reach it.
        wiring.is_own_address = [](std::string_view) { return false; };
    }
    // Collection jobs use the wiring below: end them first.
    ~RemoteCollectionTest() override { server.Stop(); }

    void SetBox(bool leave_copy) {
        CEmailPOP3Remote boxes;
        ASSERT_TRUE(boxes.Load("bob"));
        while (boxes.GetCount() > 0) boxes.DeleteMailbox(0);
        RemotePop3Mailbox box;
        box.Enable = 1;
        box.LeaveCopy = leave_copy ? 1 : 0;
        box.POP3Server = "127.0.0.1";
        box.POP3Account = "joe";
        box.POP3Password = "pw";
        ASSERT_TRUE(boxes.AddMailbox(box));
        ASSERT_TRUE(boxes.Save());
    }
    // Starts the remote server; collection runs reach it at its port.
    bool StartDovecot() {
        if (!dovecot.Start()) return false;
        wiring.port_override = dovecot.port();
        return true;
    }
    void Collect() {
        Job job;
        job.kind = JOB_REMOTE_POP3;
        job.account = "bob";
        RunRemoteCollectionJob(job, wiring);
    }

    DovecotServer dovecot;
    Pop3TestServer server;
    NullNoticeSink notices;
    OutgoingQueue queue{ProgramFolder()};
    std::unique_ptr<smtp::ServerSmtpServices> delivery;
    RemoteCollectionWiring wiring;
};

TEST_F(RemoteCollectionTest, EachMessageOnceWithLeaveCopyThenDeleted) {
    ASSERT_TRUE(StartDovecot());
    server.Start();
    wiring.log = &server.server().log();
    SetBox(true);
    Collect();
    std::vector<std::string> got = Retrieve(server, "bob", "secret");
    ASSERT_EQ(got.size(), 3u);
    for (int n = 1; n <= 3; ++n) {
        EXPECT_NE(got[static_cast<std::size_t>(n - 1)].find(AsSeen(Message(n))), std::string::npos) << n;
    }
    EXPECT_EQ(dovecot.MessageCount(), 3);

    // A second run fetches nothing new.
    Collect();
    EXPECT_EQ(GetMailboxMessageCount("bob"), 3);
    EXPECT_EQ(dovecot.MessageCount(), 3);

    // Without leave-a-copy the collected messages go from the remote box,
    // still without being fetched again; a new one is fetched once.
    dovecot.AddMessage(Message(4));
    SetBox(false);
    Collect();
    EXPECT_EQ(GetMailboxMessageCount("bob"), 4);
    EXPECT_EQ(dovecot.MessageCount(), 0);

    // The log names the box's start and end; the password appears nowhere.
    std::string log;
    ReadWholeFile(pop3::Pop3Log::FilePath(server.home().File("log"), std::time(nullptr)), log);
    EXPECT_NE(log.find(" RemotePOP3 bob REMOTE POP3 127.0.0.1 Start\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" RemotePOP3 bob REMOTE POP3 127.0.0.1 END\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("pw"), std::string::npos);
}

TEST_F(RemoteCollectionTest, RemotePop3CommandQueuesTheJob) {
    ASSERT_TRUE(StartDovecot());
    server.Start([this](JobTable& jobs, pop3::Pop3Server& pop3) {
        wiring.log = &pop3.log();
        InstallRemoteCollectionHandler(jobs, wiring);
    });
    SetBox(false);
    const CommandResult run = server.Python(R"PY(
import poplib, sys
p = poplib.POP3('127.0.0.1', int(sys.argv[1]), timeout=20)
p.user('bob'); p.pass_('secret')
print(p._shortcmd('REMOTE POP3').decode())
p.quit()
)PY");
    ASSERT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.output.substr(0, 3), "+OK");
    ASSERT_TRUE(testing::WaitUntil([&] { return dovecot.MessageCount() == 0; }, std::chrono::seconds(20)));
    EXPECT_EQ(GetMailboxMessageCount("bob"), 3);
}

TEST_F(RemoteCollectionTest, WrongPasswordIsLoggedWithoutIt) {
    ASSERT_TRUE(StartDovecot());
    server.Start();
    wiring.log = &server.server().log();
    SetBox(true);
    CEmailPOP3Remote boxes;
    ASSERT_TRUE(boxes.Load("bob"));
    RemotePop3Mailbox box;
    ASSERT_TRUE(boxes.GetMailbox(0, box));
    box.POP3Password = "sesame-wrong";
    ASSERT_TRUE(boxes.SetMailbox(0, box));
    ASSERT_TRUE(boxes.Save());
    Collect();
    EXPECT_EQ(GetMailboxMessageCount("bob"), 0);
    std::string log;
    ReadWholeFile(pop3::Pop3Log::FilePath(server.home().File("log"), std::time(nullptr)), log);
    EXPECT_NE(log.find("bob REMOTE POP3 127.0.0.1 Error -ERR"), std::string::npos) << log;
    EXPECT_EQ(log.find("sesame"), std::string::npos);
}

}  // namespace
}  // namespace quorvex::remotepop3
