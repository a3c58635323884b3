// The stored-message parser: header values, which parts become which
// files, decoding, link rewriting, and the safety of every file it writes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "common/AtomicFile.h"
#include "common/Paths.h"
#include "mailmodel/mime/MimeMessageParser.h"
#include "mailmodel/mime/MimeTextRoutines.h"
#include "support/TempFolder.h"

namespace quorvex::mime {
namespace {

using quorvex::testing::TempFolder;

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

std::string Read(const std::string& path) {
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) return "<missing>";
    return bytes;
}

// Names of the files in a folder, the message itself left out.
std::set<std::string> Listing(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename() != "mail.eml") names.insert(entry.path().filename().string());
    return names;
}

struct Parsed {
    TempFolder folder;
    MimeMessageParser parser;
    int result = -1;

    explicit Parsed(const std::string& message, MimeParserLimits limits = {}) : parser(limits) {
        WriteFile(folder.File("mail.eml"), message);
        result = parser.ParseFile(folder.path(), "mail.eml");
    }
    std::string File(const std::string& name) const { return Read(folder.File(name)); }
    std::vector<std::string> AttachmentNames() const {
        std::vector<std::string> names;
        for (const std::string& path : parser.AttachmentPaths) names.emplace_back(BaseName(path));
        return names;
    }
};

const std::string kMixedRelated =
    "From: \"Ann\" <ann@example.com>\r\n"
    "To: bob@example.com,\r\n carl@example.com\r\n"
    "Subject: =?utf-8?B?SGVsbG8gd29ybGQ=?=\r\n"
    "Date: Tue, 8 Dec 2026 00:25:19 +0800\r\n"
    "Message-ID: <id-1@example.com>\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=\"outer\"\r\n"
    "\r\n"
    "preamble\r\n"
    "--outer\r\n"
    "Content-Type: multipart/related; boundary=\"inner\"\r\n"
    "\r\n"
    "--inner\r\n"
    "Content-Type: text/html; charset=utf-8\r\n"
    "Content-Transfer-Encoding: quoted-printable\r\n"
    "\r\n"
    "<BASE href=3D\"http://x/\"><img src=3D\"cid:img1@x\"><img src=3Dcid:img1@x>\r\n"
    "--inner\r\n"
    "Content-Type: image/png; name=\"pic.png\"\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "Content-ID: <img1@x>\r\n"
    "\r\n"
    "iVBORw0K\r\n"
    "\r\n"
    "--inner--\r\n"
    "\r\n"
    "--outer\r\n"
    "Content-Type: application/pdf\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "Content-Disposition: attachment; filename=\"report 1.pdf\"\r\n"
    "\r\n"
    "JVBERi0=\r\n"
    "--outer--\r\n"
    "epilogue is never written\r\n";

TEST(MimeMessageParser, HeaderValues) {
    Parsed p(kMixedRelated);
    EXPECT_EQ(p.result, MimeMessageParser::kDone);
    EXPECT_EQ(p.parser.Subject, "Hello world");
    EXPECT_EQ(p.parser.From, "\"Ann\" <ann@example.com>");
    EXPECT_EQ(p.parser.To, "bob@example.com,\r\n carl@example.com");
    EXPECT_EQ(p.parser.Date, "Tue, 8 Dec 2026 00:25:19 +0800");
    EXPECT_EQ(p.parser.MessageId, "<id-1@example.com>");
    EXPECT_EQ(p.parser.GetFileSize(), static_cast<std::int64_t>(kMixedRelated.size()));
    EXPECT_EQ(p.parser.HeaderFlags & kHeaderMultipartBit, kHeaderMultipartBit);
    EXPECT_EQ(p.parser.HeaderLength, static_cast<std::int64_t>(kMixedRelated.find("\r\n\r\n") + 2));
}

TEST(MimeMessageParser, MixedRelatedWithAttachment) {
    Parsed p(kMixedRelated);
    EXPECT_EQ(Listing(p.folder.path()),
              (std::set<std::string>{"body.html", "pic.png", "img1@x", "report 1.pdf"}));
    EXPECT_EQ(p.File("body.html"), "<BAS href=\"http://x/\"><img src=\"img1@x\"><img src=img1@x>");
    EXPECT_EQ(p.File("pic.png"), std::string("\x89PNG\r\n", 6));
    EXPECT_EQ(p.File("img1@x"), p.File("pic.png"));
    EXPECT_EQ(p.File("report 1.pdf"), "%PDF-");
    EXPECT_EQ(p.AttachmentNames(), (std::vector<std::string>{"pic.png", "report 1.pdf"}));
    EXPECT_EQ(p.parser.HtmlBodyPath, p.folder.File("body.html"));
    EXPECT_EQ(p.parser.TextBodyPath, "");
    EXPECT_EQ(p.parser.BodyText, "");
    EXPECT_EQ(p.parser.CountAttachments(), 1);
    const std::string* first = p.parser.FirstAttachmentName();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(*first, "report 1.pdf");
    EXPECT_EQ(p.parser.NextAttachmentName(), nullptr);
    EXPECT_EQ(p.parser.NextAttachmentName(), nullptr);
}

