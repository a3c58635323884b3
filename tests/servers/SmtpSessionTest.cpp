// The SMTP dialogue without sockets: replies byte for byte, the access and
// relay rules, AUTH LOGIN, the message text as stored, and the end of DATA.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <functional>

#include "common/Base64.h"
#include "servers/smtp/SmtpSession.h"
#include "servers/smtp/SmtpText.h"
#include "servers/support/FakeSmtpServices.h"
#include "support/RecordedActivity.h"
#include "support/TempFolder.h"

namespace quorvex::smtp {
namespace {

using testing::FakeSmtpServices;
using testing::RecordedActivity;
using testing::TempFolder;

constexpr std::string_view kGreeting = "220 ESMTP QuorvexServer 5.3.2005.07.08 SMTP Service Ready\r\n";

struct Step {
    std::string client;  // sent with CR LF appended
    std::string reply;   // expected bytes in answer
};

struct DialogueCase {
    std::string name;
    std::function<void(FakeSmtpServices&)> setup;
    std::vector<Step> steps;
    bool finished;
};

class Harness {
public:
    Harness() : services(folder.path()) {}
    std::string Start(std::string client = "10.1.2.3") {
        const bool web_mail = services.IsWebMailAddress(client);
        session = std::make_unique<SmtpSession>(services, ConnectionClient(std::move(client), web_mail));
        session->SetActivity(activity);
        return session->Start();
    }
    std::string Send(std::string_view bytes) {
        std::string out;
        lines.Append(bytes);
        session->Process(lines, out);
        return out;
    }
    TempFolder folder;
    LineBuffer lines;
    FakeSmtpServices services;
    RecordedActivity activity;
    std::unique_ptr<SmtpSession> session;
};

void LocalAccounts(FakeSmtpServices& s) {
    s.classes["alice@example.test"] = kAddressLocalAccount;
    s.classes["bob@example.test"] = kAddressLocalAccount;
    s.classes["admin@example.test"] = kAddressLocalAccount;
    s.passwords["alice"] = "secret";
}

TEST(SmtpSession, DialoguesAnswerByteForByte) {
    const std::vector<DialogueCase> cases = {
        {"mail before helo is out of order and goes on", LocalAccounts,
         {{"MAIL FROM:<alice@example.test>", "503 command out of order\r\n"},
          {"NOOP", "503 command out of order\r\n"},
          {"RSET", "503 command out of order\r\n"},
          {"HELO client", "250 welcome here\r\n"},
          {"NOOP", "250 OK\r\n"},
          {"QUIT", "221 SMTP SERVICE CLOSED\r\n"}},
         true},
        {"ehlo lists auth login twice", LocalAccounts,
         {{"EHLO client.test", "250-AUTH=LOGIN\r\n250 AUTH LOGIN\r\n"},
          {"RCPT TO:<bob@example.test>", "503 command out of order\r\n"},
          {"DATA", "503 command out of order\r\n"}},
         false},
        {"helo of 277 characters ends the session", LocalAccounts,
         {{"HELO " + std::string(277, 'h'), "501 computer name is too long\r\n"}},
         true},
        {"helo of 276 characters is fine", LocalAccounts,
         {{"EHLO " + std::string(276, 'h'), "250-AUTH=LOGIN\r\n250 AUTH LOGIN\r\n"}},
         false},
        {"sender of 261 characters ends the session", LocalAccounts,
         {{"HELO c", "250 welcome here\r\n"},
          {"MAIL FROM:<" + std::string(250, 'x') + "@remote.org>", "503 mail address is too long\r\n"}},
         true},
        {"three unknown commands end the session", LocalAccounts,
         {{"HELP", "501 command argument is not acceptable\r\n"},
          {"VRFY x", "501 command argument is not acceptable\r\n"},
          {"EXPN y", "501 command argument is not acceptable\r\n"}},
         true},
        {"empty sender allows one recipient only", LocalAccounts,
         {{"HELO c", "250 welcome here\r\n"},
          {"MAIL FROM:<>", "250 OK\r\n"},
          {"RCPT TO:<alice@example.test>", "250 OK\r\n"},
          {"RCPT TO:<bob@example.test>", "503 spam-reject\r\n"}},
         true},
        {"data without recipient", LocalAccounts,
         {{"HELO c", "250 welcome here\r\n"},
          {"MAIL FROM:<x@remote.org>", "250 OK\r\n"},
          {"DATA", "554 no mail receiver\r\n"},
          {"RSET", "250 OK\r\n"},
          {"RCPT TO:<alice@example.test>", "503 command out of order\r\n"}},
         false},
        {"unknown local sender", LocalAccounts,
         {{"HELO c", "250 welcome here\r\n"},
          {"MAIL FROM:<ghost@example.test>", "550 ghost@example.test is not authorized.(WRONG SENDER MAILADDR)\r\n"}},
         true},
        {"unknown local recipient", LocalAccounts,
         {{"HELO c", "250 welcome here\r\n"},
          {"MAIL FROM:<x@remote.org>", "250 OK\r\n"},
          {"RCPT TO:<ghost@example.test>", "550 ghost@example.test is absent.\r\n"}},
         true},
        {"catch-all takes unknown local users", [](FakeSmtpServices& s) {
             LocalAccounts(s);
             s.settings.EnableCatchAll = 1;
         },
         {{"HELO c", "250 welcome here\r\n"},
          {"MAIL FROM:<x@remote.org>", "250 OK\r\n"},
          {"RCPT TO:<ghost@example.test>", "250 OK\r\n"}},
         false},
        {"short names refused without LocalAbbrv", LocalAccounts,
         {{"HELO c", "250 welcome here\r\n"},
          {"MAIL FROM:<x@remote.org>", "250 OK\r\n"},
          {"RCPT TO:<alice>", "550 alice is absent.\r\n"}},
         true},
        {"short names taken with LocalAbbrv", [](FakeSmtpServices& s) {
             LocalAccounts(s);
             s.settings.LocalAbbrv = 1;
         },
         {{"HELO c", "250 welcome here\r\n"},
          {"MAIL FROM:<x@remote.org>", "250 OK\r\n"},
          {"RCPT TO:<Alice>", "250 OK\r\n"}},
         false},
        {"short names refused with several domains", [](FakeSmtpServices& s) {
             LocalAccounts(s);
             s.settings.LocalAbbrv = 1;
             s.settings.DomainNameType = 1;
         },
         {{"HELO c", "250 welcome here\r\n"},
          {"MAIL FROM:<x@remote.org>", "250 OK\r\n"},
          {"RCPT TO:<alice>", "550 alice is absent.\r\n"}},
         true},
        {"relay refused for a stranger", LocalAccounts,
         {{"HELO c", "250 welcome here\r\n"},
          {"MAIL FROM:<x@remote.org>", "250 OK\r\n"},
          {"RCPT TO:<y@elsewhere.org>",
           "550 x@remote.org relay mail disabled and this mail server requires smtp authentication."
           "(from \"x@remote.org\" to \"y@elsewhere.org\" via \"example.test\") \r\n"}},
         true},
        {"relay allowed for a local sender", LocalAccounts,
         {{"HELO c", "250 welcome here\r\n"},
          {"MAIL FROM:<alice@example.test>", "250 OK\r\n"},
          {"RCPT TO:<y@elsewhere.org>", "250 OK\r\n"}},
         false},
        {"relay allowed with open relay", [](FakeSmtpServices& s) {
             LocalAccounts(s);
             s.settings.OpenRelay = 1;
         },
         {{"HELO c", "250 welcome here\r\n"},
          {"MAIL FROM:<x@remote.org>", "250 OK\r\n"},
          {"RCPT TO:<y@elsewhere.org>", "250 OK\r\n"}},
         false},
        {"permitted address relays as the anonymous sender", [](FakeSmtpServices& s) {
             LocalAccounts(s);
             s.settings.PermittedIPSMTP = "10.9.9.9;10.1.2.3";
         },
         {{"HELO c", "250 welcome here\r\n"},
          {"MAIL FROM:<x@remote.org>", "250 OK\r\n"},
          {"RCPT TO:<y@elsewhere.org>", "250 OK\r\n"},
          {"RCPT TO:<z@elsewhere.org>", "503 spam-reject\r\n"}},
         true},
        {"LAN server forwards nothing", [](FakeSmtpServices& s) {
             LocalAccounts(s);
             s.settings.MailServerModel = 0;
         },
         {{"HELO c", "250 welcome here\r\n"},
          {"MAIL FROM:<alice@example.test>", "250 OK\r\n"},
          {"RCPT TO:<y@elsewhere.org>", "550 it is a LAN mail server and cannot forward mail.\r\n"}},
         true},
        {"model 2 needs a local sender", [](FakeSmtpServices& s) {
             LocalAccounts(s);
             s.settings.MailServerModel = 2;
         },
         {{"HELO c", "250 welcome here\r\n"},
          {"MAIL FROM:<x@remote.org>", "250 OK\r\n"},
          {"RCPT TO:<y@elsewhere.org>", "550 y@elsewhere.org is not local user.\r\n"}},
         true},
        {"model 2 needs the sender's Internet address", [](FakeSmtpServices& s) {
             LocalAccounts(s);
             s.settings.MailServerModel = 2;
         },
         {{"HELO c", "250 welcome here\r\n"},
          {"MAIL FROM:<alice@example.test>", "250 OK\r\n"},
          {"RCPT TO:<y@elsewhere.org>",
           "550 y@elsewhere.org is blocked. You need to set up Internet POP3 mail address in mailbox options.\r\n"}},
         true},
        {"too many recipients", [](FakeSmtpServices& s) {
             LocalAccounts(s);
             s.settings.MaxRcpts = 2;
         },
         {{"HELO c", "250 welcome here\r\n"},
          {"MAIL FROM:<x@remote.org>", "250 OK\r\n"},
          {"RCPT TO:<alice@example.test>", "250 OK\r\n"},
          {"RCPT TO:<bob@example.test>", "250 OK\r\n"},
          {"RCPT TO:<admin@example.test>", "452 too many receiver\r\n"},
          {"RCPT TO:<admin@example.test>", "452 too many receiver\r\n"},
          {"DATA", "354 send the mail data, end with . \r\n"}},
         false},
        {"recipient of 257 characters", LocalAccounts,
         {{"HELO c", "250 welcome here\r\n"},
          {"MAIL FROM:<x@remote.org>", "250 OK\r\n"},
          {"RCPT TO:<" + std::string(245, 'r') + "@example.test>", "503 mail address is too long\r\n"}},
         true},
        {"esmtp demands authentication of local senders", [](FakeSmtpServices& s) {
             LocalAccounts(s);
             s.settings.ESMTP = 1;
         },
         {{"HELO c", "250 welcome here\r\n"},
          {"MAIL FROM:<alice@example.test>",
           "550 alice@example.test esmtp authentication failed and this mail server requires smtp authentication.\r\n"}},
         true},
        {"auth login then relay", LocalAccounts,
         {{"EHLO c", "250-AUTH=LOGIN\r\n250 AUTH LOGIN\r\n"},
          {"AUTH LOGIN", "334 VXNlcm5hbWU6\r\n"},
          {"YWxpY2U=", "334 UGFzc3dvcmQ6\r\n"},  // alice
          {"c2VjcmV0", "235 OK\r\n"},            // secret
          {"MAIL FROM:<alice@example.test>", "250 OK\r\n"},
          {"RCPT TO:<y@elsewhere.org>", "250 OK\r\n"}},
         false},
        {"auth login with the user name on its line", LocalAccounts,
         {{"EHLO c", "250-AUTH=LOGIN\r\n250 AUTH LOGIN\r\n"},
          {"AUTH LOGIN YWxpY2U=", "334 UGFzc3dvcmQ6\r\n"},  // alice
          {"c2VjcmV0", "235 OK\r\n"}},
         false},
        {"auth sender must match mail from", LocalAccounts,
         {{"EHLO c", "250-AUTH=LOGIN\r\n250 AUTH LOGIN\r\n"},
          {"AUTH=LOGIN", "334 VXNlcm5hbWU6\r\n"},
          {"YWxpY2U=", "334 UGFzc3dvcmQ6\r\n"},
          {"c2VjcmV0", "235 OK\r\n"},
          {"MAIL FROM:<bob@example.test>",
           "550 authentication failed: bob@example.test is different from esmtp user alice@example.test.\r\n"}},
         true},
        {"failed auth counts with unknown commands", LocalAccounts,
         {{"EHLO c", "250-AUTH=LOGIN\r\n250 AUTH LOGIN\r\n"},
          {"AUTH LOGIN", "334 VXNlcm5hbWU6\r\n"},
          {"YWxpY2U=", "334 UGFzc3dvcmQ6\r\n"},
          {"d3Jvbmc=", "535 authentication failed\r\n"},
          {"BOGUS", "501 command argument is not acceptable\r\n"},
          {"AUTH LOGIN", "334 VXNlcm5hbWU6\r\n"},
          {"YWxpY2U=", "334 UGFzc3dvcmQ6\r\n"},
          {"d3Jvbmc=", "535 authentication failed\r\n"}},
         true},
        {"auth with a bad base64 user", LocalAccounts,
         {{"HELO c", "250 welcome here\r\n"},
          {"AUTH LOGIN", "334 VXNlcm5hbWU6\r\n"},
          {"!!!", "535 authentication failed(user)\r\n"}},
         true},
        {"auth with a bad base64 password", LocalAccounts,
         {{"HELO c", "250 welcome here\r\n"},
          {"AUTH LOGIN", "334 VXNlcm5hbWU6\r\n"},
          {"YWxpY2U=", "334 UGFzc3dvcmQ6\r\n"},
          {"*", "535 authentication failed(password)\r\n"}},
         true},
        {"addresses with control characters are refused", LocalAccounts,
         {{"HELO c", "250 welcome here\r\n"},
          {"MAIL FROM:<x\r@remote.org>", "501 mail address is not acceptable\r\n"},
          {"MAIL FROM:<x@remote.org>", "250 OK\r\n"},
          {"RCPT TO:<alice@example.test\r[Info]>", "501 mail address is not acceptable\r\n"},
          {"RCPT TO:<alice@example.test>", "250 OK\r\n"}},
         false},
        {"auth before helo", LocalAccounts, {{"AUTH LOGIN", "503 command out of order\r\n"}}, false},
        {"proxy user refused when the proxy is off", LocalAccounts,
         {{"HELO c", "250 welcome here\r\n"},
          {"AUTH LOGIN", "334 VXNlcm5hbWU6\r\n"},
          {"dXNlciNob3N0", "334 UGFzc3dvcmQ6\r\n"},  // user#host
          {"cHc=", "535 mail proxy disabled\r\n"}},
         true},
        {"web-mail helo from a stranger is refused at mail from", LocalAccounts,
         {{"HELO alice:192.0.2.7:1:0", "250 welcome here\r\n"},
          {"MAIL FROM:<alice@example.test>", "550 illegal connection\r\n"}},
         true},
        {"web-mail helo naming no account for its copy is refused before anything is sent",
         [](FakeSmtpServices& s) {
             LocalAccounts(s);
             s.webmail_peers = {"10.1.2.3"};
         },
         {{"HELO ghost:192.0.2.7:1:0", "250 welcome here\r\n"},
          {"MAIL FROM:<alice@example.test>", "550 ghost is absent.\r\n"}},
         true},
        {"web-mail helo naming no account without flags", [](FakeSmtpServices& s) { s.webmail_peers = {"10.1.2.3"}; },
         {{"HELO nosuch:192.0.2.1:0:0", "250 welcome here\r\n"}, {"MAIL FROM:<x@y.org>", "550 nosuch is absent.\r\n"}},
         true},
        {"web-mail helo of an IPv6 end user: the flags come from the end",
         [](FakeSmtpServices& s) {
             LocalAccounts(s);
             s.webmail_peers = {"10.1.2.3"};
         },
         {{"HELO alice:2001:db8::7:0:0", "250 welcome here\r\n"},
          {"MAIL FROM:<alice@example.test>", "250 OK\r\n"},
          {"HELO ghost:::ffff:192.0.2.7:1:0", "250 welcome here\r\n"},
          {"MAIL FROM:<alice@example.test>", "550 ghost is absent.\r\n"}},
         true},
        {"web-mail helo naming the unspecified address is refused",
         [](FakeSmtpServices& s) { s.webmail_peers = {"10.1.2.3"}; },
         {{"HELO alice:::0:0", "250 welcome here\r\n"}, {"MAIL FROM:<x@remote.org>", "550 illegal connection\r\n"}},
         true},
        {"an over-long line is one error, and none of it a command", LocalAccounts,
         {{"NOOP " + std::string(5000, 'x') + "HELO evil", "500 line too long\r\n"},
          {std::string(3069, 'j') + "NOOP", "500 line too long\r\n"},
          {"HELO c", "250 welcome here\r\n"},
          {std::string(3070, 'k'), "500 line too long\r\n"}},
         true},
        {"an over-long line of AUTH LOGIN abandons the login only", LocalAccounts,
         {{"EHLO c", "250-AUTH=LOGIN\r\n250 AUTH LOGIN\r\n"},
          {"AUTH LOGIN", "334 VXNlcm5hbWU6\r\n"},
          {std::string(4000, 'Q'), "500 line too long\r\n"},
          {"MAIL FROM:<x@remote.org>", "250 OK\r\n"}},
         false},
        {"a disabled account does not log in", [](FakeSmtpServices& s) {
             LocalAccounts(s);
             s.disabled.insert("alice");
         },
         {{"EHLO c", "250-AUTH=LOGIN\r\n250 AUTH LOGIN\r\n"},
          {"AUTH LOGIN", "334 VXNlcm5hbWU6\r\n"},
          {"YWxpY2U=", "334 UGFzc3dvcmQ6\r\n"},
          {"c2VjcmV0", "535 authentication failed\r\n"},
          {"MAIL FROM:<x@remote.org>", "250 OK\r\n"},
          {"RCPT TO:<y@elsewhere.org>",
           "550 x@remote.org relay mail disabled and this mail server requires smtp authentication."
           "(from \"x@remote.org\" to \"y@elsewhere.org\" via \"example.test\") \r\n"}},
         true},
        {"a locked address does not log in, right password or not", [](FakeSmtpServices& s) {
             LocalAccounts(s);
             s.locked.insert("10.1.2.3");
         },
         {{"EHLO c", "250-AUTH=LOGIN\r\n250 AUTH LOGIN\r\n"},
          {"AUTH LOGIN", "334 VXNlcm5hbWU6\r\n"},
          {"YWxpY2U=", "334 UGFzc3dvcmQ6\r\n"},
          {"c2VjcmV0", "535 authentication failed\r\n"}},
         false},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        Harness h;
        test.setup(h.services);
        EXPECT_EQ(h.Start(), kGreeting);
        for (const auto& step : test.steps) {
            SCOPED_TRACE(step.client);
            ASSERT_FALSE(h.session->Finished());
            EXPECT_EQ(h.Send(step.client + "\r\n"), step.reply);
        }
        EXPECT_EQ(h.session->Finished(), test.finished);
    }
}

// Every failed AUTH LOGIN is reported with the connection's address, the
// user as given and the outcome; a locked address is not even checked.
TEST(SmtpSession, FailedLoginsAreReported) {
    Harness h;
    LocalAccounts(h.services);
    h.services.disabled.insert("bob");
    h.services.passwords["bob"] = "pw";
    h.services.settings.MaxPasswordTries = 10;
    h.Start("192.0.2.5");
    const auto login = [&](const std::string& user, const std::string& password) {
        return h.Send("AUTH LOGIN\r\n" + Base64Encode(user) + "\r\n" + Base64Encode(password) + "\r\n");
    };
    h.Send("EHLO c\r\n");
    login("alice", "wrong");
    login("nobody@example.test", "x");
    login("bob", "pw");
    login("carl@elsewhere.org", "x");
    EXPECT_EQ(h.services.failed_logins,
              (std::vector<std::string>{"192.0.2.5 alice wrong-password", "192.0.2.5 nobody@example.test unknown-account",
                                        "192.0.2.5 bob disabled", "192.0.2.5 carl@elsewhere.org unknown-account"}));
    // The SMTP log shows each beside the session's other lines.
    EXPECT_NE(std::find(h.services.log.begin(), h.services.log.end(),
                        "192.0.2.5 login failed: service=smtp address=192.0.2.5 account=bob outcome=disabled"),
              h.services.log.end());
    h.services.locked.insert("192.0.2.5");
    EXPECT_EQ(login("alice", "wrong"), "334 VXNlcm5hbWU6\r\n334 UGFzc3dvcmQ6\r\n535 authentication failed\r\n");
    EXPECT_EQ(h.services.failed_logins.size(), 4u);
    // A web-mail front end's login counts against the address its HELO forwards.
    h.services.webmail_peers.push_back("192.0.2.5");
    h.Start("192.0.2.5");
    h.Send("HELO alice:10.9.9.9\r\n");
    login("alice", "wrong");
    EXPECT_EQ(h.services.failed_logins.back(), "10.9.9.9 alice wrong-password");
}

// Client text in the trace header cannot break its lines.
TEST(SmtpSession, HeloTextNeverBreaksTheTraceHeader) {
    Harness h;
    LocalAccounts(h.services);
    h.Start();
    h.Send("HELO evil\rX-Injected yes\r\nMAIL FROM:<x@remote.org>\r\nRCPT TO:<alice@example.test>\r\nDATA\r\n");
    EXPECT_EQ(h.Send("body\r\n.\r\n"), "250 \r\n");
    ASSERT_EQ(h.services.deliveries.size(), 1u);
    const std::string& stored = h.services.deliveries[0].bytes;
    EXPECT_NE(stored.find("Received: from evil?X-Injected yes (unknown [10.1.2.3])\r\n"), std::string::npos);
    EXPECT_EQ(stored.find("\rX"), std::string::npos);
}

TEST(SmtpSession, BlockedClientAndCustomGreeting) {
    Harness h;
    h.services.settings.IPBlockEnable = 1;
    h.services.settings.IPList = {"10.0.0.1-10.0.0.9", "192.168.1.1"};
    EXPECT_EQ(h.Start("10.0.0.5"), "421 10.0.0.5 is blocked by this mail server.\r\n");
    EXPECT_TRUE(h.session->Finished());
    EXPECT_EQ(h.Start("192.168.1.2"), kGreeting);
    EXPECT_EQ(h.Start("192.168.1.1"), "421 192.168.1.1 is blocked by this mail server.\r\n");
    h.services.settings.IPBlockEnable = 0;
    EXPECT_EQ(h.Start("10.0.0.5"), kGreeting);
    h.services.settings.HideWelcomeMessage = 1;
    h.services.settings.WelcomeMessage = "mail.example.test at your service";
    EXPECT_EQ(h.Start(), "220 mail.example.test at your service\r\n");
}

constexpr std::string_view kEnvelope =
    "HELO client.test\r\nMAIL FROM:<x@remote.org>\r\nRCPT TO:<Alice@Example.Test>\r\nDATA\r\n";
constexpr std::string_view kEnvelopeReplies =
    "250 welcome here\r\n250 OK\r\n250 OK\r\n354 send the mail data, end with . \r\n";

TEST(SmtpSession, StoresTheTextBehindATraceHeader) {
    Harness h;
    LocalAccounts(h.services);
    h.Start();
    EXPECT_EQ(h.Send(kEnvelope), kEnvelopeReplies);
    EXPECT_EQ(h.Send("Subject: hi\r\n\r\n..dot stuffed\r\nlast\r\n.\r\n"), "250 \r\n");
    ASSERT_EQ(h.services.deliveries.size(), 1u);
    const auto& d = h.services.deliveries[0];
    EXPECT_EQ(d.recipient, "alice@example.test");
    EXPECT_EQ(d.sender, "x@remote.org");
    EXPECT_EQ(d.tag, "10.1.2.3");
    EXPECT_EQ(d.bytes.rfind("Return-Path: <x@remote.org>\r\nReceived: from client.test (unknown [10.1.2.3])\r\n"
                            "\tby example.test with QuorvexServer 5.3 SMTP; ",
                            0),
              0u);
    EXPECT_EQ(FakeSmtpServices::Body(d.bytes), "Subject: hi\r\n\r\n..dot stuffed\r\nlast\r\n");
    EXPECT_EQ(h.services.auto_replies, (std::vector<std::pair<std::string, std::string>>{{"alice", "x@remote.org"}}));
    // The next transaction starts from HELO state; the temporary file is gone.
    EXPECT_EQ(h.Send("RCPT TO:<bob@example.test>\r\nMAIL FROM:<x@remote.org>\r\n"),
              "503 command out of order\r\n250 OK\r\n");
    // A transaction in progress takes no second sender; after RSET one
    // with another sender begins.
    EXPECT_EQ(h.Send("MAIL FROM:<y@remote.org>\r\n"), "503 command out of order\r\n");
    EXPECT_EQ(h.Send("RSET\r\nMAIL FROM:<y@remote.org>\r\n"), "250 OK\r\n250 OK\r\n");
    EXPECT_TRUE(std::filesystem::is_empty(h.folder.path()));
}

// A message held in memory is written to a spool file for the virus
// scanner, and what the scanner left in the file is what gets delivered.
TEST(SmtpSession, ScannedMessageIsDeliveredAsTheScannerLeftIt) {
    Harness h;
    LocalAccounts(h.services);
    h.services.settings.AntiVirusEnable = 1;
    h.services.scanner = [](const std::string& path) { std::ofstream(path, std::ios::app) << "scanned\r\n"; };
    h.Start();
    h.Send(kEnvelope);
    EXPECT_EQ(h.Send("Subject: hi\r\n\r\nbody\r\n.\r\n"), "250 \r\n");
    ASSERT_EQ(h.services.scanned.size(), 1u);
    ASSERT_EQ(h.services.deliveries.size(), 1u);
    EXPECT_EQ(FakeSmtpServices::Body(h.services.deliveries[0].bytes), "Subject: hi\r\n\r\nbody\r\nscanned\r\n");
    EXPECT_TRUE(std::filesystem::is_empty(h.folder.path()));
}

TEST(SmtpText, ReplyForWriteError) {
    const struct {
        int error;
        std::string_view reply;
    } cases[] = {
        {ENOSPC, "452 insufficient system storage\r\n"}, {EDQUOT, "452 insufficient system storage\r\n"},
        {EIO, "451 file system error\r\n"},              {EACCES, "451 file system error\r\n"},
        {EROFS, "451 file system error\r\n"},            {ENOENT, "451 file system error\r\n"},
        {0, "451 file system error\r\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(ReplyForWriteError(c.error), c.reply) << c.error;
}

// "FromEqualEsmtpUser" compares each transaction's sender with the user the
// session logged in as, and nothing else: a session without AUTH may send
// for anyone the relay rules allow, one transaction after the other.
TEST(SmtpSession, EachTransactionHasItsOwnSender) {
    const std::string auth = "AUTH LOGIN\r\nYWxpY2U=\r\nc2VjcmV0\r\n";  // alice / secret
    const std::vector<DialogueCase> cases = {
        {"unauthenticated: a second sender after a message", LocalAccounts,
         {{std::string(kEnvelope) + "x\r\n.\r\nMAIL FROM:<y@remote.org>", std::string(kEnvelopeReplies) + "250 \r\n250 OK\r\n"},
          {"RCPT TO:<bob@example.test>", "250 OK\r\n"},
          {"DATA", "354 send the mail data, end with . \r\n"},
          {"y\r\n.", "250 \r\n"}},
         false},
        {"unauthenticated: a second sender after RSET", LocalAccounts,
         {{"HELO c\r\nMAIL FROM:<x@remote.org>\r\nRSET\r\nMAIL FROM:<y@remote.org>",
           "250 welcome here\r\n250 OK\r\n250 OK\r\n250 OK\r\n"}},
         false},
        {"authenticated: the sender must be the user", LocalAccounts,
         {{"EHLO c\r\n" + auth + "MAIL FROM:<ALICE@example.test>\r\nRSET\r\nMAIL FROM:<bob@example.test>",
           "250-AUTH=LOGIN\r\n250 AUTH LOGIN\r\n334 VXNlcm5hbWU6\r\n334 UGFzc3dvcmQ6\r\n235 OK\r\n250 OK\r\n250 OK\r\n"
           "550 authentication failed: bob@example.test is different from esmtp user alice@example.test.\r\n"}},
         true},
        {"authenticated: the same name at another domain is another sender", LocalAccounts,
         {{"EHLO c\r\n" + auth + "MAIL FROM:<alice@other.test>",
           "250-AUTH=LOGIN\r\n250 AUTH LOGIN\r\n334 VXNlcm5hbWU6\r\n334 UGFzc3dvcmQ6\r\n235 OK\r\n"
           "550 authentication failed: alice@other.test is different from esmtp user alice@example.test.\r\n"}},
         true},
        {"a failed AUTH changes nothing: still no user to compare with", LocalAccounts,
         {{"EHLO c\r\nAUTH LOGIN\r\nYWxpY2U=\r\nd3Jvbmc=\r\nMAIL FROM:<x@remote.org>",
           "250-AUTH=LOGIN\r\n250 AUTH LOGIN\r\n334 VXNlcm5hbWU6\r\n334 UGFzc3dvcmQ6\r\n535 authentication failed\r\n"
           "250 OK\r\n"}},
         false},
    };
    for (const DialogueCase& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        c.setup(h.services);
        h.Start();
        for (const Step& step : c.steps) EXPECT_EQ(h.Send(step.client + "\r\n"), step.reply) << step.client;
        EXPECT_EQ(h.session->Finished(), c.finished);
    }
}

// A session works with the settings it started with: a change published
// meanwhile applies to the next session, never half-way through a dialogue.
TEST(SmtpSession, WorksWithTheSettingsItStartedWith) {
    Harness h;
    LocalAccounts(h.services);
    h.services.settings.MaxRcpts = 1;
    h.Start();
    h.services.settings.MaxRcpts = 5;
    h.services.settings.MaxPasswordTries = 1;
    EXPECT_EQ(h.Send("HELO c\r\nBOGUS\r\nMAIL FROM:<x@remote.org>\r\nRCPT TO:<alice@example.test>\r\n"
                     "RCPT TO:<bob@example.test>\r\n"),
              "250 welcome here\r\n501 command argument is not acceptable\r\n250 OK\r\n250 OK\r\n452 too many receiver\r\n");
    EXPECT_FALSE(h.session->Finished());

    Harness next;
    LocalAccounts(next.services);
    next.services.settings.MaxRcpts = 5;
    next.Start();
    EXPECT_EQ(next.Send("HELO c\r\nMAIL FROM:<x@remote.org>\r\nRCPT TO:<alice@example.test>\r\n"
                        "RCPT TO:<bob@example.test>\r\n"),
              "250 welcome here\r\n250 OK\r\n250 OK\r\n250 OK\r\n");
}

// The end of the text is only "." CR LF on a line of its own, after a line
// that ended in CR LF: other ways of writing a lone dot stay in the message.
TEST(SmtpSession, OnlyAWholeDotLineEndsTheText) {
    Harness h;
    LocalAccounts(h.services);
    h.Start();
    h.Send(kEnvelope);
    const std::string smuggled =
        "Subject: one\r\n\r\nA\n.\nMAIL FROM:<evil@remote.org>\r\nB\r\n.\nC\n.\r\nRCPT TO:<bob@example.test>\r\nD\r\n.\r\n";
    EXPECT_EQ(h.Send(smuggled), "250 \r\n");
    ASSERT_EQ(h.services.deliveries.size(), 1u);
    EXPECT_EQ(FakeSmtpServices::Body(h.services.deliveries[0].bytes),
              "Subject: one\r\n\r\nA\r\n..\r\nMAIL FROM:<evil@remote.org>\r\nB\r\n..\r\nC\r\n..\r\n"
              "RCPT TO:<bob@example.test>\r\nD\r\n");
}

TEST(SmtpSession, LongLinesAreStoredInPieces) {
    Harness h;
    LocalAccounts(h.services);
    h.Start();
    h.Send(kEnvelope);
    const std::string exact(998, 'a');
    const std::string longer(5000, 'b');
    // A cut line whose rest is a lone dot must not end the text either.
    const std::string cut_dot = std::string(kMaxCommandLine, 'c') + ".";
    // A cut just before a dot: the dot is text, and the stored form keeps
    // it (stuffed), so a reader of the stored message still sees ".b".
    const std::string cut_before_dot = std::string(kMaxCommandLine, 'd') + ".b";
    EXPECT_EQ(h.Send(exact + "\r\n" + longer + "\r\n" + cut_dot + "\r\n" + cut_before_dot + "\r\n.\r\n"),
              "250 \r\n");
    ASSERT_EQ(h.services.deliveries.size(), 1u);
    EXPECT_EQ(FakeSmtpServices::Body(h.services.deliveries[0].bytes),
              exact + "\r\n" + longer.substr(0, kMaxCommandLine) + "\r\n" + longer.substr(kMaxCommandLine) + "\r\n" +
                  std::string(kMaxCommandLine, 'c') + "\r\n..\r\n" + std::string(kMaxCommandLine, 'd') +
                  "\r\n..b\r\n");
}

TEST(SmtpSession, ByteByByteFeedGivesTheSameDialogue) {
    const std::string client = std::string(kEnvelope) + "Subject: x\r\n\r\n" + std::string(4000, 'z') +
                               "\r\n.\n\r\n..\r\n.\r\nRSET\r\nQUIT\r\n";
    std::string whole_out, trickle_out, whole_bytes, trickle_bytes;
    {
        Harness h;
        LocalAccounts(h.services);
        h.Start();
        whole_out = h.Send(client);
        ASSERT_EQ(h.services.deliveries.size(), 1u);
        whole_bytes = FakeSmtpServices::Body(h.services.deliveries[0].bytes);
    }
    {
        Harness h;
        LocalAccounts(h.services);
        h.Start();
        for (const char c : client) trickle_out += h.Send(std::string_view(&c, 1));
        ASSERT_EQ(h.services.deliveries.size(), 1u);
        trickle_bytes = FakeSmtpServices::Body(h.services.deliveries[0].bytes);
        EXPECT_TRUE(h.session->EndedCleanly());
    }
    EXPECT_EQ(whole_out, std::string(kEnvelopeReplies) + "250 \r\n250 OK\r\n221 SMTP SERVICE CLOSED\r\n");
    EXPECT_EQ(trickle_out, whole_out);
    EXPECT_EQ(trickle_bytes, whole_bytes);
    EXPECT_EQ(whole_bytes, "Subject: x\r\n\r\n" + std::string(4000 - kMaxCommandLine, 'z').insert(0, std::string(kMaxCommandLine, 'z') + "\r\n") +
                               "\r\n..\r\n\r\n..\r\n");
}

TEST(SmtpSession, MessageOverTheSizeLimitIsRefused) {
    Harness h;
    LocalAccounts(h.services);
    h.services.settings.MaxMailSize = 1000;
    h.Start();
    h.Send(kEnvelope);
    std::string text;
    for (int i = 0; i < 20; ++i) text += std::string(100, 'q') + "\r\n";
    EXPECT_EQ(h.Send(text + ".\r\n"), "552 x@remote.org mail size too big\r\n");
    EXPECT_TRUE(h.session->Finished());
    EXPECT_TRUE(h.services.deliveries.empty());
    EXPECT_TRUE(std::filesystem::is_empty(h.folder.path()));
    // At the boundary: a message of exactly MaxMailSize bytes as stored
    // (trace header included) is taken, one byte more is not.
    const auto send = [](long long limit) {
        Harness b;
        LocalAccounts(b.services);
        b.services.settings.MaxMailSize = limit;
        b.Start();
        b.Send(kEnvelope);
        const std::string reply = b.Send("Subject: s\r\n\r\nbody\r\n.\r\n");
        return std::make_pair(reply, b.services.deliveries.empty() ? 0 : b.services.deliveries[0].bytes.size());
    };
    const auto stored = static_cast<long long>(send(-1).second);
    EXPECT_EQ(send(stored), std::make_pair(std::string("250 \r\n"), static_cast<std::size_t>(stored)));
    EXPECT_EQ(send(stored - 1).first, "552 x@remote.org mail size too big\r\n");
}

// One reply answers for every recipient: a refusal known before delivery
// stores nothing for anybody, copies included; a store failing later takes
// back what the recipients before it got.
TEST(SmtpSession, RefusedMessageIsStoredForNobody) {
    struct Case {
        std::vector<std::string> recipients;
        std::string failing;  // its refusal: "552 ..." known before, "" a failing store
        std::string reply;
        std::vector<std::string> withdrawn;
    };
    const std::string full = "552 bob@example.test mailbox full\r\n";
    const std::vector<Case> cases = {
        {{"alice", "admin", "bob"}, full, full, {}},
        {{"alice", "admin", "bob"}, "", "451 local delivery failed, try again later\r\n",
         {"audit", "alice", "admin"}},
    };
    for (const Case& c : cases) {
        Harness h;
        LocalAccounts(h.services);
        h.services.settings.EnableMailsCopyTo = 1;
        h.services.settings.MailsCopyTo = "audit@example.test";
        h.services.refusals["bob@example.test"] = c.failing;
        h.Start();
        std::string envelope = "HELO c\r\nMAIL FROM:<x@remote.org>\r\n";
        for (const auto& r : c.recipients) envelope += "RCPT TO:<" + r + "@example.test>\r\n";
        h.Send(envelope + "DATA\r\n");
        SCOPED_TRACE(envelope + c.failing);
        EXPECT_EQ(h.Send("x\r\n.\r\n"), c.reply);
        EXPECT_TRUE(h.session->Finished());
        std::vector<std::string> withdrawn;
        for (const auto& r : c.withdrawn) withdrawn.push_back(r + "@example.test");
        EXPECT_EQ(h.services.withdrawn, withdrawn);
        EXPECT_EQ(h.services.deliveries.empty(), !c.failing.empty());
        EXPECT_TRUE(h.services.auto_replies.empty());
        EXPECT_TRUE(std::filesystem::is_empty(h.folder.path()));
    }
}

TEST(SmtpSession, StorageFailureIsNeverAcknowledged) {
    Harness h;
    LocalAccounts(h.services);
    h.services.refusals["alice@example.test"] = "";
    h.Start();
    h.Send(kEnvelope);
    EXPECT_EQ(h.Send("x\r\n.\r\n"), "451 local delivery failed, try again later\r\n");
    // Without a spool file a small message still goes in from memory; one
    // too large for memory is refused at its end, and nothing delivered.
    Harness no_file;
    LocalAccounts(no_file.services);
    no_file.services.fail_temp_file = true;
    no_file.Start();
    no_file.Send(kEnvelope);
    EXPECT_EQ(no_file.Send("x\r\n.\r\n"), "250 \r\n");
    no_file.Send("MAIL FROM:<x@remote.org>\r\nRCPT TO:<alice@example.test>\r\nDATA\r\n");
    std::string big;
    while (big.size() <= kMessageMemoryLimit) big += std::string(998, 'b') + "\r\n";
    EXPECT_EQ(no_file.Send(big + ".\r\n"), "451 file system error\r\n");
    EXPECT_EQ(no_file.services.deliveries.size(), 1u);
}

TEST(SmtpSession, ModelTwoRewritesTheFirstFromLine) {
    Harness h;
    LocalAccounts(h.services);
    h.services.settings.MailServerModel = 2;
    h.services.inter_mail["alice"] = "alice@isp.example";
    h.Start();
    EXPECT_EQ(h.Send("HELO c\r\nMAIL FROM:<alice@example.test>\r\nRCPT TO:<y@elsewhere.org>\r\nDATA\r\n"),
              "250 welcome here\r\n250 OK\r\n250 OK\r\n354 send the mail data, end with . \r\n");
    EXPECT_EQ(h.Send("Subject: s\r\nfrom: Alice <alice@example.test>\r\n\r\nFrom: body line\r\n.\r\n"), "250 \r\n");
    ASSERT_EQ(h.services.deliveries.size(), 1u);
    EXPECT_EQ(FakeSmtpServices::Body(h.services.deliveries[0].bytes),
              "Subject: s\r\nFrom: alice@isp.example\r\n\r\nFrom: body line\r\n");
}

TEST(SmtpSession, FromBlockListStopsTheMessage) {
    for (const std::string entry : {"@Spam.Example", "boss@spam.example"}) {
        Harness h;
        LocalAccounts(h.services);
        h.services.settings.EmailFilterEnable = 1;
        h.services.settings.FromList = {"other@x.org", entry};
        h.Start();
        h.Send(kEnvelope);
        EXPECT_EQ(h.Send("Subject: a\r\nFrom: \"Boss\" <BOSS@spam.example>\r\n\r\nhi\r\n.\r\n"),
                  "554 Email from \"" + entry + "\" is blocked by this mail server.\r\n");
        EXPECT_TRUE(h.services.deliveries.empty());
        EXPECT_TRUE(std::filesystem::is_empty(h.folder.path()));
    }
    // A From: line in the body is not a header line.
    Harness h;
    LocalAccounts(h.services);
    h.services.settings.EmailFilterEnable = 1;
    h.services.settings.FromList = {"@spam.example"};
    h.Start();
    h.Send(kEnvelope);
    EXPECT_EQ(h.Send("Subject: a\r\n\r\nFrom: boss@spam.example\r\n.\r\n"), "250 \r\n");
}

TEST(SmtpSession, WebMailDraftIsStoredOnlyAsTheSendersCopy) {
    Harness h;
    LocalAccounts(h.services);
    h.Start("127.0.0.1");
    EXPECT_EQ(h.Send("HELO alice:192.0.2.7:1:1\r\nMAIL FROM:<alice@example.test>\r\nRCPT TO:<bob@example.test>\r\n"
                     "DATA\r\nSubject: draft\r\n\r\nx\r\n.\r\n"),
              "250 welcome here\r\n250 OK\r\n250 OK\r\n354 send the mail data, end with . \r\n"
              "250 alice.example.test.quorvexserver.7\r\n");
    EXPECT_TRUE(h.services.deliveries.empty());
    ASSERT_EQ(h.services.sent_copies.size(), 1u);
    EXPECT_EQ(h.services.sent_copies[0].first, "alice");
    EXPECT_NE(h.services.sent_copies[0].second.find("Received: from alice (unknown [192.0.2.7])"), std::string::npos);
    EXPECT_EQ(h.session->peer(), "192.0.2.7");
    EXPECT_EQ(h.activity.forwarded, std::vector<std::string>{"192.0.2.7"});
}

// Only what changes something is progress: a client that sends nothing
// else counts as idle, however often it sends.
TEST(SmtpSession, ProgressIsWhatChangesSomething) {
    const std::string user = Base64Encode("alice");
    const std::vector<std::vector<std::pair<std::string, bool>>> cases = {
        {{"NOOP", false}, {"HELO c", true}, {"NOOP", false}, {"RSET", false}, {"HELO again", false},
         {"VRFY x", false}, {"MAIL FROM:<a\x01@remote.org>", false}, {"RCPT TO:<alice@example.test>", false}},
        {{"EHLO c", true}, {"MAIL FROM:<x@remote.org>", true}, {"RCPT TO:<alice@example.test>", true},
         {"DATA", true}, {"Subject: hi", true}, {"", true}, {".", true}, {"NOOP", false}},
        {{"EHLO c", true}, {"AUTH LOGIN", false}, {user, false}, {Base64Encode("nope"), false},
         {"AUTH LOGIN " + user, false}, {Base64Encode("secret"), true}},
    };
    for (const auto& steps : cases) {
        Harness h;
        LocalAccounts(h.services);
        h.Start();
        for (const auto& [line, progress] : steps) {
            const int before = h.activity.progress;
            h.Send(line + "\r\n");
            EXPECT_EQ(h.activity.progress > before, progress) << line;
        }
    }
}

// The web-mail copy that cannot be stored is never acknowledged with 250:
// for a draft it is the only copy.
TEST(SmtpSession, WebMailCopyThatCannotBeStoredIsATemporaryFailure) {
    for (const std::string helo : {"alice:192.0.2.7:1:1", "alice:192.0.2.7:1:0"}) {
        SCOPED_TRACE(helo);
        Harness h;
        LocalAccounts(h.services);
        h.services.sent_copy_fails = true;
        h.Start("127.0.0.1");
        EXPECT_EQ(h.Send("HELO " + helo + "\r\nMAIL FROM:<alice@example.test>\r\nRCPT TO:<bob@example.test>\r\n"
                         "DATA\r\nSubject: draft\r\n\r\nx\r\n.\r\n"),
                  "250 welcome here\r\n250 OK\r\n250 OK\r\n354 send the mail data, end with . \r\n"
                  "451 copy of the message could not be stored, try again later\r\n");
        EXPECT_TRUE(h.session->Finished());
        EXPECT_TRUE(h.services.sent_copies.empty());
        EXPECT_TRUE(std::filesystem::is_empty(h.folder.path()));  // the temporary file is gone
    }
}

TEST(SmtpSession, ProxyUserHandsTheSessionOver) {
    Harness h;
    h.services.settings.MailProxy = 1;
    h.Start();
    EXPECT_EQ(h.Send("EHLO c\r\nAUTH LOGIN\r\ndXNlciNob3N0\r\ncHc=\r\n"),
              "250-AUTH=LOGIN\r\n250 AUTH LOGIN\r\n334 VXNlcm5hbWU6\r\n334 UGFzc3dvcmQ6\r\n");
    ASSERT_TRUE(h.session->proxy_request().has_value());
    EXPECT_EQ(h.session->proxy_request()->user, "user");
    EXPECT_EQ(h.session->proxy_request()->host, "host");
    EXPECT_EQ(h.session->proxy_request()->password, "pw");
    EXPECT_TRUE(h.session->Finished());
}

}  // namespace
}  // namespace quorvex::smtp
