// Transfer coders, encoded words and field coders: known answers, round
// trips and the capacity promise of every coder.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "mailmodel/mime/EncodedWordCoder.h"
#include "mailmodel/mime/FieldCoder.h"
#include "mailmodel/mime/TransferCoders.h"

namespace quorvex::mime {
namespace {

std::string Encode(CTransferCoder&& coder, std::string_view in) { return RunCoder(coder, in, true); }
std::string Decode(CTransferCoder&& coder, std::string_view in) { return RunCoder(coder, in, false); }

std::string RandomBytes(std::mt19937& random, std::size_t n) {
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(random() & 0xFF);
    return s;
}

TEST(TransferCoders, QuotedPrintableEncodeKnownAnswers) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"a \r\n", "a=20\r\n"},
        {"a\t", "a=09"},
        {"x\r\n.\r\ny", "x\r\n=2E\r\ny"},
        {".\r\n", ".\r\n"},  // a dot not preceded by CR LF stays
        {"a=b", "a=3Db"},
        {"caf\xE9", "caf=E9"},
        {std::string(100, 'a'), std::string(75, 'a') + "=\r\n" + std::string(25, 'a')},
    };
    for (const Case& c : cases) EXPECT_EQ(Encode(CQuotedPrintableCoder(), c.in), c.out) << c.in;
}

TEST(TransferCoders, QuotedPrintableSoftBreakGoesAfterLastBlank) {
    const std::string in = std::string(70, 'a') + " " + std::string(10, 'b');
    const std::string out = Encode(CQuotedPrintableCoder(), in);
    EXPECT_EQ(out, std::string(70, 'a') + " =\r\n" + std::string(10, 'b'));
}

TEST(TransferCoders, QuotedPrintableDecodeKnownAnswers) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"=3D", "="}, {"=3d", "="}, {"=a0", "a0"}, {"a=\r\nb", "ab"}, {"ab=", "ab"}, {"=E9t=E9", "\xE9t\xE9"},
    };
    for (const Case& c : cases) EXPECT_EQ(Decode(CQuotedPrintableCoder(), c.in), c.out) << c.in;
}

TEST(TransferCoders, QuotedPrintableRoundTripKeepsLinesShort) {
    std::mt19937 random(7);
    for (std::size_t n : {0, 1, 75, 76, 77, 500, 4000}) {
        std::string in = RandomBytes(random, n);
        // Line ends only as CR LF pairs, so that lines can be measured.
        for (std::size_t i = 0; i < in.size(); ++i)
            if (in[i] == '\r' || in[i] == '\n') in[i] = (i % 40 == 0 && i + 1 < in.size()) ? '\r' : 'x';
        for (std::size_t i = 0; i + 1 < in.size(); ++i)
            if (in[i] == '\r') in[i + 1] = '\n';
        const std::string encoded = Encode(CQuotedPrintableCoder(), in);
        std::size_t line = 0;
        for (char c : encoded) {
            line = c == '\n' ? 0 : line + 1;
            ASSERT_LE(line, 77u);  // 76 characters and the CR
        }
        EXPECT_EQ(Decode(CQuotedPrintableCoder(), encoded), in) << n;
    }
}

TEST(TransferCoders, Base64LinesAndPadding) {
    const std::string e57 = Encode(CBase64Coder(), std::string(57, 'x'));
    EXPECT_EQ(e57.size(), 78u);
    EXPECT_EQ(e57.find("\r\n"), 76u);
    const std::string e58 = Encode(CBase64Coder(), std::string(58, 'x'));
    EXPECT_EQ(e58.substr(78), "eA==\r\n");
    EXPECT_EQ(Encode(CBase64Coder(), "Man"), "TWFu\r\n");
    EXPECT_EQ(Encode(CBase64Coder(), ""), "");
}

