// Domain delivery and the SMTP client against a real receiving server
// (aiosmtpd) on loopback addresses, with MX records from a real dnsmasq.
#include <gtest/gtest.h>

#include <fstream>

#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/ServerSettings.h"
#include "servers/outgoing/DomainDelivery.h"
#include "servers/outgoing/SmtpClientText.h"
#include "tests/servers/support/SmtpPeer.h"
#include "tests/support/TempFolder.h"
#include "tests/support/ScopedProcessState.h"

namespace quorvex::outgoing {
namespace {

using quorvex::testing::ReadFileBytes;
using quorvex::testing::RunFlagScope;
using quorvex::testing::SmtpPeer;

TEST(SmtpClientText, RepliesCommandsAndOutcomes) {
    struct Case {
        std::string text;
        std::size_t complete;
    };
    for (const Case& c : std::vector<Case>{{"250 ok\r\n", 8},
                                           {"250 ok", 0},
                                           {"220-one\r\n220-two\r\n", 0},
                                           {"220-one\r\n220 two\r\nextra", 18},
                                           {"250\r\n", 5},
                                           {"", 0}}) {
        EXPECT_EQ(CompleteReplyLength(c.text), c.complete) << c.text;
    }
    EXPECT_EQ(ReplyCode("550 no"), 550);
    EXPECT_EQ(ReplyCode("5x0"), -1);
    EXPECT_EQ(MailFromCommand("a@b.c"), "MAIL FROM:<a@b.c>\r\n");
    EXPECT_EQ(RcptToCommand(""), "RCPT TO:<>\r\n");
    EXPECT_EQ(HostsOfList("mx1.a 20\r\nmx2.a 10\r\n\r\nsolo"), (std::vector<std::string>{"mx1.a", "mx2.a", "solo"}));
    EXPECT_EQ(FailureOutcome("550 no", "a.test", "mx 10"), "550 no: a.test(mx) -\r\nmx 10");
    EXPECT_EQ(FailureResult(HostFailureKind::kTimedOut, "x"), kFailedTemporary);
    EXPECT_EQ(FailureResult(HostFailureKind::kTimedOut, "5x"), kFailedTemporary);
    EXPECT_EQ(FailureResult(HostFailureKind::kAnswer, "550 no: a"), kFailedPermanent);
    EXPECT_EQ(FailureResult(HostFailureKind::kAnswer, "450 later: a"), kFailedTemporary);
    EXPECT_EQ(FailureResult(HostFailureKind::kAnswer, "WSAETIMEDOUT: a"), kFailedTemporary);
    EXPECT_EQ(ImplicitMailHost("[127.0.0.5]"), "127.0.0.5");
    EXPECT_EQ(ImplicitMailHost("example.test"), "example.test");
}

// What goes out for stored text: bare CRs and LFs become CR LF (a dot that
// then begins a line is stuffed), the data ends with one line end and ".".
// Every case is fed whole and cut into single bytes.
TEST(SmtpClientText, DataLineEndsSendOnlyCrLfLines) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ".\r\n"},
        {"a\r\nb\r\n", "a\r\nb\r\n.\r\n"},
        {"a\r\nb", "a\r\nb\r\n.\r\n"},
        {"a\nb\n", "a\r\nb\r\n.\r\n"},
        {"a\rb", "a\r\nb\r\n.\r\n"},
        {"a\r", "a\r\n.\r\n"},
        {"a\r\r\nb", "a\r\n\r\nb\r\n.\r\n"},
        {"a\n\rb", "a\r\n\r\nb\r\n.\r\n"},
        // A dot after a made line end is stuffed; a stored one is kept as it is.
        {"a\r.\r\n", "a\r\n..\r\n.\r\n"},
        {"a\n.b\r\n..c\r\n", "a\r\n..b\r\n..c\r\n.\r\n"},
        {"a\r\n.b", "a\r\n.b\r\n.\r\n"},
        {"x.\r.y", "x.\r\n..y\r\n.\r\n"},
    };
    for (const auto& [stored, sent] : cases) {
        SCOPED_TRACE(::testing::PrintToString(stored));
        std::string whole;
        DataLineEnds one;
        one.Convert(stored, whole);
        one.Finish(whole);
        EXPECT_EQ(whole, sent);
        std::string trickled;
        DataLineEnds bytes;
        for (const char c : stored) bytes.Convert(std::string_view(&c, 1), trickled);
        bytes.Finish(trickled);
        EXPECT_EQ(trickled, sent);
    }
}