TEST(MimeMessageParser, WhichPartsBecomeWhichFiles) {
    struct Case {
        const char* what;
        std::string message;
        std::set<std::string> files;
        std::vector<std::string> attachments;
        std::string bodyText;
    } cases[] = {
        {"plain message without MIME",
         "Subject: s\r\n\r\nline one\r\n.line two\r\n",
         {"body.txt"}, {}, "line one\r\n.line two\r\n"},
        {"single-part HTML",
         "MIME-Version: 1.0\r\nContent-Type: text/html\r\n\r\n<p>hi</p>\r\n",
         {"body.html"}, {}, ""},
        {"alternative",
         "MIME-Version: 1.0\r\nContent-Type: multipart/alternative; boundary=b\r\n\r\n"
         "--b\r\nContent-Type: text/plain\r\n\r\nplain\r\n"
         "--b\r\nContent-Type: text/html\r\n\r\n<b>html</b>\r\n--b--\r\n",
         {"body.txt", "body.html"}, {}, "plain"},
        {"text then two nameless parts, a named one between",
         "Content-Type: multipart/mixed; boundary=b\r\n\r\n"
         "--b\r\nContent-Type: text/plain\r\n\r\nt\r\n"
         "--b\r\nContent-Type: application/x; name=\"n.bin\"\r\n\r\nN\r\n"
         "--b\r\nContent-Type: image/gif\r\n\r\nG1\r\n"
         "--b\r\nContent-Type: image/gif\r\n\r\nG2\r\n--b--\r\n",
         {"body.txt", "n.bin", "ATT00002.dat", "ATT00003.dat"}, {"n.bin", "ATT00002.dat", "ATT00003.dat"}, "t"},
        {"second text part under its description, then content id, then a number",
         "Content-Type: multipart/mixed; boundary=b\r\n\r\n"
         "--b\r\nContent-Type: text/plain\r\n\r\nfirst\r\n"
         "--b\r\nContent-Type: text/plain\r\nContent-Description: notes\r\n\r\nsecond\r\n"
         "--b\r\nContent-Type: text/plain\r\nContent-ID: <c1>\r\n\r\nthird\r\n"
         "--b\r\nContent-Type: text/plain\r\n\r\nfourth\r\n--b--\r\n",
         {"body.txt", "notes", "c1", "ATT00003.dat"}, {"notes", "ATT00003.dat"}, "first"},
        {"attachment without a file name",
         "Content-Type: multipart/mixed; boundary=b\r\n\r\n"
         "--b\r\nContent-Type: text/plain\r\n\r\nt\r\n"
         "--b\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment\r\n\r\nX\r\n--b--\r\n",
         {"body.txt", "unknown"}, {"unknown"}, "t"},
        {"nameless image before any text",
         "Content-Type: multipart/mixed; boundary=b\r\n\r\n"
         "--b\r\nContent-Type: image/gif\r\n\r\nGIF\r\n--b--\r\n",
         {"body.txt"}, {}, "GIF"},
        {"missing closing boundary",
         "Content-Type: multipart/mixed; boundary=b\r\n\r\n"
         "--b\r\nContent-Type: text/plain\r\n\r\nrest\r\nof the file\r\n",
         {"body.txt"}, {}, "rest\r\nof the file\r\n"},
        {"a part without Content-Type is not kept",
         "Content-Type: multipart/mixed; boundary=b\r\n\r\n"
         "--b\r\nContent-Transfer-Encoding: base64\r\n\r\nQUJD\r\n"
         "--b\r\nContent-Type: text/plain\r\n\r\nkept\r\n--b--\r\n",
         {"body.txt"}, {}, "kept"},
    };
    for (const Case& c : cases) {
        Parsed p(c.message);
        EXPECT_EQ(p.result, MimeMessageParser::kDone) << c.what;
        EXPECT_EQ(Listing(p.folder.path()), c.files) << c.what;
        EXPECT_EQ(p.AttachmentNames(), c.attachments) << c.what;
        EXPECT_EQ(p.parser.BodyText, c.bodyText) << c.what;
        if (!c.bodyText.empty()) {
            EXPECT_EQ(p.File("body.txt"), c.bodyText) << c.what;
        }
    }
}

