// The scrambled form of stored passwords: exact digits, the round trip of
// every byte, hostile stored texts, and the cuts of small buffers.
#include <gtest/gtest.h>

#include <cstring>

#include "common/PasswordScramble.h"
#include "common/ServerSettings.h"
#include "support/TempFolder.h"

namespace quorvex {
namespace {

class PasswordScrambleTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Cuts are logged; keep the log in the test's folder.
        auto settings = std::make_shared<CServerSettings>();
        settings->LogFilePath = temp_.File("log");
        PublishSettings(settings);
    }
    void TearDown() override { PublishSettings(std::make_shared<CServerSettings>()); }
    testing::TempFolder temp_;
};

TEST_F(PasswordScrambleTest, WritesThreeDigitsPerCharacter) {
    EXPECT_EQ(ScrambledPassword("abc", 100), "902901900");
    EXPECT_EQ(ScrambledPassword("", 100), "");
    EXPECT_EQ(ScrambledPassword("\xff\x01", 100), "744998");
}

TEST_F(PasswordScrambleTest, EveryByteSurvivesTheRoundTrip) {
    std::string all;
    for (int c = 1; c <= 255; ++c) all += static_cast<char>(c);
    const std::string stored = ScrambledPassword(all, 4097);
    EXPECT_EQ(stored.size(), 765u);
    EXPECT_EQ(UnscrambledPassword(stored, 4097), all);
}

TEST_F(PasswordScrambleTest, ReadsStoredTextsAsTheyCome) {
    const struct {
        const char* stored;
        std::string clear;
    } cases[] = {
        {"9029019", "ab"},           // a trailing group of one or two digits is ignored
        {"902999901", "ab"},         // "999" adds nothing
        {"90", ""},
        {"abc902", "\xe7" "a"},      // no digit reads as 0: 999 % 256
        {" 12902", "\xdb" "a"},      // a leading blank is allowed: 999 - 12
        {"-1x902", "\xe8" "a"},      // a sign, then digits up to the first other character: 1000 % 256
        {"000", "\xe7"},
    };
    for (const auto& c : cases) EXPECT_EQ(UnscrambledPassword(c.stored, 100), c.clear) << c.stored;
}

TEST_F(PasswordScrambleTest, CutsToTheBuffers) {
    // A 1025-byte field keeps 1024 digits, which give back 341 characters.
    const std::string stored = ScrambledPassword(std::string(400, 'p'), 1025);
    EXPECT_EQ(stored.size(), 1024u);
    EXPECT_EQ(UnscrambledPassword(stored, 1025), std::string(341, 'p'));
    // The work buffer holds 4096 digits whatever the caller's capacity.
    EXPECT_EQ(ScrambledPassword(std::string(2000, 'q'), 10000).size(), 4096u);
    EXPECT_EQ(UnscrambledPassword(std::string(9000, '9'), 10000), "");
    // A 4-byte buffer holds only the first three digits of what it is given.
    EXPECT_EQ(UnscrambledPassword(ScrambledPassword("abcdef", 100), 4), "a");
}

TEST_F(PasswordScrambleTest, RewritesACallersBufferInPlace) {
    char buffer[16] = "abc";
    ScramblePassword(buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "902901900");
    UnscramblePassword(buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "abc");
    char small[8] = "abc";
    ScramblePassword(small, sizeof small);
    EXPECT_STREQ(small, "9029019");
}

}  // namespace
}  // namespace quorvex
