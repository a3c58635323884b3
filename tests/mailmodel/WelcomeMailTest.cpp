// The welcome message's bytes: the fixed header block, the stored form of
// the body, the declared charset of 8-bit text, refused header texts and
// the cut of an over-long message.
#include <gtest/gtest.h>

#include "mailmodel/WelcomeMail.h"

namespace quorvex::testing {
namespace {

constexpr std::string_view kDate = "Tue, 08 Dec 2026 10:00:00 -0030";

TEST(WelcomeMail, HeaderBlockAndStoredBody) {
    const WelcomeMail mail{"admin@example.test", "newuser@example.test", "Welcome to QuorvexServer",
                           "Hello\n.leading dot\rlast line"};
    EXPECT_EQ(FormatWelcomeMail(mail, "example.test", kDate).value(),
              "Received: from WelcomeEmail (localhost [127.0.0.1])\r\n"
              "\tby example.test with QuorvexServer 5.3 SMTP; Tue, 08 Dec 2026 10:00:00 -0030\r\n"
              "Received: from localhost (localhost [127.0.0.1])\r\n"
              "\tby example.test with QuorvexServer 5.2 SMTP; Tue, 08 Dec 2026 10:00:00 -0030\r\n"
              "From: admin@example.test\r\n"
              "To: newuser@example.test\r\n"
              "Date: Tue, 08 Dec 2026 10:00:00 -0030\r\n"
              "Subject: Welcome to QuorvexServer\r\n"
              "X-Mailer: QuorvexServer\r\n"
              "\r\n"
              "Hello\r\n"
              "..leading dot\r\n"
              "last line\r\n");
}

TEST(WelcomeMail, EightBitTextDeclaresItsCharset) {
    const WelcomeMail typed{"admin@example.test", "newuser@example.test", "Gr\xC3\xBC\xC3\x9F" "e", "K\xC3\xB6ln", "UTF-8"};
    EXPECT_NE(FormatWelcomeMail(typed, "example.test", kDate).value().find(
                  "Subject: =?UTF-8?B?R3LDvMOfZQ==?=\r\nX-Mailer: QuorvexServer\r\nMIME-Version: 1.0\r\n"
                  "Content-Type: text/plain; charset=\"UTF-8\"\r\nContent-Transfer-Encoding: 8bit\r\n\r\n"
                  "K\xC3\xB6ln\r\n"),
              std::string::npos);
    WelcomeMail plain = typed;
    plain.subject = "Hello";
    plain.body = "Cologne";
    EXPECT_EQ(FormatWelcomeMail(plain, "example.test", kDate).value().find("MIME"), std::string::npos)
        << "ASCII text keeps the plain header";
}

TEST(WelcomeMail, HeaderTextsWithLineBreaksAreRefused) {
    const WelcomeMail good{"admin@example.test", "newuser@example.test", "Welcome", "body"};
    for (const char* bad : {"a\r\nBcc: x@example.test", "a\nb", "a\rb"}) {
        WelcomeMail mail = good;
        mail.sender = bad;
        EXPECT_FALSE(FormatWelcomeMail(mail, "example.test", kDate)) << bad;
        mail = good;
        mail.recipient = bad;
        EXPECT_FALSE(FormatWelcomeMail(mail, "example.test", kDate)) << bad;
        mail = good;
        mail.subject = bad;
        EXPECT_FALSE(FormatWelcomeMail(mail, "example.test", kDate)) << bad;
    }
    WelcomeMail huge = good;
    huge.subject.assign(kMaxWelcomeMailBytes, 's');
    EXPECT_FALSE(FormatWelcomeMail(huge, "example.test", kDate));
}

TEST(WelcomeMail, AnOverLongMessageIsCutAfterAWholeLine) {
    // Lines of ".": every line is stuffed, so the cut must not split
    // a ".." off its line end.
    std::string body;
    for (int i = 0; i < 40000; ++i) body += ".\n";
    const std::string text =
        FormatWelcomeMail({"admin@example.test", "newuser@example.test", "Welcome", body}, "example.test", kDate)
            .value();
    EXPECT_LE(text.size(), kMaxWelcomeMailBytes);
    EXPECT_GT(text.size(), kMaxWelcomeMailBytes - 5);
    EXPECT_TRUE(text.ends_with("\r\n..\r\n"));
    const std::string fits(100, 'b');
    EXPECT_TRUE(FormatWelcomeMail({"a", "b", "c", fits}, "d", kDate)->ends_with(fits + "\r\n"));
}

}  // namespace
}  // namespace quorvex::testing