TEST(MimeMessageParser, DecodingOfBodies) {
    struct Case {
        const char* what;
        std::string part;
        std::string bytes;
    } cases[] = {
        {"base64 with a blank line before the boundary",
         "Content-Type: application/octet-stream; name=\"a.bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
         "AAEC/w==\r\n\r\n",
         std::string("\x00\x01\x02\xFF", 4)},
        {"quoted-printable with soft breaks",
         "Content-Type: text/plain; name=\"a.txt\"\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
         "caf=C3=A9 soft=\r\nly\r\n",
         "caf\xC3\xA9 softly"},
        {"audio stays encoded",
         "Content-Type: audio/basic; name=\"a.au\"\r\nContent-Transfer-Encoding: base64\r\n\r\nQUJD\r\n",
         "QUJD"},
        {"an unencoded attachment keeps its own last line break only",
         "Content-Type: text/plain; name=\"a.txt\"\r\n\r\nline\r\n\r\n",
         "line\r\n"},
    };
    for (const Case& c : cases) {
        Parsed p("Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n" + c.part + "--b--\r\n");
        ASSERT_EQ(p.parser.AttachmentPaths.size(), 1u) << c.what;
        EXPECT_EQ(Read(p.parser.AttachmentPaths[0]), c.bytes) << c.what;
    }
}

TEST(MimeMessageParser, LongLinesAndLongHeaders) {
    const std::string longLine(20000, 'x');
    const std::string to = "To: " + std::string(300, 't') + "\r\n";
    const std::string message = to + "Subject: s\r\n\r\n" + longLine + "\r\nend\r\n";
    Parsed server(message);
    EXPECT_EQ(server.parser.BodyText, longLine + "\r\nend\r\n");
    EXPECT_EQ(server.parser.To, std::string(255, 't'));  // the blank after the colon counts
    Parsed webmail(message, MimeParserLimits::WebMail());
    EXPECT_EQ(webmail.parser.To, std::string(300, 't'));
    // The web-mail build stops collecting the body text once it is long.
    Parsed big(std::string("Subject: s\r\n\r\n") + std::string(200000, 'y'), MimeParserLimits::WebMail());
    EXPECT_GE(big.parser.BodyText.size(), 65536u);
    EXPECT_LT(big.parser.BodyText.size(), 200000u);
    EXPECT_EQ(big.File("body.txt").size(), 200000u);
}

