// The tokenizer, TrimToken, ReplaceAllSubstrings and ExtractAngleAddress,
// including their length limits and the logging of cuts.
#include <gtest/gtest.h>

#include "common/BoundedString.h"
#include "common/StringTokenizer.h"
#include "common/TextHelpers.h"
#include "support/ErrorLogCapture.h"
#include "support/TempFolder.h"

namespace quorvex {
namespace {

using namespace std::string_literals;

std::vector<std::string> AllTokens(std::string_view text, std::string_view delimiter) {
    CStringTokenizer tokenizer(text, delimiter);
    std::vector<std::string> tokens;
    for (int guard = 0; tokenizer.HasMoreTokens() && guard < 10000; ++guard)
        tokens.emplace_back(tokenizer.NextToken());
    return tokens;
}

TEST(StringTokenizer, SplitsAtEveryWholeDelimiter) {
    using Tokens = std::vector<std::string>;
    struct Case {
        std::string text, delimiter;
        Tokens tokens;
    } cases[] = {
        {"a,,b", ",", {"a", "", "b"}},
        {"a,b,", ",", {"a", "b"}},  // no empty last token
        {",a", ",", {"", "a"}},
        {"", ",", {}},
        {"USER bob\r\n", " ", {"USER", "bob\r\n"}},
        {"1.2.3.4;;5.6.7.8", ";;", {"1.2.3.4", "5.6.7.8"}},
        {"a;b,c", ";,", {"a;b,c"}},  // a substring, not a character set
        {"x::y:z", "::", {"x", "y:z"}},
        {"abc", "", {""}},  // an empty delimiter ends the text at once
        {"a\0b,c"s, ",", {"a\0b"s, "c"}},
    };
    for (const Case& c : cases) EXPECT_EQ(AllTokens(c.text, c.delimiter), c.tokens) << c.text;
}

TEST(StringTokenizer, CursorRemainderAndEnd) {
    CStringTokenizer tokenizer("MAIL FROM:<a@b> SIZE=10", " ");
    EXPECT_EQ(tokenizer.NextToken(), "MAIL");
    EXPECT_EQ(tokenizer.Remainder(), "FROM:<a@b> SIZE=10");
    EXPECT_EQ(tokenizer.NextToken(), "FROM:<a@b>");
    EXPECT_EQ(tokenizer.NextToken(), "SIZE=10");
    EXPECT_FALSE(tokenizer.HasMoreTokens());
    EXPECT_EQ(tokenizer.NextToken(), "");
    EXPECT_EQ(tokenizer.Remainder(), "");

    CStringTokenizer empty_delimiter("abc", "");
    EXPECT_TRUE(empty_delimiter.HasMoreTokens());
    EXPECT_EQ(empty_delimiter.NextToken(), "");
    EXPECT_FALSE(empty_delimiter.HasMoreTokens());
}

TEST(StringTokenizer, LongTextIsCutAndLogged) {
    testing::TempFolder temp;
    testing::ErrorLogCapture log(temp.path());
    const std::string text = std::string(4095, 'a') + ",bcdef" + std::string(900, 'z');
    const auto tokens = AllTokens(text, ",");
    // Only the comma of the second part survived the cut, and a final
    // delimiter gives no empty token.
    ASSERT_EQ(tokens.size(), 1u);
    EXPECT_EQ(tokens[0].size(), 4095u);
    EXPECT_EQ(log.Count(kBoundedOverflow), 1u);

    log.Clear();
    EXPECT_EQ(AllTokens(std::string(4096, 'x'), ",").front().size(), 4096u);
    EXPECT_EQ(log.Count(kBoundedOverflow), 0u);
}

TEST(TextHelpers, TrimToken) {
    struct Case {
        std::string text, token, want;
    } cases[] = {
        {"  a b  ", " ", "a b"},
        {"abab", "ab", ""},
        {"ab", "abc", "ab"},
        {"\r\n\r\nline\r\n", "\r\n", "line"},
        {"\rline\r", "\r\n", "\rline\r"},  // a lone CR stays
        {"", " ", ""},
        {"text", "", "text"},
        {"xxaxx", "xx", "a"},
        {"aaa", "aa", "a"},                 // whole tokens only
        {"--", "-", ""},
        {"\"\"name\"", "\"", "name"},
    };
    for (const Case& c : cases) {
        std::string text = c.text;
        TrimToken(text, c.token);
        EXPECT_EQ(text, c.want) << "[" << c.text << "] by [" << c.token << "]";
    }
}

TEST(TextHelpers, ReplaceAllSubstrings) {
    struct Case {
        std::string text, search, replacement, want;
    } cases[] = {
        {"it's Bob's", "'", "''", "it''s Bob''s"},
        {"aaa", "a", "aa", "aaaaaa"},  // the replacement is not searched again
        {"one\r\ntwo\r\n", "\r\n", "\\r\\n", "one\\r\\ntwo\\r\\n"},
        {"one\\r\\ntwo", "\\r\\n", "\r\n", "one\r\ntwo"},
        {"none here", "x", "y", "none here"},
        {"", "a", "b", ""},
        {"abcabc", "abc", "", ""},
    };
    for (const Case& c : cases) {
        std::string text = c.text;
        EXPECT_TRUE(ReplaceAllSubstrings(text, c.search, c.replacement));
        EXPECT_EQ(text, c.want);
    }
}

TEST(TextHelpers, ReplaceAllSubstringsIsBoundedAndLogsTheCut) {
    testing::TempFolder temp;
    testing::ErrorLogCapture log(temp.path());
    // The work buffer bounds the result even when the caller's is larger.
    std::string text(3000, 'a');
    EXPECT_FALSE(ReplaceAllSubstrings(text, 100000, "a", "aa"));
    EXPECT_EQ(text, std::string(4096, 'a'));
    EXPECT_EQ(log.Count(kBoundedOverflow), 1u);

    log.Clear();
    text = "a'b'c";
    EXPECT_FALSE(ReplaceAllSubstrings(text, 6, "'", "''"));  // room for 5 characters
    EXPECT_EQ(text, "a''b'");
    EXPECT_EQ(log.Count(kBoundedOverflow), 1u);

    log.Clear();
    text = "a'b";
    EXPECT_TRUE(ReplaceAllSubstrings(text, 5, "'", "''"));  // exactly fits
    EXPECT_EQ(text, "a''b");
    EXPECT_TRUE(log.Texts().empty());
}

TEST(TextHelpers, ExtractAngleAddress) {
    struct Case {
        std::string text;
        std::size_t capacity;
        int result;
        std::string want;
    } cases[] = {
        {"Bob <bob>", 256, 1, "bob"},
        {"bob@example.test", 256, 1, "bob@example.test"},
        {"a>b <c>", 256, 0, ""},
        {"<" + std::string(300, 'x') + ">", 256, 0, ""},
        {"<" + std::string(255, 'x') + ">", 256, 1, std::string(255, 'x')},
        {"<" + std::string(256, 'x') + ">", 256, 0, ""},
        {"<>", 256, 1, ""},
        {"Bob < bob@x > tail", 256, 1, " bob@x "},
        {"\"A <b>\" <c@d>", 256, 1, "b"},  // the first "<" decides
        {"Bob <bob@example.test", 256, 1, "bob@example.test"},  // missing ">": the rest
        {"Bob <", 256, 0, ""},
        {"", 256, 1, ""},
    };
    for (const Case& c : cases) {
        std::string out = "stale";
        EXPECT_EQ(ExtractAngleAddress(c.text, out, c.capacity), c.result) << c.text;
        EXPECT_EQ(out, c.want) << c.text;
    }
}

TEST(TextHelpers, ExtractAngleAddressCutsABareTextAndLogs) {
    testing::TempFolder temp;
    testing::ErrorLogCapture log(temp.path());
    std::string out;
    EXPECT_EQ(ExtractAngleAddress("abcdefgh", out, 5), 1);
    EXPECT_EQ(out, "abcd");
    EXPECT_EQ(log.Count(kBoundedOverflow), 1u);
}

TEST(TextHelpers, TrimCharsAndSplitList) {
    EXPECT_EQ(TrimChars(" \t a b \r\n", " \t\r\n"), "a b");
    EXPECT_EQ(TrimChars("<<a>>", "<>"), "a");
    EXPECT_EQ(TrimChars("   ", " "), "");
    EXPECT_EQ(TrimChars("", " "), "");
    EXPECT_EQ(SplitList(";a;;b c;"), (std::vector<std::string>{"a", "b c"}));
    EXPECT_TRUE(SplitList(";;").empty());
}

}  // namespace
}  // namespace quorvex