TEST(TransferCoders, Base64DecodeStopsAtPaddingOrBlankAndSkipsLineBreaks) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"TWFu", "Man"}, {"TW\r\nFu", "Man"}, {"TWE=TWFu", "Ma"}, {"TWFu TWFu", "Man"}, {"TQ==", "M"}, {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(Decode(CBase64Coder(), c.in), c.out) << c.in;
}

TEST(TransferCoders, Base64RoundTrip) {
    std::mt19937 random(11);
    for (std::size_t n = 0; n < 300; n += 7) {
        const std::string in = RandomBytes(random, n);
        EXPECT_EQ(Decode(CBase64Coder(), Encode(CBase64Coder(), in)), in) << n;
    }
}

TEST(TransferCoders, UudecodeCountsBytesAndStopsAtEnd) {
    // "#" counts three bytes; "0V%T" is "Cat".
    EXPECT_EQ(Decode(CUuCoder(), "#0V%T\r\n`\r\nend\r\n"), "Cat");
    EXPECT_EQ(Decode(CUuCoder(), "\"0V%T\r\n`\r\nend\r\n"), "Ca");
    EXPECT_EQ(Decode(CUuCoder(), ""), "");
}

TEST(TransferCoders, RegistryFindsCodersByName) {
    const std::string sample = "a=b \r\n";
    EXPECT_EQ(TransferEncode("Base64", "Man"), "TWFu\r\n");
    EXPECT_EQ(TransferEncode("QUOTED-PRINTABLE", sample), "a=3Db=20\r\n");
    for (const char* passThrough : {"7bit", "binary", "", "x-unknown"})
        EXPECT_EQ(TransferEncode(passThrough, sample), sample) << passThrough;
}

TEST(TransferCoders, FoldingCoderBreaksLongLinesAtBlanks) {
    SetLineFolding(true);
    const std::string in = std::string(50, 'a') + " " + std::string(50, 'b') + "\r\n" + std::string(100, 'c');
    const std::string out = TransferEncode("7bit", in);
    SetLineFolding(false);
    EXPECT_EQ(out, std::string(50, 'a') + "\r\n " + std::string(50, 'b') + "\r\n" + std::string(100, 'c'));
    EXPECT_EQ(TransferEncode("7bit", in), in);
}

TEST(TransferCoders, NoCoderWritesPastItsCapacity) {
    std::mt19937 random(3);
    const std::string in = RandomBytes(random, 400) + "\r\n.\r\n  \r\n=";
    auto check = [&](CTransferCoder& coder, bool encode) {
        for (std::size_t capacity = 0; capacity < 200; capacity += 13) {
            std::string buffer(capacity + 8, '#');
            coder.SetInput(in.data(), in.size(), encode);
            const std::size_t n = coder.Convert(buffer.data(), capacity);
            EXPECT_LE(n, capacity);
            EXPECT_EQ(buffer.substr(capacity), std::string(8, '#'));
        }
    };
    CQuotedPrintableCoder qp;
    CBase64Coder b64;
    CUuCoder uu;
    CFoldingCoder fold;
    CEncodedWordCoder words;
    words.SetEncoding('Q', "utf-8");
    for (bool encode : {true, false}) {
        check(qp, encode);
        check(b64, encode);
        check(uu, encode);
        check(fold, encode);
        check(words, encode);
    }
    words.SetEncoding('B', "utf-8");
    check(words, true);
}

TEST(EncodedWords, DecodeCases) {
    struct Case {
        std::string in, out, charset;
    } cases[] = {
        {"=?gb2312?B?xOO6ww==?=\r\n\t=?gb2312?B?ysC957==?=", "\xC4\xE3\xBA\xC3\xCA\xC0\xBD\xE7", "gb2312"},
        {"=?utf-8?q?a_b=3F?=", "a b?", "utf-8"},
        {"=?utf-8?X?abc?=", "=?utf-8?X?abc?=", ""},
        {"Re: =?utf-8?Q?caf=C3=A9?= ok", "Re: caf\xC3\xA9 ok", "utf-8"},
        {"plain text", "plain text", ""},
        {"=?broken", "=?broken", ""},
    };
    for (const Case& c : cases) {
        std::string charset;
        EXPECT_EQ(DecodeWords(c.in, &charset), c.out) << c.in;
        EXPECT_EQ(charset, c.charset) << c.in;
    }
}

