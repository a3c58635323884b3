// MIME entities: header fields, parameters, multipart and uuencode loading,
// storing, dates, names and the bounds that protect against hostile input.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <type_traits>

#include "mailmodel/compose/MessageGenerator.h"
#include "mailmodel/mime/MimeFlavour.h"
#include "mailmodel/mime/MimeMessageParser.h"
#include "mailmodel/mime/Rfc822Message.h"
#include "mailmodel/mime/TransferCoder.h"
#include "support/TempFolder.h"

namespace quorvex::mime {
namespace {

TEST(HeaderField, LoadKeepsFoldingAndTakesLinesWithoutColon) {
    CHeaderField field;
    const std::string folded = "Subject: a\r\n b\r\n\r\n";
    EXPECT_EQ(field.Load(folded.data(), folded.size()), 16);
    EXPECT_EQ(field.name, "Subject");
    EXPECT_EQ(field.value, "a\r\n b");
    const std::string noColon = "just text\r\n";
    EXPECT_EQ(field.Load(noColon.data(), noColon.size()), 11);
    EXPECT_EQ(field.name, "");
    EXPECT_EQ(field.value, "just text");
    const std::string unterminated = "Subject: x";
    EXPECT_EQ(field.Load(unterminated.data(), unterminated.size()), 0);
    const std::string encoded = "Subject: =?gb2312?B?xOO6ww==?=\r\n";
    field.Load(encoded.data(), encoded.size());
    EXPECT_EQ(field.value, "\xC4\xE3\xBA\xC3");
    EXPECT_EQ(field.charset, "gb2312");
}

TEST(HeaderField, Parameters) {
    CHeaderField field("Content-Type", "text/plain");
    field.SetParameter("name", "a b");
    EXPECT_EQ(field.value, "text/plain; name=\"a b\"");
    field.SetParameter("name", "c");
    EXPECT_EQ(field.value, "text/plain; name=\"c\"");
    field.value = "multipart/mixed; charset=x;\r\n\tboundary=\"==b==\"; filename=f.txt";
    std::string out;
    EXPECT_TRUE(field.GetParameter("boundary", out));
    EXPECT_EQ(out, "==b==");
    EXPECT_TRUE(field.GetParameter("filename", out));
    EXPECT_EQ(out, "f.txt");
    EXPECT_FALSE(field.GetParameter("name", out));
    EXPECT_EQ(out, "");
    EXPECT_EQ(field.GetValueWithoutParameters(), "multipart/mixed");
    // A long name goes as pieces on short lines, each of whole characters.
    std::string euros;
    for (int i = 0; i < 66; ++i) euros += "\xE2\x82\xAC";
    CHeaderField disposition("Content-Disposition", "attachment");
    disposition.SetTextParameter("filename", euros, "UTF-8");
    EXPECT_EQ(disposition.value.substr(0, 42), "attachment;\r\n filename*0*=UTF-8''%E2%82%AC");
    for (std::size_t start = 0, end; (end = disposition.value.find("\r\n", start)) != std::string::npos; start = end + 2)
        EXPECT_LE(end - start, 78u) << disposition.value;
    EXPECT_TRUE(disposition.GetParameter("filename", out));
    EXPECT_EQ(out, euros);
}

TEST(EntityHeader, MediaTypeLookups) {
    struct Case {
        const char* type;
        int media;
    } cases[] = {{"textual/x", 0}, {"video/mpeg", 3}, {"model/x", 8}, {"message/rfc822", 6}, {" text/plain", 8}};
    for (const Case& c : cases) {
        CEntityHeader header;
        header.SetContentType(c.type);
        EXPECT_EQ(header.GetMediaType(), c.media) << c.type;
    }
    CEntityHeader none;
    EXPECT_EQ(none.GetMediaType(), kMediaText);
    EXPECT_EQ(none.GetSubType(), "plain");
    EXPECT_EQ(none.GetMediaTypeName(), "text");
    none.SetContentType("image/png; name=\"a.png\"");
    EXPECT_EQ(none.GetSubType(), "png");
    EXPECT_TRUE(none.IsAttachment());
}

TEST(EntityHeader, SetNameChoosesTypeFromExtension) {
    struct Case {
        const char* name;
        const char* type;
    } cases[] = {{"clip.MPG", "video/mpeg; name=\"clip.MPG\""},
                 {"x.bin", "application/octet-stream; name=\"x.bin\""},
                 {"photo.jpg", "image/jpeg; name=\"photo.jpg\""}};
    for (const Case& c : cases) {
        CEntityHeader header;
        header.SetName(c.name);
        EXPECT_EQ(header.GetContentType(), c.type);
    }
}

TEST(EntityHeader, MadeUpBoundaryCountsOneToNine) {
    int previous = -1;
    for (int i = 0; i < 12; ++i) {
        CEntityHeader header;
        header.SetBoundary(nullptr);
        const std::string boundary = header.GetBoundary();
        ASSERT_EQ(boundary.rfind("__=_Part__", 0), 0u) << boundary;
        const int counter = std::atoi(boundary.substr(10, 3).c_str());
        EXPECT_GE(counter, 1);
        EXPECT_LE(counter, 9);
        if (previous > 0) {
            EXPECT_EQ(counter, previous == 9 ? 1 : previous + 1);
        }
        previous = counter;
        EXPECT_EQ(header.GetContentType().rfind("multipart/mixed; boundary=\"", 0), 0u);
    }
}

TEST(MimeEntity, LoadsMultipartWithDelimiterRightAfterHeader) {
    const std::string text =
        "Content-Type: Multipart/Mixed; boundary=abc\r\n\r\n--abc\r\nContent-Type: text/plain\r\n\r\nhello\r\n"
        "--abc\r\nContent-Type: application/octet-stream; name=\"x.bin\"\r\nContent-Transfer-Encoding: base64\r\n"
        "\r\nAAEC\r\n--abc--\r\nepilogue";
    CRfc822Message message;
    EXPECT_EQ(message.Load(text.data(), text.size()), static_cast<std::ptrdiff_t>(text.size() - 8));
    EXPECT_EQ(message.ContentLength(), 0u);
    ASSERT_EQ(message.Parts().size(), 2u);
    EXPECT_EQ(message.Parts()[0]->Content(), "hello");
    EXPECT_EQ(message.Parts()[1]->Content(), std::string("\x00\x01\x02", 3));
    std::vector<CMimeEntity*> attachments, bodies;
    EXPECT_EQ(message.GetAttachmentList(attachments), 1u);
    EXPECT_EQ(message.GetBodyPartList(bodies), 2u);
}

TEST(MimeEntity, MissingClosingDelimiterConsumesAll) {
    const std::string text = "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\npre\r\n--b\r\n\r\nonly part";
    CMimeEntity entity;
    EXPECT_EQ(entity.Load(text.data(), text.size()), static_cast<std::ptrdiff_t>(text.size()));
    EXPECT_EQ(entity.Content(), "pre\r\n");
    ASSERT_EQ(entity.Parts().size(), 1u);
    EXPECT_EQ(entity.Parts()[0]->Content(), "only part");
}

TEST(MimeEntity, UuencodedBlockBecomesAChild) {
    const std::string text = "Subject: x\r\n\r\nsee attached\r\n\r\nbegin 644 a.txt\r\n#0V%T\r\n`\r\nend\r\n";
    CRfc822Message message;
    message.Load(text.data(), text.size());
    EXPECT_EQ(message.Content(), "see attached");
    EXPECT_EQ(message.Fields().back().value, "uuencode");
    ASSERT_EQ(message.Parts().size(), 1u);
    EXPECT_EQ(message.Parts()[0]->GetName(), "a.txt");
    EXPECT_EQ(message.Parts()[0]->GetTransferEncoding(), "uuencode");
    EXPECT_EQ(message.Parts()[0]->Content(), "Cat");
    std::vector<CMimeEntity*> attachments;
    EXPECT_EQ(message.GetAttachmentList(attachments), 1u);
}

TEST(MimeEntity, StoreWritesContentLineEndOnceBeforeFirstDelimiter) {
    CRfc822Message message;
    message.SetSubject("s");
    message.SetBoundary("XYZ");
    message.SetText("preamble\r\n");
    message.CreatePart()->SetText("one");
    const std::string stored = message.StoreToString();
    EXPECT_NE(stored.find("\r\n\r\npreamble\r\n--XYZ\r\n"), std::string::npos) << stored;
    EXPECT_EQ(stored.substr(stored.size() - 11), "\r\n--XYZ--\r\n");
    EXPECT_LE(stored.size(), message.GetLength());
}

TEST(MimeEntity, StoreAndLoadRoundTrip) {
    CRfc822Message message;
    message.SetFrom("\"Ann\" <ann@example.test>");
    message.SetSubject("caf\xC3\xA9 au lait", "utf-8");
    message.SetBoundary(nullptr);
    CMimeEntity* text = message.CreatePart();
    text->SetCharset("utf-8");
    text->SetTransferEncoding("quoted-printable");
    text->SetText("line one\r\nna\xC3\xAFve = ok\r\n");
    std::string binary;
    for (int i = 0; i < 1000; ++i) binary += static_cast<char>(i * 7);
    CMimeEntity* attachment = message.CreatePart();
    attachment->SetTransferEncoding("base64");
    attachment->SetName("data.bin");
    attachment->SetText(binary);
    const std::string stored = message.StoreToString();

    CRfc822Message loaded;
    ASSERT_GT(loaded.Load(stored.data(), stored.size()), 0);
    EXPECT_EQ(*loaded.GetFieldValue("subject"), "caf\xC3\xA9 au lait");
    EXPECT_EQ(loaded.FindField("Subject")->charset, "utf-8");
    ASSERT_EQ(loaded.Parts().size(), 2u);
    EXPECT_EQ(loaded.Parts()[0]->Content(), "line one\r\nna\xC3\xAFve = ok\r\n");
    EXPECT_EQ(loaded.Parts()[1]->Content(), binary);
    EXPECT_EQ(loaded.Parts()[1]->GetName(), "data.bin");
}

TEST(MimeEntity, EmbeddedMessageRoundTrip) {
    CRfc822Message inner;
    inner.SetSubject("inner");
    inner.SetText("body");
    CMimeEntity holder;
    ASSERT_TRUE(holder.SetMessage(inner));
    EXPECT_EQ(holder.GetContentType(), "message/rfc822");
    CRfc822Message back;
    EXPECT_GT(holder.GetMessage(back), 0);
    EXPECT_EQ(*back.GetFieldValue("Subject"), "inner");
    EXPECT_EQ(back.Content(), "body");
}

TEST(MimeEntity, DeepNestingIsCappedAndManyHeaderLinesStayLinear) {
    std::string text;
    for (int depth = 0; depth < 200; ++depth)
        text += "Content-Type: multipart/mixed; boundary=\"b" + std::to_string(depth) + "x\"\r\n\r\n--b" +
                std::to_string(depth) + "x\r\n";
    text += "\r\nleaf";
    CMimeEntity entity;
    EXPECT_EQ(entity.Load(text.data(), text.size()), static_cast<std::ptrdiff_t>(text.size()));
    int depth = 0;
    for (const CMimeEntity* e = &entity; !e->Parts().empty(); e = e->Parts()[0].get()) ++depth;
    EXPECT_EQ(depth, 32);  // the documented limit, not whatever the constant says

    std::string many;
    for (int i = 0; i < 200000; ++i) many += "X-H: v\r\n";
    many += "\r\nbody";
    CMimeEntity big;
    EXPECT_EQ(big.Load(many.data(), many.size()), static_cast<std::ptrdiff_t>(many.size()));
    EXPECT_EQ(big.Content(), "body");
}

class ZoneTest : public ::testing::Test {
protected:
    void SetZone(const char* zone) {
        setenv("TZ", zone, 1);
        tzset();
    }
    void TearDown() override {
        if (saved_)
            setenv("TZ", saved_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    std::optional<std::string> saved_ = std::getenv("TZ") ? std::optional<std::string>(std::getenv("TZ")) : std::nullopt;
};

TEST_F(ZoneTest, SetDateWritesTheFullOffset) {
    CRfc822Message message;
    SetZone("Asia/Shanghai");
    message.SetDate(2026, 12, 8, 0, 25, 19);
    EXPECT_EQ(*message.GetFieldValue("Date"), "Tue, 8 Dec 2026 00:25:19 +0800");
    SetZone("Europe/Berlin");
    message.SetDate(2026, 7, 1, 12, 0, 0);
    EXPECT_EQ(*message.GetFieldValue("Date"), "Wed, 1 Jul 2026 12:00:00 +0200");
    SetZone("America/St_Johns");
    message.SetDate(2026, 1, 31, 23, 59, 59);
    EXPECT_EQ(*message.GetFieldValue("Date"), "Sat, 31 Jan 2026 23:59:59 -0330");
}

TEST(MimeEntity, FilesInAndOut) {
    testing::TempFolder folder;
    const std::string empty = folder.File("empty.doc");
    std::ofstream(empty).close();
    CMimeEntity entity;
    EXPECT_TRUE(entity.ReadFromFile(empty));
    EXPECT_EQ(entity.ContentLength(), 0u);
    EXPECT_EQ(entity.GetContentType(), "application/msword; name=\"empty.doc\"");
    EXPECT_FALSE(entity.ReadFromFile(folder.File("missing")));
    entity.SetText(std::string("a\0b", 3));
    EXPECT_TRUE(entity.WriteToFile(folder.File("out.bin")));
    CMimeEntity again;
    EXPECT_TRUE(again.ReadFromFile(folder.File("out.bin")));
    EXPECT_EQ(again.Content(), std::string("a\0b", 3));
}

}  // namespace
}  // namespace quorvex::mime

namespace quorvex::mime {
namespace {

// Both flavours in one process: each parse follows the flavour of the
// entity it loads into, whatever was parsed before.
TEST(MimeFlavour, WebMailBuildDiffersOnlyInItsTraits) {
    const std::string uuMessage = "Subject: uu\r\n\r\ntext\r\n\r\nbegin 644 a.txt\r\n#0V%T\r\n`\r\nend\r\n";
    CEntityHeader header(MimeFlavour::WebMail);
    header.SetBoundary(nullptr);
    EXPECT_EQ(header.GetBoundary().rfind("__=_Part_Boundary_", 0), 0u) << header.GetBoundary();
    header.SetContentType("uuencode/x");
    EXPECT_EQ(header.GetMediaType(), 7);  // not listed in this build
    EXPECT_EQ(TransferDecode("uuencode", "#0V%T\r\n", MimeFlavour::WebMail), "#0V%T\r\n");
    CRfc822Message webmail(MimeFlavour::WebMail);
    ASSERT_GT(webmail.Load(uuMessage.data(), uuMessage.size()), 0);
    EXPECT_TRUE(webmail.Parts().empty());
    EXPECT_EQ(webmail.Content(), uuMessage.substr(uuMessage.find("\r\n\r\n") + 4));
    // The parts of a web-mail tree parse in its flavour too.
    const std::string multipart = "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n\r\n" +
                                  uuMessage.substr(uuMessage.find("\r\n\r\n") + 4) + "\r\n--b--\r\n";
    CRfc822Message tree(MimeFlavour::WebMail);
    ASSERT_GT(tree.Load(multipart.data(), multipart.size()), 0);
    ASSERT_EQ(tree.Parts().size(), 1u);
    EXPECT_TRUE(tree.Parts()[0]->Parts().empty());

    CRfc822Message message;
    ASSERT_GT(message.Load(uuMessage.data(), uuMessage.size()), 0);
    ASSERT_EQ(message.Parts().size(), 1u);
    EXPECT_EQ(message.Parts()[0]->flavour(), MimeFlavour::Server);
    EXPECT_EQ(message.Parts()[0]->Content(), "Cat");
    CEntityHeader server;
    server.SetBoundary(nullptr);
    EXPECT_EQ(server.GetBoundary().rfind("__=_Part__", 0), 0u) << server.GetBoundary();
}

// Every class used through a base pointer is destroyed through it safely.
static_assert(std::has_virtual_destructor_v<CTransferCoder>);
static_assert(std::has_virtual_destructor_v<CEntityHeader>);
static_assert(std::has_virtual_destructor_v<MimePart>);
static_assert(std::has_virtual_destructor_v<MimeDecoderBase>);
static_assert(std::has_virtual_destructor_v<MimeMessageParser>);
static_assert(std::has_virtual_destructor_v<compose::CMessageGenerator>);

}  // namespace
}  // namespace quorvex::mime
