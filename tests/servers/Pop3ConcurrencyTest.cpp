// Twenty POP3 clients reading and deleting in one mailbox while the SMTP
// server delivers into it: every message ends up either with a client or
// still in the mailbox, each exactly as it was sent, and none stored twice.
// Sessions of one mailbox each work on the index as it was at their login,
// so a message another client removed meanwhile is refused with "-ERR".
#include <gtest/gtest.h>

#include "common/AccountName.h"
#include "app/ServerSmtpServices.h"
#include "servers/smtp/SmtpConnection.h"
#include "tests/servers/support/Pop3TestServer.h"

namespace quorvex::pop3 {
namespace {

const char* kScript = R"PY(
import poplib, smtplib, sys, threading, email
poplib._MAXLINE = 1 << 20
pop_port, smtp_port, total = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])

def body(i):
    return ('From: alice@example.org\r\nTo: bob@example.com\r\nSubject: n%d\r\nMessage-ID: <c%d@test>\r\n\r\n'
            'first line\r\n.a dotted line\r\n%s\r\nlast\r\n' % (i, i, 'y' * (i * 37 % 3000)))

sent_all = threading.Event()
def sender():
    s = smtplib.SMTP('127.0.0.1', smtp_port, timeout=30)
    for i in range(total):
        s.sendmail('alice@example.org', ['bob@example.com'], body(i).encode())
    s.quit()
    sent_all.set()

lock = threading.Lock()
retrieved = []
bad = []
def reader():
    while True:
        done = sent_all.is_set()
        p = poplib.POP3('127.0.0.1', pop_port, timeout=30)
        p.user('bob'); p.pass_('secret')
        count, _ = p.stat()
        for n in range(1, count + 1):
            try:
                _, lines, _ = p.retr(n)
            except poplib.error_proto:
                continue  # another client took it since this session began
            text = b'\r\n'.join(lines) + b'\r\n'
            mid = email.message_from_bytes(text)['Message-ID']
            i = int(mid[2:-6])
            with lock:
                retrieved.append(i)
                if not text.decode().endswith(body(i)):
                    bad.append(i)
            p.dele(n)
        p.quit()
        if done and count == 0:
            return

threads = [threading.Thread(target=sender)] + [threading.Thread(target=reader) for _ in range(20)]
for t in threads: t.start()
for t in threads: t.join()
print(len(set(retrieved)), len(retrieved), len(bad))
)PY";

TEST(Pop3ConcurrencyTest, TwentyReadersWhileSmtpDelivers) {
    testing::Pop3TestServer server;
    server.AddAccount("bob", "secret");
    NullNoticeSink notices;
    smtp::ServerSmtpHooks hooks;
    hooks.classify_address = [](std::string_view address) {
        const auto at = address.rfind('@');
        if (at == std::string_view::npos) return -1;
        if (!SameName(address.substr(at + 1), Settings()->Dominame)) return 0;
        return Accounts().Exists(address.substr(0, at)) ? 1 : -1;
    };
    int temp_ids = 0;
    std::mutex temp_lock;
    hooks.next_temp_number = [&] {
        std::lock_guard guard(temp_lock);
        return ++temp_ids;
    };
    OutgoingQueue queue(ProgramFolder());
    smtp::ServerSmtpServices smtp_services(std::move(hooks), notices, queue);
    server.Start([&](JobTable& jobs, Pop3Server&) {
        jobs.SetHandler(JOB_SMTP, [&](Job& job) {
            smtp::RunSmtpConnection(job.socket.get(), ConnectionClient(job.client.HostText()), smtp_services);
        });
    });
    CSmtpServer smtp_listener(server.jobs());
    ASSERT_TRUE(testing::OnTestPort([&](int port) { return smtp_listener.Start(port, "127.0.0.1"); }) > 0);

    constexpr int kTotal = 80;
    const CommandResult run =
        server.Python(kScript, {std::to_string(smtp_listener.port()), std::to_string(kTotal)});
    smtp_listener.Stop();
    server.Stop();  // SMTP jobs use smtp_services: end them before it goes
    ASSERT_EQ(run.exit_status, 0) << run.output;
    int distinct = 0, retrievals = 0, bad = 0;
    ASSERT_EQ(std::sscanf(run.output.c_str(), "%d %d %d", &distinct, &retrievals, &bad), 3) << run.output;
    // The readers ended on an empty mailbox after the last delivery: every
    // message was retrieved, exactly as sent, and nothing remains.
    EXPECT_EQ(distinct, kTotal);
    EXPECT_EQ(bad, 0);
    EXPECT_GE(retrievals, kTotal);
    EXPECT_EQ(GetMailboxMessageCount("bob"), 0);
    MailboxSnapshot snapshot;
    ASSERT_TRUE(LoadMailboxIndexLocked("bob", snapshot));
    EXPECT_TRUE(snapshot.Records.empty() || snapshot.Records.front().IsFree());
}

}  // namespace
}  // namespace quorvex::pop3