TEST(EncodedWords, LongInputIsCutIntoShortWords) {
    const std::string in(450, '\xB0');
    const std::string b = EncodeWords(in, 'B', "gb2312");
    // 44 input bytes per word, not 45: each word holds whole two-byte characters.
    std::size_t words = 0;
    for (std::size_t p = 0, end = 0; end != std::string::npos; p = end + 1, ++words) {
        end = b.find(' ', p);
        EXPECT_EQ(DecodeWords(b.substr(p, end - p)).size(), words < 10 ? 44u : 10u) << words;
    }
    EXPECT_EQ(words, 11u);
    EXPECT_EQ(DecodeWords(b), in);
    const std::string q = EncodeWords(in, 'Q', "gb2312");
    for (std::size_t p = q.find("?Q?"); p != std::string::npos; p = q.find("?Q?", p + 1))
        EXPECT_LE(q.find("?=", p + 3) - p - 3, 62u);
    EXPECT_EQ(DecodeWords(q), in);
}

TEST(EncodedWords, UtfEightWordsHoldWholeCharacters) {
    std::string in = "a";
    for (int i = 0; i < 30; ++i) in += "\xE2\x82\xAC";  // the euro sign, 3 bytes
    for (char letter : {'B', 'Q'}) {
        const std::string encoded = EncodeWords(in, letter, "UTF-8");
        EXPECT_EQ(DecodeWords(encoded), in) << letter;
        std::size_t words = 0;
        for (std::size_t p = 0, end = 0; end != std::string::npos; p = end + 1, ++words) {  // words stand apart
            end = encoded.find(' ', p);
            std::string word = DecodeWords(encoded.substr(p, end - p));
            if (word.front() == 'a') word.erase(0, 1);
            EXPECT_EQ(word.size() % 3, 0u) << letter << " word " << words;
            EXPECT_TRUE(word.empty() || word.front() == '\xE2') << letter << " word " << words;
        }
        EXPECT_GT(words, 1u) << letter;
    }
}

TEST(FieldCoders, ChooseEncoding) {
    EXPECT_EQ(CFieldCoder::ChooseEncoding(6, 6), 'B');
    EXPECT_EQ(CFieldCoder::ChooseEncoding(10, 1), 'Q');
}

std::string StoreField(std::string_view name, std::string_view value, const std::string& charset) {
    auto coder = CreateFieldCoder(name);
    coder->charset = charset;
    return RunCoder(*coder, value, true);
}

TEST(FieldCoders, EncodeByFieldKind) {
    EXPECT_EQ(StoreField("Subject", "hello world", "utf-8"), "hello world");
    const std::string subject = StoreField("Subject", "caf\xC3\xA9 au lait", "utf-8");
    EXPECT_EQ(subject.find(' '), std::string::npos) << subject;  // blanks inside the words
    EXPECT_EQ(DecodeWords(subject), "caf\xC3\xA9 au lait");
    const std::string from = StoreField("From", "\"J\xC3\xB6rg\" <j@example.test>", "utf-8");
    EXPECT_EQ(from.substr(from.size() - 16), "<j@example.test>");
    EXPECT_EQ(from.front(), '"');
    EXPECT_EQ(StoreField("To", "ann, bob", "utf-8"), "ann,\r\n\tbob");
    EXPECT_EQ(StoreField("To", "ann, bob", ""), "ann, bob");
    EXPECT_EQ(StoreField("X-Other", "a, b", "utf-8"), "a, b");
}

}  // namespace
}  // namespace quorvex::mime
