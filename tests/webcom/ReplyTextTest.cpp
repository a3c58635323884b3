// Which command lines may be sent, and how reply lines are read.
#include <gtest/gtest.h>

#include "webcom/dispatch/ComValue.h"
#include "webcom/net/ReplyText.h"

namespace quorvex::webcom {
namespace {

using namespace std::string_literals;

TEST(ReplyText, CommandLinesThatMayNotBeSent) {
    const struct {
        std::string line;
        LineProblem problem;
    } cases[] = {
        {"USER alice", LineProblem::kNone},
        {"VALUE Comment, a\tb", LineProblem::kNone},
        {"USER x\r\nDELE 1", LineProblem::kLineBreak},
        {"PASS a\nb", LineProblem::kLineBreak},
        {"PASS a\rb", LineProblem::kLineBreak},
        {"PASS a\0b"s, LineProblem::kNul},
        {std::string(kMaxCommandLine, 'x'), LineProblem::kNone},
        {std::string(kMaxCommandLine + 1, 'x'), LineProblem::kTooLong},
    };
    for (const auto& c : cases) EXPECT_EQ(CheckCommandLine(c.line), c.problem) << c.line.size();
    // The servers take a line whole while its LF falls within 3069 bytes.
    EXPECT_EQ(kMaxCommandLine + 2, 3069u);
    EXPECT_EQ(ProblemReply(LineProblem::kTooLong), "-ERR command is too long");
}

TEST(ReplyText, PositiveReplies) {
    const struct {
        const char* reply;
        bool positive;
        bool ok_blank;
    } cases[] = {
        {"+OK", true, false}, {"+OK ", true, true}, {"+ok 3", true, true}, {"+OKAY", true, false},
        {"-ERR no", false, false}, {"+O", false, false}, {"", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsPositiveReply(c.reply), c.positive) << c.reply;
        EXPECT_EQ(StartsWithOkBlank(c.reply), c.ok_blank) << c.reply;
    }
}

TEST(ReplyText, NumbersReadAsScanfReadsThem) {
    using Numbers = std::vector<std::int32_t>;
    const struct {
        const char* reply;
        Numbers numbers;
    } cases[] = {
        {"+OK 3 1200", {3, 1200}},
        {"+OK -1 2", {-1, 2}},
        {"+OK 3 1 ", {3, 1}},           // READ's trailing blank
        {"+OK 7", {7}},                 // the second keeps its value
        {"+OK x 1", {}},
        {"+OK 5 octets", {5}},
        {"+ok 3 1", {}},                // the literal "+OK" of the format
        {"+OK 99999999999 1", {2147483647, 1}},
        {"-ERR 1 2", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(ReplyNumbers(c.reply, 2), c.numbers) << c.reply;
    EXPECT_EQ(ReplyWordAfterNumber("+OK 2 alice.example.test.quorvexserver.17", 4096),
              "alice.example.test.quorvexserver.17");
    EXPECT_EQ(ReplyWordAfterNumber("+OK 2 abcdef", 3), "abc");
    EXPECT_FALSE(ReplyWordAfterNumber("+OK 2", 10));
    EXPECT_FALSE(ReplyWordAfterNumber("+OK uid", 10));
}

TEST(ReplyText, IntegerTextsConvertAsScriptingHostsConvertThem) {
    const struct {
        const char* text;
        bool ok;
        std::int32_t value;
    } cases[] = {
        {"12", true, 12},   {" -3 ", true, -3}, {"+4", true, 4},          {"2147483647", true, 2147483647},
        {"2147483648", false, 0}, {"", false, 0}, {"1x", false, 0}, {"0x10", false, 0},
    };
    for (const auto& c : cases) {
        std::int32_t value = 0;
        EXPECT_EQ(ParseIntegerText(c.text, value), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

}  // namespace
}  // namespace quorvex::webcom
