// The database filter's piecewise reading of a message finds the links and
// attachment names that loading the whole message into a MIME tree finds,
// whatever the pieces the file comes in; the piecewise decoding gives the
// bytes of the whole-content decoding.
#include <gtest/gtest.h>

#include <random>

#include "mailmodel/mime/Rfc822Message.h"
#include "mailmodel/mime/TransferDecodeStream.h"
#include "servers/filters/MessageLinks.h"

namespace quorvex {
namespace {

// What the whole message loaded as one MIME tree gives.
MessageLinks FromWholeMessage(const std::string& bytes) {
    mime::CRfc822Message message;
    message.Load(bytes.data(), bytes.size());
    std::vector<mime::CMimeEntity*> leaves;
    message.GetBodyPartList(leaves);
    MessageLinks links;
    for (const mime::CMimeEntity* leaf : leaves) {
        if (leaf->IsText()) {
            std::string text;
            leaf->GetText(text);
            CollectLinkHosts(text, links.hosts);
        }
        if (leaf->IsAttachment()) {
            CollectAttachmentName(leaf->GetFilename().empty() ? leaf->GetName() : leaf->GetFilename(),
                                  links.attachments);
        }
    }
    return links;
}

MessageLinks InPieces(const std::string& bytes, std::size_t piece) {
    MessageLinkScanner scanner;
    for (std::size_t at = 0; at < bytes.size(); at += piece) scanner.Feed(std::string_view(bytes).substr(at, piece));
    return scanner.Finish();
}

std::string Multipart(const std::string& boundary, const std::vector<std::string>& parts, bool closed = true) {
    std::string out;
    for (const std::string& part : parts) out += "--" + boundary + "\r\n" + part + "\r\n";
    if (closed) out += "--" + boundary + "--\r\n";
    return out;
}

TEST(MessageLinks, SameLinksAndNamesAsTheWholeMessage) {
    const std::string top = "Return-Path: <a@b.test>\r\nSubject: links\r\n";
    const std::string long_line = std::string(9000, 'x') + " http://far.example/ " + std::string(5000, 'y');
    // Links whose scheme a long line's piece boundary cuts at each place.
    std::string cut_links;
    for (std::size_t k = 1; k <= 7; ++k) {
        cut_links += std::string(kLinkScanPiece - k, 'x') + "http://cut" + std::to_string(k) + ".example/\r\n";
    }
    struct Case {
        std::string name;
        std::string message;
        std::string hosts;
        std::string attachments;
    };
    std::vector<Case> cases = {
        {"plain text", top + "\r\nsee http://a.example/x and http://b.example:80 and http://a.example?q\r\n",
         "a.example|b.example|", ""},
        {"folded multipart header, quoted-printable and base64 parts, an attachment",
         top + "Content-Type: multipart/mixed;\r\n\tboundary=\"=_b1\"\r\n\r\npreamble http://pre.example\r\n" +
             Multipart("=_b1", {"Content-Type: text/plain\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
                                "go to http://q=\r\np.example/ now =3D http://x=2Eexample",
                                "Content-Type: text/html\r\nContent-Transfer-Encoding: base64\r\n\r\n"
                                "PGEgaHJlZj0iaHR0cDovL2I2\r\nNC5leGFtcGxlLyI+\r\n",
                                "Content-Type: application/pdf; name=\"r.pdf\"\r\n"
                                "Content-Disposition: attachment; filename=\"report.pdf\"\r\n"
                                "Content-Transfer-Encoding: base64\r\n\r\nJVBERi0=\r\n",
                                "Content-Type: text/plain; name=notes.txt\r\n\r\nhttp://notes.example\r\n"}) +
             "epilogue http://epi.example\r\n",
         "qp.example|x.example|b64.example|notes.example|", "report.pdf|notes.txt|"},
        {"nested multiparts, the inner one never closed",
         top + "Content-Type: multipart/mixed; boundary=a\r\n\r\n" +
             Multipart("a", {"Content-Type: multipart/alternative; boundary=in\r\n\r\n" +
                                 Multipart("in", {"\r\nhttp://inner.example\r\n"}, false),
                             "Content-Type: text/plain\r\n\r\nhttp://outer.example\r\n"}),
         "inner.example|outer.example|", ""},
        {"a part header cut by a boundary, a part without a header",
         top + "Content-Type: multipart/mixed; boundary=z\r\n\r\n" +
             Multipart("z", {"Content-Type: text/plain; name=cut.txt", "\r\nhttp://bare.example",
                             "Content-Type: image/png;\r\n name=pic.png\r\n\r\niVBOR"}),
         "bare.example|", "pic.png|"},
        {"a uuencoded block ends the text; a part that is one",
         top + "Content-Type: multipart/mixed; boundary=u\r\n\r\n" +
             Multipart("u", {"\r\nhttp://before.example\r\n\r\nbegin 644 f.bin\r\n#86)C\r\n`\r\nend\r\n"
                             "http://after.example\r\n",
                             "begin 600 data.bin\r\n#86)C\r\n`\r\nend\r\n"}),
         "before.example|", "data.bin|"},
        {"uuencoded text, base64 stopped by a stranger",
         top + "Content-Type: multipart/mixed; boundary=e\r\n\r\n" +
             Multipart("e", {"Content-Transfer-Encoding: uuencode\r\n\r\n"
                             "2:'1T<#HO+W5U+F5X86UP;&4O\r\n`\r\nend\r\n",
                             "Content-Transfer-Encoding: base64\r\n\r\naHR0cDovL3N0b3A=aHR0cDovL25v\r\n"}),
         "uu.example|stop|", ""},
        {"lines longer than a piece, a line end just past one",
         top + "Content-Type: multipart/mixed; boundary=L\r\n\r\n" +
             Multipart("L", {"\r\n" + std::string(kLinkScanPiece - 1, 'w'),
                             "Content-Type: text/plain; name=long.txt\r\n\r\n" + long_line}),
         "far.example|", "long.txt|"},
        {"a scheme cut by a piece boundary", top + "\r\n" + cut_links,
         "cut1.example|cut2.example|cut3.example|cut4.example|cut5.example|cut6.example|cut7.example|", ""},
        {"no line end at the end", top + "\r\nhttp://end.example", "end.example|", ""},
    };
    // Multiparts nested deeper than the bound keep their parts unread.
    std::string deep = "\r\nhttp://deep.example\r\n";
    for (int level = 40; level > 0; --level) {
        const std::string b = "=" + std::to_string(level) + "=";
        deep = "Content-Type: multipart/mixed; boundary=" + b + "\r\n\r\n" + Multipart(b, {deep});
    }
    cases.push_back({"nesting beyond the bound", deep, "", ""});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const MessageLinks whole = FromWholeMessage(c.message);
        EXPECT_EQ(whole.hosts, c.hosts);
        EXPECT_EQ(whole.attachments, c.attachments);
        for (const std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{7}, std::size_t{4097},
                                        c.message.size()}) {
            SCOPED_TRACE(piece);
            const MessageLinks read = InPieces(c.message, piece);
            EXPECT_EQ(read.hosts, whole.hosts);
            EXPECT_EQ(read.attachments, whole.attachments);
        }
    }
}

