// Header decoding and the mail summary: encoded words, dates, the header
// fields of sample messages and the sender domain check with fake DNS.
#include <gtest/gtest.h>
#include <arpa/inet.h>

#include <cstdlib>
#include <ctime>
#include <map>
#include <set>

#include "MailDataFixture.h"
#include "mailmodel/store/MailStore.h"
#include "mailmodel/summary/HeaderDecoding.h"
#include "mailmodel/summary/MailSummary.h"
#include "mailmodel/summary/SenderCheckServices.h"

namespace quorvex {
namespace {

// Eight hours ahead of UTC, no daylight time, for the length of one test.
class FixedZone {
public:
    FixedZone() {
        if (const char* tz = std::getenv("TZ")) saved_ = tz;
        ::setenv("TZ", "QVX-8", 1);
        ::tzset();
    }
    ~FixedZone() {
        if (saved_.empty()) ::unsetenv("TZ");
        else ::setenv("TZ", saved_.c_str(), 1);
        ::tzset();
    }

private:
    std::string saved_;
};

TEST(HeaderDecoding, DatesBecomeLocalTime) {
    FixedZone zone;
    const struct {
        const char* in;
        const char* out;  // nullptr: not a date
    } cases[] = {
        {"Tue, 3 Mar 2026 10:04:05 -0800", "2026-03-04 02:04:05"},
        {"3 Mar 2026 10:04:05 +0800", "2026-03-03 10:04:05"},
        {"Sat, 31 Dec 2022 20:00:00 +0000 (comment-with-dash)", "2023-01-01 04:00:00"},
        {"29 Feb 2024 23:59:59 GMT", "2024-03-01 07:59:59"},
        {"Mon, 1 Jan 99 00:00 +0130", "1999-01-01 06:30:00"},
        {"Fri, 5 Jun 2026 12:00:00 PDT", "2026-06-06 03:00:00"},
        {"sometime last week", nullptr},
        {"32 Jan 2026 10:00:00 +0000", nullptr},
        {"1 Foo 2026 10:00:00 +0000", nullptr},
        {"1 Jan 2026 25:00:00 +0000", nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        const auto got = ConvertMailDate(c.in);
        if (c.out) {
            ASSERT_TRUE(got) << c.in;
            EXPECT_EQ(*got, c.out) << c.in;
        } else {
            EXPECT_FALSE(got) << c.in;
        }
    }
}

TEST(HeaderDecoding, DateWithoutZoneIsUtcOrLocalClock) {
    FixedZone zone;
    EXPECT_EQ(ConvertMailDate("3 Mar 2026 10:04:05"), "2026-03-03 18:04:05");
    EXPECT_EQ(ConvertMailDate("3 Mar 2026 10:04:05", MissingZone::kLocalClock), "2026-03-03 10:04:05");
    // A zone after the time is converted either way.
    EXPECT_EQ(ConvertMailDate("3 Mar 2026 10:04:05 GMT", MissingZone::kLocalClock), "2026-03-03 18:04:05");
}

class FakeSenderCheck : public SenderCheckServices {
public:
    int ClassifyAddress(std::string_view address) override { return local_accounts.count(std::string(address)) ? 1 : 0; }
    bool IsLocalAddress(std::uint32_t ipv4) override { return (ntohl(ipv4) >> 24) == 127; }
    int QueryMx(std::string_view domain, std::string_view server, std::string& answer) override {
        asked.push_back(std::string(server) + ":" + std::string(domain));
        const auto it = mx.find(std::string(server) + ":" + std::string(domain));
        if (it == mx.end()) return server == "10.9.9.9" ? 0 : -1;
        answer = it->second;
        return 1;
    }
    std::vector<std::uint32_t> ResolveHost(std::string_view host) override {
        std::vector<std::uint32_t> out;
        const auto it = hosts.find(std::string(host));
        if (it != hosts.end()) {
            in_addr a{};
            ::inet_pton(AF_INET, it->second.c_str(), &a);
            out.push_back(a.s_addr);
        }
        return out;
    }
    std::set<std::string> local_accounts;
    std::map<std::string, std::string> mx;
    std::map<std::string, std::string> hosts;
    std::vector<std::string> asked;
};

TEST(MailSummaryCheck, SenderDomainAgainstTheHandingHost) {
    FakeSenderCheck dns;
    dns.mx["10.9.9.9:example.org"] = "";  // never used: the primary answers 0 only for unknown names
    dns.mx["10.1.1.1:example.org"] = "mx1.example.org 10\r\nmx2.example.org 20";
    dns.hosts["mx2.example.org"] = "198.51.7.7";
    dns.mx["10.1.1.1:literal.net"] = "203.0.113.5 5";
    dns.mx["10.2.2.2:second.net"] = "mx.second.net 10";
    dns.hosts["mx.second.net"] = "192.0.99.1";
    dns.local_accounts.insert("me@example.test");

    const auto message = [](const std::string& sender, const std::string& from_ip, const std::string& extra = "") {
        return "Return-Path: <" + sender + ">\r\nReceived: from relay (relay [" + from_ip + "])\r\n" + extra + "\r\n";
    };
    const struct {
        const char* what;
        bool anti_spam;
        std::string white_list;
        std::string dns_server;
        std::string headers;
        std::int32_t flags;
    } cases[] = {
        {"switch off ignores X-Spam", false, "", "10.1.1.1", message("a@nowhere.org", "1.2.3.4", "X-Spam: 5\r\n"), 0},
        {"MX host in the same a.b network", true, "", "10.1.1.1", message("a@example.org", "198.51.200.1"), 0},
        {"all candidates elsewhere", true, "", "10.1.1.1", message("a@example.org", "192.0.2.1"), kSummarySuspectSender},
        {"dotted MX answer", true, "", "10.1.1.1", message("a@literal.net", "203.0.1.1"), 0},
        {"whitelisted domain", true, "x.com;example.org", "10.1.1.1", message("a@example.org", "192.0.2.1", "X-Spam: 1\r\n"), 0},
        {"empty whitelist entry matches nobody", true, "x.com;;", "10.1.1.1", message("a@example.org", "192.0.2.1"), kSummarySuspectSender},
        {"local account skips the check", true, "", "10.1.1.1", message("me@example.test", "192.0.2.1"), 0},
        {"local host skips the check", true, "", "10.1.1.1", message("a@example.org", "127.0.0.1"), 0},
        {"X-Spam flags a passing sender", true, "", "10.1.1.1", message("a@example.org", "198.51.0.1", "X-Spam: 2\r\n"), kSummarySuspectSender},
        {"undecodable answer asks the secondary", true, "", "10.9.9.9", message("a@second.net", "192.0.200.200"), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SummaryCheckOptions options{c.anti_spam, c.white_list, c.dns_server, "10.2.2.2"};
        MailSummary summary;
        ParseSummaryHeaders(c.headers, summary, options, &dns);
        EXPECT_EQ(summary.Flags, c.flags);
    }
    EXPECT_NE(std::find(dns.asked.begin(), dns.asked.end(), "10.2.2.2:second.net"), dns.asked.end());
}

TEST(MailSummaryCheck, ReturnPathAndMessageIdRules) {
    const struct {
        const char* what;
        std::string headers;
        std::string return_path;
        std::string message_id;
        std::int32_t flags;
    } cases[] = {
        {"brackets and capitals", "Return-Path: <Big@Example.COM>\r\nReturn-Path: <second@x>\r\n", "big@example.com", "", 0},
        {"empty first return path is passed over", "Return-Path:\r\nReturn-Path: <later@x>\r\n", "later@x", "", 0},
        {"null return path without From", "Return-Path: <>\r\n", "", "", kSummaryNullReturnPath},
        {"null return path takes From", "From: A <a@b>\r\nReturn-Path: <>\r\n", "A <a@b>", "", kSummaryNullReturnPath},
        {"long message-id is cut", "Message-ID: <" + std::string(100, 'm') + ">\r\n", "", std::string(75, 'm'), 0},
        {"header block ends at the empty line", "Subject: x\r\n\r\nReturn-Path: <late@x>\r\n", "", "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MailSummary summary;
        ParseSummaryHeaders(c.headers, summary, SummaryCheckOptions{}, nullptr);
        EXPECT_EQ(summary.ReturnPath, c.return_path);
        EXPECT_EQ(summary.MessageId, c.message_id);
        EXPECT_EQ(summary.Flags, c.flags);
    }
}

using SummaryFileTest = testing::MailDataTest;

TEST_F(SummaryFileTest, SummaryOfAScrambledStoredMessage) {
    FixedZone zone;
    const std::string folder = MakeAccount("reader");
    const std::string sample = std::string(QUORVEX_SOURCE_DIR) + "/tests/mailmodel/samples/encoded-subject.eml";
    ASSERT_TRUE(AddMessageToMailbox("reader", sample, nullptr, 0, true, false));
    MailSummary plain, scrambled;
    ASSERT_TRUE(ParseMailSummary(sample, plain, false, 0, {}, nullptr));
    ASSERT_TRUE(ParseMailSummary(JoinPath(folder, "1.eml"), scrambled, true, MailStoreKey("reader"), {}, nullptr));
    EXPECT_EQ(scrambled.Subject, "Gr\xfc\xdf" "e aus Berlin");
    EXPECT_EQ(scrambled.From, "Alice S\xc3\xbcnder <alice.sender@example.org>");
    EXPECT_EQ(scrambled.Date, "2026-03-04 02:04:05");
    EXPECT_EQ(scrambled.ReturnPath, "alice.sender@example.org");
    EXPECT_EQ(scrambled.MessageId, "20260303.1@example.org");
    EXPECT_EQ(scrambled.Size, plain.Size);
    EXPECT_EQ(scrambled.Subject, plain.Subject);
    EXPECT_FALSE(ParseMailSummary(JoinPath(folder, "missing.eml"), plain, false, 0, {}, nullptr));
}

TEST_F(SummaryFileTest, SettingsAndInstalledServicesDriveTheCheck) {
    const std::string sample = std::string(QUORVEX_SOURCE_DIR) + "/tests/mailmodel/samples/encoded-subject.eml";
    auto dns = std::make_shared<FakeSenderCheck>();
    dns->mx["10.1.1.1:example.org"] = "mx.example.org 10";
    dns->hosts["mx.example.org"] = "198.51.100.1";  // not the 192.0 network of the Received line
    MailSummary summary;
    UseConfig("[System]\r\nDominame=example.test\r\nDNS=10.1.1.1\r\n[AntiSpam]\r\nEnable=1\r\n");
    ASSERT_TRUE(ParseMailSummary(sample, summary, false, 0));
    EXPECT_EQ(summary.Flags, 0);  // no services installed: nothing to check with
    InstallSenderCheckServices(dns);
    ASSERT_TRUE(ParseMailSummary(sample, summary, false, 0));
    EXPECT_EQ(summary.Flags, kSummarySuspectSender);
    dns->hosts["mx.example.org"] = "192.0.7.7";
    ASSERT_TRUE(ParseMailSummary(sample, summary, false, 0));
    EXPECT_EQ(summary.Flags, 0);
    InstallSenderCheckServices(nullptr);
}

}  // namespace
}  // namespace quorvex
