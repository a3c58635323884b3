// The text-template path of the composer: the header block from its fixed
// templates, the base64 text part and attachments, and their small helpers.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "common/Base64.h"
#include "mailmodel/compose/Base64Lines.h"
#include "mailmodel/compose/MessageGenerator.h"
#include "support/TempFolder.h"

namespace quorvex::compose {
namespace {

using quorvex::testing::TempFolder;

ComposerEnvironment FixedEnvironment(bool webMail = false) {
    ComposerEnvironment env;
    env.charset = [] { return std::string("gb2312"); };
    env.domainName = [] { return std::string("mail.example.com"); };
    env.writesTemplateHeader = !webMail;
    return env;
}

struct Generator {
    std::ostringstream stream;
    CMessageGenerator generator;
    explicit Generator(bool webMail = false) : generator(FixedEnvironment(webMail)) {
        generator.OutputStream = &stream;
    }
    std::string Text() const { return stream.str(); }
};

std::string Joined(const std::string& base64Lines) {
    std::string out;
    for (char c : base64Lines)
        if (c != '\r' && c != '\n') out += c;
    return out;
}

TEST(TemplateMail, HeaderBlock) {
    struct Case {
        const char* what;
        const char* subject;
        const char* mailer;
        const char* to;
        const char* cc;
        const char* replyTo;
        std::string expectedTail;  // from "Message-ID" on, the date and id replaced by D and I
    } cases[] = {
        {"with Cc and Reply-To", "Hi", "Mailer 1", "Bob <b@y>; c@z", "d@w", "Ann <r@x>",
         "Message-ID: <I>\r\nFrom: \"Ann\" <a@x>\r\nTo: \"Bob\" <b@y>,\r\n\tc@z\r\nCc: d@w\r\n"
         "Subject: =?gb2312?B?SGk=?=\r\nDate: D\r\nX-Mailer: Mailer 1\r\nReply-To: \"Ann\" <r@x>\r\n"},
        {"without Cc, null subject and mailer", nullptr, nullptr, nullptr, "", nullptr,
         "Message-ID: <I>\r\nFrom: \"Ann\" <a@x>\r\nTo: \r\nSubject: \r\nDate: D\r\n"
         "X-Mailer: Tarnvale Ostrevan v2.0\r\n"},
        {"empty mailer", "", "", " , ", nullptr, "",
         "Message-ID: <I>\r\nFrom: \"Ann\" <a@x>\r\nTo: \r\nSubject: \r\nDate: D\r\n"
         "X-Mailer: Tarnvale Ostrevan v2.0\r\n"},
    };
    for (const Case& c : cases) {
        Generator g;
        ASSERT_EQ(g.generator.GenerateTemplateMail(c.subject, c.mailer, "Ann <a@x>", c.to, c.cc, c.replyTo), 1);
        std::string text = g.Text();
        std::smatch m;
        const std::regex dateShape("[A-Z][a-z]{2}, [0-9]{2} [A-Z][a-z]{2} [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2} [+-][0-9]{4}");
        ASSERT_TRUE(std::regex_search(text, m, dateShape)) << c.what;
        const std::string date = m.str();
        const std::string head = "Received: from GenEmail (localhost [127.0.0.1])\r\n\tby mail.example.com with Ostrevan 2.0 SMTP; " +
                                 date + "\r\nReceived: from localhost (localhost [127.0.0.1])\r\n\tby mail.example.com with "
                                 "Ostrevan 2.0 SMTP; " + date + "\r\n";
        ASSERT_EQ(text.substr(0, head.size()), head) << c.what;
        text = text.substr(head.size());
        ASSERT_TRUE(std::regex_search(text, m, std::regex("Message-ID: <([0-9]{2}[A-Z][a-z]{2}[0-9]{10}@a@x_)>")))
            << c.what << "\n" << text;
        text.replace(static_cast<std::size_t>(m.position(1)), m.length(1), "I");
        text.replace(text.find(date), date.size(), "D");
        EXPECT_EQ(text, c.expectedTail +
                            "MIME-Version: 1.0\r\nContent-type: multipart/mixed; boundary=\"#BOUNDARY.QUORVEXSERVER#\"\r\n\r\n")
            << c.what;
    }
}

TEST(TemplateMail, OverlongListItemWritesNothing) {
    Generator g;
    const std::string to = "a@x;" + std::string(4096, 'b');
    EXPECT_EQ(g.generator.GenerateTemplateMail("s", nullptr, "a@x", to.c_str(), nullptr, nullptr), 0);
    EXPECT_EQ(g.Text(), "");
    Generator webMail(true);
    EXPECT_EQ(webMail.generator.GenerateTemplateMail("s", nullptr, "a@x", "b@y", nullptr, nullptr), 1);
    EXPECT_EQ(webMail.Text(), "");
}

TEST(TemplateMail, TextPartAndAttachments) {
    TempFolder folder;
    std::string fileBytes(65536, '\0');
    for (std::size_t i = 0; i < fileBytes.size(); ++i) fileBytes[i] = static_cast<char>(i * 7);
    {
        std::ofstream out(folder.File("data.bin"), std::ios::binary);
        out << fileBytes;
    }
    Generator g;
    const std::string body(10000, 'q');
    ASSERT_EQ(g.generator.WriteTemplateTextPart(body.c_str()), 1);
    const std::string textHead =
        "\r\n--#BOUNDARY.QUORVEXSERVER#\r\nContent-Type: text/plain; charset=\"gb2312\"\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\n";
    std::string text = g.Text();
    ASSERT_EQ(text.substr(0, textHead.size()), textHead);
    const std::string encoded = text.substr(textHead.size());
    std::size_t start = 0, lines = 0;
    for (std::size_t end = encoded.find("\r\n"); end != std::string::npos; end = encoded.find("\r\n", start)) {
        if (end + 2 < encoded.size()) {
            EXPECT_EQ(end - start, 76u);
        }
        start = end + 2;
        ++lines;
    }
    EXPECT_EQ(lines, (10000 + 56) / 57);
    std::string decoded;
    Base64Decode(Joined(encoded), decoded);
    EXPECT_EQ(decoded, body);

    Generator attach;
    const std::string list = folder.File("data.bin") + ";" + folder.File("missing.bin");
    ASSERT_EQ(attach.generator.WriteTemplateAttachments(list.c_str()), 1);
    const std::string partHead =
        "\r\n\r\n--#BOUNDARY.QUORVEXSERVER#\r\nContent-Type: application/octet-stream; name=\"%s\"\r\n"
        "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=\"%s\"\r\n\r\n";
    auto head = [&](const std::string& name) {
        std::string h = partHead;
        h.replace(h.find("%s"), 2, name);
        h.replace(h.find("%s"), 2, name);
        return h;
    };
    const std::string out = attach.Text();
    ASSERT_EQ(out.substr(0, head("data.bin").size()), head("data.bin"));
    const std::size_t second = out.find(head("missing.bin"));
    ASSERT_NE(second, std::string::npos);
    EXPECT_EQ(second + head("missing.bin").size(), out.size()) << "no content for a file that cannot be read";
    decoded.clear();
    Base64Decode(Joined(out.substr(head("data.bin").size(), second - head("data.bin").size())), decoded);
    EXPECT_EQ(decoded, fileBytes);

    Generator original;
    original.generator.OriginalMailFlag = 1;
    original.generator.WriteTemplateAttachments(folder.File("data.bin").c_str());
    EXPECT_EQ(original.Text().substr(0, head("original_email.eml").size()), head("original_email.eml"));
    Generator none;
    EXPECT_EQ(none.generator.WriteTemplateAttachments(nullptr), 1);
    EXPECT_EQ(none.generator.WriteBase64File(folder.File("missing.bin")), -1);
    EXPECT_EQ(none.Text(), "");
}

TEST(TemplateMail, Base64Lines) {
    struct Case {
        std::size_t n;
        std::size_t lines;
        bool endsWithBreak;
    } cases[] = {{0, 0, false}, {1, 1, true}, {3, 1, false}, {57, 1, true}, {58, 2, true}, {114, 2, true}, {60, 2, false}};
    for (const Case& c : cases) {
        const std::string in(c.n, 'z');
        const std::string out = Base64EncodeLines(in);
        EXPECT_LE(out.size(), Base64LinesLength(c.n)) << c.n;
        std::size_t breaks = 0;
        for (std::size_t p = out.find("\r\n"); p != std::string::npos; p = out.find("\r\n", p + 2)) ++breaks;
        EXPECT_EQ(breaks + (c.endsWithBreak || out.empty() ? 0 : 1), c.lines) << c.n;
        EXPECT_EQ(out.size() >= 2 && out.substr(out.size() - 2) == "\r\n", c.endsWithBreak) << c.n;
        std::string decoded;
        Base64Decode(Joined(out), decoded);
        EXPECT_EQ(decoded, in);
    }
}

TEST(TemplateMail, HeaderWordAddressAndScrambling) {
    CMessageGenerator generator(FixedEnvironment());
    std::string word;
    EXPECT_EQ(generator.EncodeHeaderWord(word, "plain"), 1);
    EXPECT_EQ(word, "=?gb2312?B?cGxhaW4=?=");
    generator.EncodeHeaderWord(word, "");
    EXPECT_EQ(word, "");
    const std::string longSubject(3000, 's');
    generator.EncodeHeaderWord(word, longSubject.c_str());
    std::size_t start = 0;
    for (std::size_t end = word.find("\r\n"); end != std::string::npos; end = word.find("\r\n", start)) {
        EXPECT_LT(end - start, 998u);
        start = end + 2;
    }

    MailAddress address;
    CMessageGenerator::ParseAddress(address, "Ann <a@x>");
    EXPECT_EQ(address.DisplayName, "Ann ");
    EXPECT_EQ(address.Address, "a@x");
    CMessageGenerator::ParseAddress(address, "b@y> <");
    EXPECT_EQ(address.DisplayName, "");
    EXPECT_EQ(address.Address, "b@y> <");

    std::ostringstream stream;
    const std::string bytes(5000, 'k');
    EXPECT_EQ(CMessageGenerator::WriteScrambledBlocks(stream, bytes.data(), bytes.size(), 0x21), 1);
    EXPECT_EQ(stream.str(), std::string(5000, static_cast<char>('k' ^ 0x21)));
}

}  // namespace
}  // namespace quorvex::compose
