// ASCII-only case handling: the same answers in every locale.
#include <gtest/gtest.h>

#include <clocale>

#include "common/AsciiCase.h"

namespace quorvex {
namespace {

TEST(AsciiCaseTest, ComparesAndFoldsOnlyAsciiLetters) {
    // Under a locale whose tolower maps bytes above 127 the answers must not
    // change; restored afterwards so other tests see the C locale.
    const std::string previous = std::setlocale(LC_CTYPE, nullptr);
    std::setlocale(LC_CTYPE, "C.UTF-8");
    struct Case {
        std::string_view a, b;
        bool equal, a_starts_with_b, a_before_b;
    };
    const Case cases[] = {
        {"Remote Pop3", "REMOTE POP3", true, true, false},
        {"STAT ", "STAT", false, true, false},
        {"uidl 1", "UIDL ", false, true, false},
        {"UID", "UIDL", false, false, true},
        {"", "", true, true, false},
        {"x", "", false, true, false},
        {"\xC4", "\xE4", false, false, true},  // Latin-1 letters are not folded
        {"[\\]", "{|}", false, false, true},   // neighbours of the letters stay apart
        {"@", "`", false, false, true},
        {"apple", "BANANA", false, false, true},
        {"Zed", "alpha", false, false, false},
        {"\xE4", "z", false, false, false},  // high bytes after ASCII, as std::string orders
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EqualsNoCase(c.a, c.b), c.equal) << c.a << " / " << c.b;
        EXPECT_EQ(StartsWithNoCase(c.a, c.b), c.a_starts_with_b) << c.a << " / " << c.b;
        EXPECT_EQ(LessNoCase(c.a, c.b), c.a_before_b) << c.a << " / " << c.b;
    }
    EXPECT_EQ(AsciiLowerCase("BoB\xC4 Z@["), "bob\xC4 z@[");
    EXPECT_EQ(AsciiUpperCase("bob\xE4 a`{"), "BOB\xE4 A`{");
    EXPECT_EQ(FindNoCase("Hello WORLD", "world"), 6u);
    EXPECT_EQ(FindNoCase("Hello", ""), 0u);
    EXPECT_EQ(FindNoCase("Hi", "hello"), std::string_view::npos);
    std::setlocale(LC_CTYPE, previous.c_str());
}

}  // namespace
}  // namespace quorvex
