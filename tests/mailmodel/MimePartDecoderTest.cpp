// The line-level half of the stored-message parser: line classification,
// the boundary stack, part records, header flags and the line codecs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mailmodel/mime/EntityHeader.h"
#include "mailmodel/mime/MimePartDecoder.h"
#include "mailmodel/mime/MimeTextRoutines.h"

namespace quorvex::mime {
namespace {

std::string Repeat(const std::string& text, int times) {
    std::string out;
    while (times-- > 0) out += text;
    return out;
}

// Feeds lines to a decoder and returns the results.
std::vector<int> Feed(MimePartDecoder& decoder, MimePart& part, const std::vector<std::string>& lines) {
    std::vector<int> results;
    for (const std::string& line : lines) results.push_back(decoder.ParsePartLine(line, part));
    return results;
}

TEST(MimePartDecoder, HeaderFlags) {
    struct Case {
        const char* header;
        int flags;
        int decoding;
        bool decodable;
    } cases[] = {
        {"Content-Type: multipart/mixed; boundary=\"b\"\r\n", 0x92, 0, false},
        {"Content-Type: message/partial; boundary=b\r\n", 0x92, 0, false},
        {"Content-Type: multipart/mixed\r\n", 0, 0, false},
        {"Content-Type: text/plain\r\nContent-Transfer-Encoding: quoted-printable\r\n", 0x82, 1, true},
        {"Content-Transfer-Encoding: BASE64\r\nContent-Type: image/png\r\n", 0x82, 2, true},
        {"Content-Type: audio/basic\r\nContent-Transfer-Encoding: base64\r\n", 0x82, 2, false},
        {"Content-Transfer-Encoding: 7bit\r\n", 1, 0, false},
        {"Content-Transfer-Encoding: 8bit\r\n", 2, 0, false},
        {"MIME-Version: 1.0 (made by hand)\r\nContent-Transfer-Encoding: base64\r\n", 0x82, 2, false},
        {"MIME-Version: 2.0\r\nContent-Transfer-Encoding: base64\r\n", 0, 0, false},
        {"Content-Type: multipart/mixed;\r\n boundary=\"folded\"\r\n", 0x92, 0, false},
        {"", 0, 0, false},
    };
    for (const Case& c : cases) {
        MimePartDecoder decoder;
        EXPECT_EQ(decoder.ParsePartHeader(c.header), c.flags) << c.header;
        EXPECT_EQ(decoder.PartDecoding, c.decoding) << c.header;
        EXPECT_EQ(decoder.PartDecodable, c.decodable) << c.header;
        EXPECT_EQ(decoder.PartScanState, 0);
    }
}

TEST(MimePartDecoder, HeaderLinesFillThePart) {
    struct Case {
        std::vector<std::string> lines;
        std::string contentType, charset, encoding, fileName, contentId, name, description;
        bool attachment;
        int lastResult;
    } cases[] = {
        {{"Content-Type: text/plain; charset=\"utf-8\"\r\n"}, "text/plain;", "utf-8", "", "", "", "", "", false, 1},
        {{"Content-Type: text/plain; charset=gb2312\r\n"}, "text/plain;", "gb2312", "", "", "", "", "", false, 1},
        {{"Content-Type: text/plain; CHARSET=us-ascii (Plain text)\r\n"}, "text/plain;", "us-ascii", "", "", "", "", "", false, 1},
        {{"content-transfer-encoding: Base64 (comment)\r\n"}, "", "", "Base64", "", "", "", "", false, 0},
        {{"Content-Disposition: attachment; filename=\"a?b:c.txt\"; size=3\r\n"},
         "", "", "", "a_b_c.txt", "", "", "", true, 0},
        {{"Content-Disposition: attachment\r\n"}, "", "", "", "unknown", "", "", "", true, 0},
        {{"Content-Disposition: inline; filename=\"x.png\"\r\n"}, "", "", "", "", "", "", "", false, 0},
        {{"Content-Disposition: attachment; filename=plain.txt\r\n"}, "", "", "", "plain.txt", "", "", "", true, 0},
        {{"Content-ID: <img1@host>\r\n"}, "", "", "", "", "img1@host", "", "", false, 0},
        {{"Content-ID:cid:abc more\r\n"}, "", "", "", "", "abc", "", "", false, 0},
        {{"Content-Type: image/gif; name=\"pic.gif\"\r\n", "Content-Location: http://x/y.gif\r\n"},
         "image/gif;", "", "", "", "", "http___x_y.gif", "", false, 0},
        {{"Content-Description: first\r\n", "Content-Description: second\r\n"},
         "", "", "", "", "", "", "first", false, 0},
        {{"Subject: =?utf-8?B?aGk=?=\r\n"}, "", "", "", "", "", "", "", false, 0},
        {{"\r\n"}, "", "", "", "", "", "", "", false, 2},
    };
    for (const Case& c : cases) {
        MimePartDecoder decoder;
        MimePart part;
        const std::vector<int> results = Feed(decoder, part, c.lines);
        const std::string where = c.lines.front();
        EXPECT_EQ(results.back(), c.lastResult) << where;
        EXPECT_EQ(part.ContentType, c.contentType) << where;
        EXPECT_EQ(part.Charset, c.charset) << where;
        EXPECT_EQ(part.TransferEncoding, c.encoding) << where;
        EXPECT_EQ(part.FileName, c.fileName) << where;
        EXPECT_EQ(part.ContentId, c.contentId) << where;
        EXPECT_EQ(part.Name, c.name) << where;
        EXPECT_EQ(part.Description, c.description) << where;
        EXPECT_EQ(part.IsAttachment, c.attachment) << where;
    }
}

// The web mail that saves an attachment and the header parser that gives
// the filter its name read the same name (the web mail then makes it safe
// as a file name).
TEST(MimePartDecoder, AttachmentNamesReadAlikeByBothParsers) {
    const std::pair<const char*, const char*> cases[] = {
        {"Content-Disposition: attachment; filename*=utf-8''Gr%C3%B6%2F.txt; size=3\r\n", "Gr\xC3\xB6/.txt"},
        {"Content-Type: text/plain; name*=iso-8859-1''Gr%F6%DFe.txt\r\n", "Gr\xC3\xB6\xC3\x9F" "e.txt"},
        {"Content-Disposition: attachment; filename=\"report.pdf\"; filename*=UTF-8''payload.exe\r\n", "payload.exe"},
        {"Content-Disposition: attachment; filename=\"a.txt; filename*=UTF-8''b.exe\"\r\n", "a.txt; filename*=UTF-8''b.exe"},
        {"Content-Disposition: attachment; FileName*=iso-8859-1'en'%E9t%E9.txt\r\n", "\xC3\xA9t\xC3\xA9.txt"},
        {"Content-Disposition: attachment; filename*=koi8-r''%F0%D2%C9%D7%C5%D4.txt\r\n",
         "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82.txt"},
        {"Content-Disposition: attachment;\r\n filename*1=\".txt\"; filename*0*=UTF-8''%E2%82%AC\r\n", "\xE2\x82\xAC.txt"},
        {"Content-Disposition: attachment; filename*=UTF-8''bad%FF.txt\r\n", "bad\xEF\xBF\xBD.txt"},
        {"Content-Disposition: attachment; filename=plain.txt\r\n", "plain.txt"},
    };
    for (const auto& [line, name] : cases) {
        MimePartDecoder decoder;
        MimePart part;
        decoder.ParsePartLine(line, part);
        std::string safe = name;
        SanitizeFileName(safe);
        EXPECT_EQ(part.FileName.empty() ? part.Name : part.FileName, safe) << line;
        CEntityHeader header;
        const std::string text = std::string(line) + "\r\n";
        header.Load(text.data(), text.size());
        EXPECT_EQ(header.GetFilename().empty() ? header.GetName() : header.GetFilename(), name) << line;
    }
    // "../../x" as a B word: decoded first, then made safe.
    MimePartDecoder decoder;
    MimePart part;
    decoder.ParsePartLine("Content-Disposition: attachment; filename=\"=?utf-8?B?Li4vLi4veA==?=\"\r\n", part);
    EXPECT_EQ(part.FileName, "_.__._x");
}

TEST(MimePartDecoder, BoundaryStackFollowsNesting) {
    MimePartDecoder decoder;
    MimePart part;
    decoder.PartScanState = 1;
    const std::vector<std::string> lines = {
        "Content-Type: multipart/mixed;\r\n boundary=outer\r\n",  // folded, unquoted: its CR LF goes
        "\r\n",
        "preamble\r\n",
        "--outer\r\n",
        "Content-Type: multipart/alternative; boundary=\"inner\"\r\n",
        "\r\n",
        "--inner\r\n",
        "Content-Type: text/plain\r\n",
        "\r\n",
        "text\r\n",
        "--inner--\r\n",
        "\r\n",
        "--outer\r\n",
        "Content-Type: image/png\r\n",
        "\r\n",
        "--outer--\r\n",
        "epilogue\r\n",
    };
    const std::vector<int> expected = {0, 2, 0, 3, 0, 2, 3, 1, 2, 0, 3, 2, 3, 1, 2, -1, 0};
    std::vector<int> results;
    for (const std::string& line : lines) {
        results.push_back(decoder.ParsePartLine(line, part));
        if (line == "--outer\r\n" && results.size() == 4) {
            ASSERT_EQ(decoder.BoundaryStack.size(), 1u);
            EXPECT_EQ(decoder.BoundaryStack.back(), "--outer");
        }
    }
    EXPECT_EQ(results, expected);
    EXPECT_EQ(decoder.BoundaryStack.size(), 1u);
}

TEST(MimePartDecoder, BoundaryDepthAndLengthAreCapped) {
    MimePartDecoder decoder;
    MimePart part;
    const std::string longBoundary(200, 'b');
    for (int i = 0; i < 100; ++i)
        decoder.ParsePartLine("Content-Type: multipart/mixed; boundary=\"" + longBoundary + "\"\r\n", part);
    EXPECT_EQ(decoder.BoundaryStack.size(), kMaxBoundaryDepth);
    EXPECT_EQ(decoder.BoundaryStack.back().size(), 2 + kBoundaryCapacity);
}

TEST(MimePartDecoder, OverlongValuesAreCut) {
    MimePartDecoder decoder;
    MimePart part;
    decoder.ParsePartLine("Content-Type: " + std::string(500, 't') + "; name=\"" + std::string(900, 'n') + "\"\r\n",
                          part);
    decoder.ParsePartLine("Content-ID: <" + std::string(900, 'i') + ">\r\n", part);
    EXPECT_EQ(part.ContentType.size(), kPartTypeCapacity);
    EXPECT_LE(part.Name.size(), kPartTextCapacity);
    EXPECT_EQ(part.ContentId.size(), kPartTextCapacity);
}

TEST(MimePartDecoder, BodyLineDecoding) {
    struct Case {
        const char* type;
        const char* encoding;
        std::vector<std::string> lines;
        std::string out;
    } cases[] = {
        {"text/plain", "quoted-printable", {"caf=E9 =3d ok=\r\n", "joined\r\n"}, "caf\xE9 = okjoined\r\n"},
        {"text/plain", "quoted-printable", {"a=4g b\r\n", "\r\n"}, "a=4g b\r\n\r\n"},
        {"image/png", "base64", {"QUJD\r\n", "\r\n", "REVG\r\n"}, "ABCDEF"},
        {"image/png", "base64", {"QUJD \r\n", "REVG\r\n"}, "DEF"},  // a stray blank spoils its line only
        {"image/png", "base64", {"QU?D\r\n", "QQ==\r\n"}, "A"},
        {"audio/basic", "base64", {"QUJD\r\n"}, "QUJD\r\n"},  // not a decoded type
        {"", "base64", {"QUJD\r\n"}, "QUJD\r\n"},             // no type at all
        {"text/plain", "7bit", {"as is=41\r\n"}, "as is=41\r\n"},
    };
    for (const Case& c : cases) {
        MimePartDecoder decoder;
        MimePart part;
        part.ContentType = c.type;
        part.TransferEncoding = c.encoding;
        decoder.SelectPartDecoding(part);
        std::string out;
        for (const std::string& line : c.lines) decoder.DecodePartLine(line, out);
        EXPECT_EQ(out, c.out) << c.type << " " << c.encoding << " " << c.lines.front();
    }
}

TEST(MimePartDecoder, HeaderTokens) {
    struct Case {
        std::string text;
        std::vector<std::string> tokens;
    } cases[] = {
        {"To: \"Ann, A.\" <ann@x>, bob@y (Bob)\r\n", {"ann@x", "bob@y"}},
        {"Content-Disposition: attachment;\r\n filename=\"a b\"\r\n", {"attachment;filename=\"ab\""}},
        {"X: one\r\nY: two\r\n", {"one"}},
        {"X: (only a comment)\r\n", {}},
        {"X: a\\,b, c", {"a\\,b"}},  // the last word is not ended and is lost
    };
    for (const Case& c : cases) {
        MimePartDecoder decoder;
        std::vector<std::string> tokens;
        std::string token;
        const std::string_view text = c.text;
        for (bool more = decoder.NextHeaderAddress(&text, token); more; more = decoder.NextHeaderAddress(nullptr, token))
            tokens.push_back(token);
        EXPECT_EQ(tokens, c.tokens) << c.text;
    }
    MimePartDecoder decoder;
    std::string token;
    const std::string huge = "X: " + std::string(5000, 'a') + "\r\n";
    const std::string_view text = huge;
    ASSERT_TRUE(decoder.NextHeaderAddress(&text, token));
    EXPECT_EQ(token.size(), kHeaderTokenCapacity);
}

TEST(MimeTextRoutines, FindBoundary) {
    struct Case {
        const char* value;
        const char* boundary;  // null: none
    } cases[] = {
        {"multipart/mixed; boundary=\"a b\"", "a b"},   {"multipart/mixed;boundary=abc; x=y", "abc"},
        {"multipart/mixed; BOUNDARY = = x", "x"},       {"multipart/mixed; boundary \"x\"", nullptr},
        {"multipart/mixed; boundary=\"open", nullptr}, {"multipart/mixed; boundary=", nullptr},
        {"multipart/mixed", nullptr},                  {"multipart/mixed; charset=a; boundary=z", "z"},
    };
    for (const Case& c : cases) {
        const auto found = FindBoundary(c.value);
        if (c.boundary == nullptr)
            EXPECT_FALSE(found.has_value()) << c.value;
        else
            EXPECT_EQ(found.value_or("<none>"), c.boundary) << c.value;
    }
}

TEST(MimeTextRoutines, Base64Runs) {
    struct Case {
        std::string in;
        int count;
        std::string out;
    } cases[] = {
        {"QUJD", 3, "ABC"},   {"QUI=", 2, "AB"},   {"QQ==", 1, "A"},   {"+ QUJD", 3, "ABC"},
        {"\r\n", 0, ""},      {"QUJDRA==\r\n", 4, "ABCD"}, {"QUJ", -1, ""}, {"QU\x80" "D", -1, ""},
        {"QUJD QUJD", -1, ""}, {"QUJD\nQUJD", 3, "ABC"},
    };
    for (const Case& c : cases) {
        std::string out = "keep:";
        EXPECT_EQ(DecodeBase64Run(c.in, out), c.count) << c.in;
        EXPECT_EQ(out, "keep:" + c.out) << c.in;
    }
}

TEST(MimeTextRoutines, SanitizeFileNameKeepsNamesInsideTheFolder) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"../../x", "_.__._x"},
        {"/etc/passwd", "_etc_passwd"},
        {"a\\b", "a_b"},
        {"con", "con"},
        {"a:b?c", "a_b_c"},
        {"\r\n", "_"},
        {"", "_"},
        {"..", "_."},
        {".hidden", "_hidden"},
        {"tab\there", "tabhere"},
        {"nul\x01" "byte", "nul_byte"},
        {"a*b\"c<d>e|f#g&h;i", "a_b_c_d_e_f_g_h_i"},
        {"r\xC3\xA9sum\xC3\xA9.pdf", "r\xC3\xA9sum\xC3\xA9.pdf"},
        {Repeat("\xE2\x82\xAC", 100), Repeat("\xE2\x82\xAC", 66)},  // cut before a whole character
        {Repeat("\xE2\x82\xAC", 100) + ".txt", Repeat("\xE2\x82\xAC", 65) + ".txt"},
    };
    for (const Case& c : cases) {
        std::string text = c.in;
        SanitizeFileName(text);
        EXPECT_EQ(text, c.out) << c.in;
    }
    std::string longName = std::string(300, 'n') + ".txt";
    SanitizeFileName(longName);
    EXPECT_EQ(longName.size(), kMaxPartFileNameBytes);
    EXPECT_EQ(longName.substr(longName.size() - 4), ".txt");
}

}  // namespace
}  // namespace quorvex::mime
