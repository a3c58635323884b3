// The SMTP client against scripted servers on loopback: reply forms,
// refusals at each step, a server that speaks during the data, and a host
// that accepted the data but never answered QUIT.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <fstream>

#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/ServerSettings.h"
#include "servers/outgoing/DomainDelivery.h"
#include "servers/outgoing/SmtpClientSession.h"
#include "tests/servers/support/LoopbackPeer.h"
#include "tests/servers/support/SmtpPeer.h"
#include "tests/support/TempFolder.h"
#include "tests/support/ScopedProcessState.h"

namespace quorvex::outgoing {
namespace {

using quorvex::testing::LoopbackPeer;
using quorvex::testing::RunFlagScope;

// Reads command lines and answers each from `answers` (in order); the data
// after 354 is read up to "\r\n.\r\n" into `data`.
void Converse(int fd, const std::vector<std::string>& answers, std::string* data = nullptr) {
    bool after_data = false;  // the answer to the data follows the data, not a command
    for (const std::string& answer : answers) {
        std::string line;
        if (!after_data && !LoopbackPeer::ReadLine(fd, line)) return;
        after_data = false;
        if (answer.empty()) return;  // hang up without answering
        LoopbackPeer::Send(fd, answer);
        if (answer.rfind("354", 0) == 0) {
            std::string text;
            while (text.size() < 5 || text.compare(text.size() - 5, 5, "\r\n.\r\n") != 0) {
                if (!LoopbackPeer::ReadLine(fd, line)) return;
                text += line;
            }
            if (data != nullptr) *data = text;
            after_data = true;
        }
    }
}

class SmtpClientSessionTest : public ::testing::Test {
protected:
    SmtpClientOptions Options() {
        SmtpClientOptions options;
        options.timeouts = {100, 30};
        return options;
    }
    std::string WriteMessage(const std::string& bytes) {
        const std::string path = folder.File("m.eml");
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    RunFlagScope run;
    quorvex::testing::TempFolder folder;
};

TEST_F(SmtpClientSessionTest, DialogueOutcomes) {
    struct Case {
        const char* name;
        std::vector<std::string> answers;  // greeting first
        bool opened;
        bool sent;
        std::string last_response;
    };
    const std::vector<Case> cases{
        {"multi-line greeting", {"220-first\r\n220-second\r\n220 last\r\n", "250 hi\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n", "250 queued\r\n"}, true, true, ""},
        {"refused greeting", {"554 go away\r\n"}, false, false, "554 go away"},
        {"251 to RCPT fails", {"220 x\r\n", "250 hi\r\n", "250 ok\r\n", "251 forwarded\r\n"}, true, false, "251 forwarded"},
        {"refused sender", {"220 x\r\n", "250 hi\r\n", "553 no such sender\r\n"}, true, false, "553 no such sender"},
        {"hang-up after DATA", {"220 x\r\n", "250 hi\r\n", "250 ok\r\n", "250 ok\r\n", ""}, true, false, "WSAETIMEDOUT"},
        {"multi-line refusal", {"220 x\r\n", "250 hi\r\n", "250 ok\r\n", "550-no\r\n550 really\r\n"}, true, false, "550-no\r\n550 really"},
    };
    for (const Case& c : cases) {
        LoopbackPeer peer([&](int fd) {
            LoopbackPeer::Send(fd, c.answers[0]);
            Converse(fd, std::vector<std::string>(c.answers.begin() + 1, c.answers.end()));
        });
        SmtpClientSession session(Options());
        const bool opened = session.Open("127.0.0.1", peer.port(), "quorvex.test");
        EXPECT_EQ(opened, c.opened) << c.name;
        if (opened) {
            EXPECT_EQ(session.SendMessage(WriteMessage("Subject: x\r\n\r\nx\r\n"), "a@b.test", "c@d.test"), c.sent)
                << c.name;
        }
        if (!c.last_response.empty()) {
            EXPECT_EQ(session.LastResponse(), c.last_response) << c.name;
        }
        session.Close();
    }
}

TEST_F(SmtpClientSessionTest, ServerSpeakingDuringDataAbortsTheTransfer) {
    LoopbackPeer peer([](int fd) {
        LoopbackPeer::Send(fd, "220 x\r\n");
        Converse(fd, {"250 hi\r\n", "250 ok\r\n", "250 ok\r\n"});
        std::string line;
        LoopbackPeer::ReadLine(fd, line);  // DATA
        LoopbackPeer::Send(fd, "354 go\r\n");
        std::string some;
        LoopbackPeer::ReadExactly(fd, some, 1000);
        LoopbackPeer::Send(fd, "552 too big\r\n");
        while (LoopbackPeer::ReadExactly(fd, some, 4096)) {
        }
    });
    std::string big = "Subject: big\r\n\r\n";
    while (big.size() < 8 * 1024 * 1024) big += std::string(998, 'y') + "\r\n";
    SmtpClientSession session(Options());
    ASSERT_TRUE(session.Open("127.0.0.1", peer.port(), "q"));
    EXPECT_FALSE(session.SendMessage(WriteMessage(big), "a@b.test", "c@d.test"));
    EXPECT_EQ(session.LastResponse(), "552 too big");
    session.Close();
}

// The first host accepts the data and then hangs up instead of answering
// QUIT: the message is delivered, and the second host never hears of it.
TEST_F(SmtpClientSessionTest, AcceptedDataWithoutQuitReplyIsDeliveredOnce) {
    quorvex::testing::ScopedProcessState process_state;
    std::string received;
    std::mutex mutex;
    LoopbackPeer server([&](int fd) {
        LoopbackPeer::Send(fd, "220 x\r\n");
        std::string data;
        Converse(fd, {"250 hi\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n", "250 queued\r\n", ""}, &data);
        std::lock_guard guard(mutex);
        received += data;
    }, LoopbackPeer::Serving::kEveryConnection);
    int dns_port = 0;
    const auto dns = quorvex::testing::StartMxDnsmasq(dns_port, {"dup.test,127.0.0.1,10", "dup.test,localhost,20"});
    ASSERT_TRUE(dns) << "dnsmasq did not start";
    SetProgramFolder(folder.path());
    ProfileFile::ClearCache();
    UpdateSettings([&](CServerSettings& s) {
        s = CServerSettings{};
        s.SetProgramFolder(folder.path());
        s.Dominame = "quorvex.test";
        s.DNS = "127.0.0.1";
        s.DNSSecondary = "127.0.0.1";
    });
    auto options = DeliveryOptionsFromSettings(Settings());
    options.smtp_port = server.port();
    options.dns_port = dns_port;
    options.fallback_dns_servers.clear();
    options.client.timeouts = {100, 20};
    std::string outcome;
    EXPECT_EQ(DeliverToDomain("x@dup.test", "a@quorvex.test", WriteMessage("Subject: once\r\n\r\nx\r\n"), outcome, options),
              kDelivered);
    EXPECT_EQ(outcome, "SUCCESS");
    EXPECT_EQ(server.connections(), 1);
    std::lock_guard guard(mutex);
    EXPECT_EQ(received, "Subject: once\r\n\r\nx\r\n.\r\n");
    UpdateSettings([](CServerSettings& s) { s = CServerSettings{}; });
}

}  // namespace
}  // namespace quorvex::outgoing
