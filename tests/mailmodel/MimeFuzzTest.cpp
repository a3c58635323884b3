// Mutation fuzzing of the entity loader, the part decoder and the stored-
// message parser with real messages as seeds and a fixed random seed, so a
// failure repeats. Under the sanitizers any read past an input or buffer
// fails the run; the checks here are the library's own promises (results
// within the input, stores within the reported length).
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "common/AtomicFile.h"
#include "mailmodel/mime/MimeMessageParser.h"
#include "mailmodel/mime/MimePartDecoder.h"
#include "mailmodel/mime/Rfc822Message.h"
#include "mailmodel/mime/TransferCoder.h"
#include "support/TempFolder.h"

namespace quorvex::mime {
namespace {

std::vector<std::string> Seeds() {
    std::vector<std::string> seeds = {
        "From: a@x\r\nTo: b@y\r\nSubject: =?utf-8?B?aGVsbG8=?= =?gb2312?Q?a_b?=\r\nMIME-Version: 1.0\r\n"
        "Content-Type: multipart/mixed; boundary=\"outer\"\r\n\r\npre\r\n--outer\r\n"
        "Content-Type: multipart/alternative; boundary=inner\r\n\r\n--inner\r\n"
        "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
        "caf=C3=A9 soft=\r\nbreak\r\n--inner\r\nContent-Type: text/html\r\nContent-Transfer-Encoding: base64\r\n\r\n"
        "PGI+aGk8L2I+\r\n--inner--\r\n--outer\r\nContent-Type: image/png; name=\"a.png\"\r\n"
        "Content-Transfer-Encoding: base64\r\nContent-ID: <img@x>\r\n"
        "Content-Disposition: attachment; filename=\"a.png\"\r\n\r\niVBORw0KGgo=\r\n--outer\r\n"
        "Content-Type: message/rfc822\r\n\r\nSubject: inner\r\n\r\ninner body\r\n--outer--\r\nepilogue\r\n",
        "Subject: uu\r\n\r\nsome text\r\n\r\nbegin 644 a.txt\r\n#86)C\r\n`\r\nend\r\n",
        "Subject: plain\r\n\r\n.line\r\nbody\r\n",
    };
    const std::filesystem::path samples = std::filesystem::path(QUORVEX_SOURCE_DIR) / "tests/mailmodel/samples";
    for (const auto& entry : std::filesystem::directory_iterator(samples)) {
        std::string bytes;
        if (ReadWholeFile(entry.path().string(), bytes)) seeds.push_back(std::move(bytes));
    }
    return seeds;
}

std::string Mutate(std::string text, std::mt19937& random) {
    static const std::array<std::string, 12> kTokens = {
        "\r\n--outer\r\n", "\r\n--inner--\r\n", "=?", "?=", "=", "\r\n\r\nbegin 644 x\r\n", "\r\n\r\n",
        "Content-Type: multipart/mixed; boundary=outer\r\n", "Content-Transfer-Encoding: base64\r\n",
        "Content-Disposition: attachment; filename=\"../../x\"\r\n", "\r\n ", "\"",
    };
    const int rounds = 1 + static_cast<int>(random() % 8);
    for (int r = 0; r < rounds; ++r) {
        const std::size_t at = text.empty() ? 0 : random() % (text.size() + 1);
        switch (random() % 6) {
            case 0:  // flip a byte
                if (!text.empty()) text[at % text.size()] = static_cast<char>(random());
                break;
            case 1:  // insert a token
                text.insert(at, kTokens[random() % kTokens.size()]);
                break;
            case 2:  // delete a range
                text.erase(at, random() % 64);
                break;
            case 3:  // duplicate a range
                if (at < text.size()) text.insert(at, text.substr(at, random() % 256));
                break;
            case 4:  // truncate
                text.resize(at);
                break;
            default:  // random bytes
                for (std::size_t n = random() % 16; n > 0; --n) text.insert(text.begin() + static_cast<long>(at), static_cast<char>(random()));
                break;
        }
    }
    return text;
}

// Splits a text into lines as the parser's reader does (LF ends a line).
std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t lf = text.find('\n', start);
        const std::size_t end = lf == std::string_view::npos ? text.size() : lf + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

TEST(MimeFuzz, EntityLoaderAndPartDecoderHoldTheirPromises) {
    const std::vector<std::string> seeds = Seeds();
    std::mt19937 random(20261209);
    for (int iteration = 0; iteration < 10000; ++iteration) {
        const std::string input = Mutate(seeds[random() % seeds.size()], random);
        SCOPED_TRACE(iteration);

        CRfc822Message message;
        const std::ptrdiff_t loaded = message.Load(input.data(), input.size());
        ASSERT_LE(loaded, static_cast<std::ptrdiff_t>(input.size()));
        std::vector<CMimeEntity*> leaves;
        message.GetBodyPartList(leaves);
        for (CMimeEntity* leaf : leaves) {
            CRfc822Message inner;
            if (leaf->GetMediaType() == kMediaMessage) leaf->GetMessage(inner);
        }
        const std::size_t estimate = message.GetLength();
        std::string stored(estimate, '\0');
        const std::ptrdiff_t written = message.Store(stored.data(), stored.size());
        ASSERT_LE(written, static_cast<std::ptrdiff_t>(estimate));

        MimePartDecoder decoder;
        decoder.ParsePartHeader(input.substr(0, input.find("\r\n\r\n")));
        decoder.PartScanState = 1;
        MimePart part;
        std::string out;
        for (std::string_view line : Lines(input)) {
            decoder.ParsePartLine(line, part);
            decoder.SelectPartDecoding(part);
            decoder.DecodePartLine(line, out);
        }
        ASSERT_LE(part.ContentType.size(), kPartTypeCapacity);
        ASSERT_LE(part.FileName.size(), kPartTextCapacity);
        ASSERT_LE(decoder.BoundaryStack.size(), kMaxBoundaryDepth);

        for (const char* encoding : {"base64", "quoted-printable", "uuencode"}) {
            auto coder = CreateTransferCoder(encoding);
            coder->SetInput(input.data(), input.size(), false);
            std::string decoded(coder->GetResultLength(), '\0');
            ASSERT_LE(coder->Convert(decoded.data(), decoded.size()), decoded.size()) << encoding;
        }
    }
}

TEST(MimeFuzz, StoredMessageParserWritesOnlyInsideItsFolder) {
    const std::vector<std::string> seeds = Seeds();
    std::mt19937 random(7);
    quorvex::testing::TempFolder root;
    for (int iteration = 0; iteration < 500; ++iteration) {
        SCOPED_TRACE(iteration);
        const std::string folder = root.File("m" + std::to_string(iteration));
        std::filesystem::create_directory(folder);
        {
            std::ofstream out(folder + "/mail.eml", std::ios::binary);
            out << Mutate(seeds[random() % seeds.size()], random);
        }
        MimeMessageParser parser;
        ASSERT_EQ(parser.ParseFile(folder, "mail.eml"), MimeMessageParser::kDone);
        for (const std::string& path : parser.AttachmentPaths)
            ASSERT_EQ(std::filesystem::path(path).parent_path(), std::filesystem::path(folder)) << path;
        std::filesystem::remove_all(folder);
    }
    // Nothing was written beside the per-message folders.
    EXPECT_TRUE(std::filesystem::is_empty(root.path()));
}

}  // namespace
}  // namespace quorvex::mime
