// Base64 encoding against the real base64 command, and the line decoder's
// rules for padding, prompts, line ends, limits and hostile input.
#include <gtest/gtest.h>

#include <random>

#include "common/Base64.h"
#include "support/CommandOutput.h"

namespace quorvex {
namespace {

using namespace std::string_literals;
using testing::CommandOutput;

TEST(Base64, EncodeMatchesBase64CommandAndRoundTrips) {
    std::string all_bytes;
    for (int i = 0; i < 256; ++i) all_bytes.push_back(static_cast<char>(i));
    std::mt19937 random(7);
    std::string noise(3001, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    const std::vector<std::string> inputs = {"", "f", "fo", "foo", "foob", "fooba", "foobar", "\0\0\xFF"s,
                                             "\0user\0pass"s, all_bytes, noise};
    for (const std::string& input : inputs) {
        const std::string encoded = Base64Encode(input);
        EXPECT_EQ(encoded.size(), Base64EncodedLength(input.size()));
        const auto reference = CommandOutput({"base64", "-w", "0"}, input);
        ASSERT_TRUE(reference);
        EXPECT_EQ(encoded, *reference);

        if (input.empty()) continue;  // an empty text has no group: -1
        std::string decoded;
        EXPECT_EQ(Base64Decode(encoded, decoded), static_cast<int>(input.size())) << encoded;
        EXPECT_EQ(decoded, input);
    }
}

TEST(Base64, DecodeRules) {
    struct Case {
        std::string text;
        int result;
        std::string bytes;  // what stands in out afterwards
    } cases[] = {
        {"Zm9v", 3, "foo"},
        {"Zm8=", 2, "fo"},
        {"Zg==", 1, "f"},
        {"+ Zm8=", 2, "fo"},          // continuation prompt skipped
        {"+Zm8=", -1, "\xF9\x99\xBC"},  // a "+" alone is data
        {"\r\n", 0, ""},              // an empty line
        {"+ \r\n", 0, ""},
        {"", -1, ""},
        {"Zm9vYmFy\r\n", 6, "foobar"},  // stops at the line end
        {"Zm9vYmFy\nZm9v", 6, "foobar"},
        {"Zm8=Zm9v", 2, "fo"},        // padding ends the data
        {"Zm9vYm", -1, "foo"},        // unpadded rest: first group stays
        {"Zm9v Zm9v", -1, "foo"},     // blank between groups
        {"=m9v", -1, ""},             // "=" in the first two places
        {"Z=9v", -1, ""},
        {"Zm9\xC3", -1, ""},          // byte above 127
        {"Zm9v\0Zm9v"s, 3, "foo"},    // NUL ends the text
        {"Zg=A", 1, "f"},
    };
    for (const Case& c : cases) {
        std::string out = "stale";
        EXPECT_EQ(Base64Decode(c.text, out), c.result) << c.text;
        EXPECT_EQ(out, c.bytes) << c.text;
    }
}

TEST(Base64, DecodeRefusesTooSmallLimitBeforeReading) {
    std::string out;
    EXPECT_EQ(Base64Decode("Zm9vYmFy", 11, out), -1);  // 8 / 4 * 3 + 6 = 12
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(Base64Decode("Zm9vYmFy", 12, out), 6);
    EXPECT_EQ(Base64Decode("", 5, out), -1);
}

TEST(Base64, HostileInputStaysInBounds) {
    // Every short text over a small alphabet of troublemakers, plus long
    // runs: the decoder must never read past the view or write past the
    // limit (the sanitizer build checks the former).
    const std::string pieces = "A=+ \r\n\0\xFF/"s;
    std::string out;
    for (char a : pieces)
        for (char b : pieces)
            for (char c : pieces)
                for (char d : pieces)
                    for (char e : pieces) {
                        const std::string text{a, b, c, d, e};
                        for (std::size_t len = 0; len <= text.size(); ++len) {
                            const std::string_view view(text.data(), len);
                            const int result = Base64Decode(view, out);
                            EXPECT_LE(result, 3);
                            EXPECT_LE(out.size(), view.size() / 4 * 3 + 6);
                        }
                    }
    const std::string long_text(1 << 20, 'A');
    EXPECT_EQ(Base64Decode(long_text, out), (1 << 20) / 4 * 3);
    EXPECT_EQ(Base64Decode(long_text + "A", out), -1);
}

}  // namespace
}  // namespace quorvex