TEST(MessageLinks, PiecewiseDecodingGivesTheWholeDecoding) {
    // Random lines of the characters the coders treat specially.
    const std::string alphabet = "=AF09az+/\r\n `end\t.";
    std::mt19937 random(20240601);
    for (const std::string encoding : {"base64", "quoted-printable", "uuencode", "7bit"}) {
        for (int round = 0; round < 300; ++round) {
            SCOPED_TRACE(encoding + " round " + std::to_string(round));
            std::vector<std::string> lines(1 + random() % 6);
            for (std::string& line : lines) {
                const std::size_t size = random() % 12;
                for (std::size_t i = 0; i < size; ++i) line += alphabet[random() % alphabet.size()];
                if (random() % 5 == 0) line = random() % 2 ? "`" : "end";
                while (line.find("\r\n") != std::string::npos) line.erase(line.find("\r\n"), 1);
            }
            std::string content;
            for (const std::string& line : lines) content += line + "\r\n";
            for (const bool with_line_end : {true, false}) {
                mime::TransferDecodeStream stream(encoding);
                std::string out;
                for (const std::string& line : lines) {
                    // Each line in up to three pieces.
                    const std::size_t a = line.empty() ? 0 : random() % line.size();
                    const std::size_t b = a + (line.size() == a ? 0 : random() % (line.size() - a));
                    stream.Feed(std::string_view(line).substr(0, a), false, out);
                    stream.Feed(std::string_view(line).substr(a, b - a), false, out);
                    stream.Feed(std::string_view(line).substr(b), true, out);
                }
                stream.Finish(with_line_end, out);
                const std::string whole = with_line_end ? content : content.substr(0, content.size() - 2);
                EXPECT_EQ(out, mime::TransferDecode(encoding, whole)) << whole;
            }
        }
    }
}

}  // namespace
}  // namespace quorvex