// The web-mail build gives UTF-8 whatever the message was written in.
TEST(MimeMessageParser, WebMailTextIsUtf8) {
    struct Case {
        const char* what;
        std::string message;
        std::string subject, from, body, attachment;
    } cases[] = {
        {"iso-8859-1 declared everywhere",
         "From: =?iso-8859-1?Q?J=FCrgen?= <j@x>\r\nSubject: =?iso-8859-1?Q?Gr=FC=DFe_aus_dem_Caf=E9?=\r\n"
         "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain; charset=iso-8859-1\r\n"
         "Content-Transfer-Encoding: quoted-printable\r\n\r\nK=E4se\r\n--b\r\nContent-Type: text/plain\r\n"
         "Content-Disposition: attachment; filename*=iso-8859-1'en'%E9t%E9.txt\r\n\r\nx\r\n--b--\r\n",
         "Gr\xC3\xBC\xC3\x9F" "e aus dem Caf\xC3\xA9", "J\xC3\xBCrgen <j@x>", "K\xC3\xA4se", "\xC3\xA9t\xC3\xA9.txt"},
        {"koi8-r words and body",
         "From: a@x\r\nSubject: =?koi8-r?B?8NLJ18XU?=\r\nContent-Type: text/plain; charset=\"KOI8-R\"\r\n\r\n\xF0\xD2\xC9\xD7\xC5\xD4\r\n",
         "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", "a@x", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82\r\n", ""},
        {"undeclared 8-bit text in the language's charset",
         "From: Caf\xE9 <c@x>\r\nSubject: Caf\xE9\r\n\r\nCr\xE8me\r\n", "Caf\xC3\xA9", "Caf\xC3\xA9 <c@x>",
         "Cr\xC3\xA8me\r\n", ""},
        {"invalid bytes replaced",
         "Subject: =?utf-8?Q?a=FF?=\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nb\xFF\r\n", "a\xEF\xBF\xBD", "",
         "b\xEF\xBF\xBD\r\n", ""},
    };
    for (const Case& c : cases) {
        Parsed p(c.message, MimeParserLimits::WebMail("iso-8859-1"));
        EXPECT_EQ(p.parser.Subject, c.subject) << c.what;
        EXPECT_EQ(p.parser.From, c.from) << c.what;
        EXPECT_EQ(p.parser.BodyText, c.body) << c.what;
        EXPECT_EQ(p.AttachmentNames(), c.attachment.empty() ? std::vector<std::string>{}
                                                            : std::vector<std::string>{c.attachment})
            << c.what;
    }
}

TEST(MimeMessageParser, HostileNamesStayInsideTheFolder) {
    TempFolder outside;
    const std::string victim = outside.File("victim");
    WriteFile(victim, "untouched");
    const std::string names[] = {"../../x", "/etc/passwd", "a\\b", "con", std::string(300, 'L') + ".txt",
                                 "..", "mail.eml", "../" + std::string(BaseName(outside.path())) + "/victim"};
    std::string message = "Content-Type: multipart/mixed; boundary=b\r\n\r\n";
    for (const std::string& name : names)
        message += "--b\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; filename=\"" +
                   name + "\"\r\n\r\ndata\r\n";
    // Content ids that would leave the folder.
    message += "--b\r\nContent-Type: image/gif\r\nContent-ID: <../../cid-escape>\r\n\r\nG\r\n";
    message += "--b\r\nContent-Type: image/gif\r\nContent-ID: </tmp/cid-abs>\r\n\r\nG\r\n--b--\r\n";
    Parsed p(message);
    EXPECT_EQ(p.result, MimeMessageParser::kDone);
    EXPECT_EQ(Read(victim), "untouched");
    EXPECT_EQ(Read(p.folder.File("mail.eml")), message);
    for (const std::string& path : p.parser.AttachmentPaths) {
        const std::string name(BaseName(path));
        EXPECT_EQ(path, p.folder.File(name));
        EXPECT_EQ(name.find('/'), std::string::npos);
        EXPECT_EQ(name.find(".."), std::string::npos) << name;
        EXPECT_LE(name.size(), kMaxPartFileNameBytes);
    }
    for (const std::string& name : Listing(p.folder.path())) {
        EXPECT_NE(name.front(), '.') << name;
        EXPECT_EQ(name.find(".."), std::string::npos) << name;
    }
    EXPECT_TRUE(FileExists(p.folder.File("con")));
    EXPECT_FALSE(FileExists("/tmp/cid-abs"));
}

TEST(MimeMessageParser, NeverWritesThroughALink) {
    TempFolder folder, outside;
    const std::string victim = outside.File("victim");
    WriteFile(victim, "untouched");
    ASSERT_EQ(::symlink(victim.c_str(), folder.File("evil.txt").c_str()), 0);
    ASSERT_EQ(::symlink(victim.c_str(), folder.File("body.txt").c_str()), 0);
    WriteFile(folder.File("mail.eml"),
              "Content-Type: multipart/mixed; boundary=b\r\n\r\n"
              "--b\r\nContent-Type: text/plain\r\n\r\nbody\r\n"
              "--b\r\nContent-Type: text/plain\r\nContent-Disposition: attachment; filename=evil.txt\r\n\r\nx\r\n"
              "--b--\r\n");
    MimeMessageParser parser;
    EXPECT_EQ(parser.ParseFile(folder.path(), "mail.eml"), MimeMessageParser::kDone);
    EXPECT_EQ(Read(victim), "untouched");
}

TEST(MimeMessageParser, MissingFileAndManyParts) {
    TempFolder folder;
    MimeMessageParser parser;
    EXPECT_EQ(parser.ParseFile(folder.path(), "absent.eml"), MimeMessageParser::kReadFailed);

    // A message of very many parts ends its scan at the part cap: the text
    // part behind them is never reached.
    std::string message = "Content-Type: multipart/mixed; boundary=b\r\n\r\n";
    for (std::size_t i = 0; i < MimeMessageParser::kMaxParts + 50; ++i) message += "--b\r\nX-Part: 1\r\n\r\nx\r\n";
    message += "--b\r\nContent-Type: text/plain\r\n\r\nlate\r\n--b--\r\n";
    Parsed p(message);
    EXPECT_EQ(p.result, MimeMessageParser::kDone);
    EXPECT_TRUE(p.parser.PartList.empty());
    EXPECT_FALSE(FileExists(p.folder.File("body.txt")));
}

}  // namespace
}  // namespace quorvex::mime