class OutgoingPeerTest : public ::testing::Test {
protected:
    quorvex::testing::ScopedProcessState process_state_;  // restored last
    void SetUp() override {
        SetProgramFolder(folder.path());
        ProfileFile::ClearCache();
        UpdateSettings([&](CServerSettings& s) {
            s = CServerSettings{};
            s.SetProgramFolder(folder.path());
            s.LogFilePath = folder.File("log");
            s.Dominame = "quorvex.test";
            s.DNS = "127.0.0.1";
            s.DNSSecondary = "127.0.0.1";
        });
    }
    DomainDeliveryOptions Options(int smtp_port, int dns_port) {
        DomainDeliveryOptions options = DeliveryOptionsFromSettings(Settings());
        options.smtp_port = smtp_port;
        options.dns_port = dns_port;
        options.dns_wait_ms = 500;
        options.fallback_dns_servers.clear();  // never ask anything beyond loopback
        options.client.timeouts = {100, 100};
        return options;
    }
    std::string WriteMessage(const std::string& name, const std::string& bytes) {
        const std::string path = folder.File(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    RunFlagScope run;
    quorvex::testing::TempFolder folder;
};

// Stored (dot-stuffed) text without a final line end; the receiver sees it
// unstuffed with one CR LF added, nothing else.
const std::string kStored = "From: a@quorvex.test\r\nSubject: out\r\n\r\n..leading dot\r\nbody \x80\xff\r\n...\r\nlast";
const std::string kReceived = "From: a@quorvex.test\r\nSubject: out\r\n\r\n.leading dot\r\nbody \x80\xff\r\n..\r\nlast\r\n";

TEST_F(OutgoingPeerTest, MxLookupAndExactBytes) {
    int dns_port = 0;
    const auto dns = quorvex::testing::StartMxDnsmasq(
        dns_port, {"dest.test,127.0.0.3,10", "dest.test,127.0.0.2,20", "solo.test,127.0.0.2,5"});
    ASSERT_TRUE(dns) << "dnsmasq did not start";
    // The first mail exchanger refuses the recipient for good, the second
    // takes the message.
    SmtpPeer refusing("127.0.0.3", 0, folder.File("refusing"), {"--reply", "bob@dest.test=550"});
    ASSERT_TRUE(refusing.started());
    SmtpPeer taking("127.0.0.2", refusing.port(), folder.File("taking"));
    ASSERT_TRUE(taking.started());
    const auto options = Options(refusing.port(), dns_port);

    std::string outcome;
    EXPECT_EQ(DeliverToDomain("Carol@Solo.TEST", "Alice@Quorvex.test", WriteMessage("m1", kStored), outcome, options),
              kDelivered);
    EXPECT_EQ(outcome, "SUCCESS");
    auto received = taking.Messages();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(ReadFileBytes(received[0]), kReceived);
    EXPECT_NE(taking.Envelope(received[0]).find("\"mail_from\": \"alice@quorvex.test\""), std::string::npos);
    EXPECT_NE(taking.Envelope(received[0]).find("carol@solo.test"), std::string::npos);

    // A stored file that ends in CR LF gets no extra line.
    EXPECT_EQ(DeliverToDomain("bob@dest.test", "", WriteMessage("m2", "Subject: two\r\n\r\nok\r\n"), outcome, options),
              kDelivered);
    received = taking.Messages();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(ReadFileBytes(received[1]), "Subject: two\r\n\r\nok\r\n");
    const std::string envelope = taking.Envelope(received[1]);
    EXPECT_TRUE(envelope.find("\"mail_from\": \"\"") != std::string::npos ||
                envelope.find("\"mail_from\": \"<>\"") != std::string::npos)
        << envelope;
    EXPECT_TRUE(refusing.Messages().empty());
}

TEST_F(OutgoingPeerTest, RefusalsPerRecipient) {
    int dns_port = 0;
    const auto dns = quorvex::testing::StartMxDnsmasq(dns_port, {"dest.test,127.0.0.4,10", "dest.test,127.0.0.9,20"});
    ASSERT_TRUE(dns) << "dnsmasq did not start";
    SmtpPeer peer("127.0.0.4", 0, folder.File("peer"),
                  {"--reply", "later@dest.test=450", "--reply", "never@dest.test=550"});
    ASSERT_TRUE(peer.started());
    const auto options = Options(peer.port(), dns_port);
    const std::string message = WriteMessage("m", "Subject: x\r\n\r\nx\r\n");

    struct Case {
        std::string recipient;
        DeliveryResult result;
        std::string outcome_start;
    };
    // 127.0.0.9 listens nowhere: its silence does not hide the refusal.
    for (const Case& c : std::vector<Case>{{"later@dest.test", kFailedTemporary, "450 refused for later@dest.test: dest.test(mx) -\r\n"},
                                           {"never@dest.test", kFailedPermanent, "550 refused for never@dest.test: dest.test(mx)"},
                                           {"no-at-sign", kFailedPermanent, "illegal mail address"}}) {
        std::string outcome;
        EXPECT_EQ(DeliverToDomain(c.recipient, "a@quorvex.test", message, outcome, options), c.result) << c.recipient;
        EXPECT_EQ(outcome.rfind(c.outcome_start, 0), 0u) << outcome;
    }
    EXPECT_TRUE(peer.Messages().empty());

    // Nobody listens at all: a temporary failure naming the host list.
    std::string outcome;
    EXPECT_EQ(DeliverToDomain("x@dest.test", "a@quorvex.test", message, outcome, Options(peer.port() == 1 ? 2 : 1, dns_port)),
              kFailedTemporary);
    EXPECT_EQ(outcome.rfind("WSAETIMEDOUT: dest.test(mx) -\r\n", 0), 0u) << outcome;
    EXPECT_NE(outcome.find("127.0.0.4 10"), std::string::npos);
    EXPECT_NE(outcome.find("127.0.0.9 20"), std::string::npos);
}

TEST_F(OutgoingPeerTest, DomainWithoutMxIsItsOwnMailHost) {
    int dns_port = 0;
    const auto dns = quorvex::testing::StartMxDnsmasq(dns_port, {"other.test,127.0.0.2,10"});
    ASSERT_TRUE(dns) << "dnsmasq did not start";
    SmtpPeer peer("127.0.0.5", 0, folder.File("peer"));
    ASSERT_TRUE(peer.started());
    std::string outcome;
    EXPECT_EQ(DeliverToDomain("x@[127.0.0.5]", "a@quorvex.test", WriteMessage("m", kStored), outcome,
                              Options(peer.port(), dns_port)),
              kDelivered)
        << outcome;
    ASSERT_EQ(peer.Messages().size(), 1u);
    EXPECT_EQ(ReadFileBytes(peer.Messages()[0]), kReceived);
}

TEST_F(OutgoingPeerTest, RelayWithAuthLogin) {
    SmtpPeer relay("127.0.0.1", 0, folder.File("relay"), {"--auth", "relayuser:relay pass"});
    ASSERT_TRUE(relay.started());
    auto use_relay = [&](const std::string& password) {
        UpdateSettings([&](CServerSettings& s) {
            s.MailRelayTo = 1;
            s.RelayServer = "127.0.0.1";
            s.RelayPort = relay.port();
            s.ISPSMTPNeedAuth = 1;
            s.ISPSMTPUserName = "relayuser";
            s.ISPSMTPPassword = password;
        });
    };
    const std::string message = WriteMessage("m", kStored);
    use_relay("relay pass");
    UpdateSettings([](CServerSettings& s) { s.ISPSMTPNeedAuth = 0; });
    std::string outcome;
    // The relay is used whatever the domain; no DNS is asked (port 1 would
    // fail). Without the login this relay refuses the sender.
    EXPECT_NE(DeliverToDomain("x@anywhere.test", "a@quorvex.test", message, outcome, Options(1, 1)), kDelivered);
    EXPECT_EQ(outcome.rfind("530", 0), 0u) << outcome;
    EXPECT_TRUE(relay.Messages().empty());

    use_relay("relay pass");
    EXPECT_EQ(DeliverToDomain("x@anywhere.test", "a@quorvex.test", message, outcome, Options(1, 1)), kDelivered)
        << outcome;
    ASSERT_EQ(relay.Messages().size(), 1u);
    EXPECT_EQ(ReadFileBytes(relay.Messages()[0]), kReceived);
}

}  // namespace
}  // namespace quorvex::outgoing
