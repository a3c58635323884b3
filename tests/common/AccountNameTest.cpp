// Account-name validation: nothing that could leave the mail folder passes.
#include <gtest/gtest.h>

#include "common/AccountName.h"

namespace quorvex {
namespace {

TEST(AccountName, RefusesEverythingThatCouldLeaveTheMailFolder) {
    struct Case {
        std::string name;
        bool valid;
    } cases[] = {
        {"demo", true},
        {"john.smith@example.test", true},
        {"_reserved_is_a_later_rule", true},
        {std::string(76, 'a'), true},
        {std::string(77, 'a'), false},
        {"", false},
        {".", false},
        {"..", false},
        {"../x", false},
        {"a/b", false},
        {"a\\b", false},
        {std::string("a\0b", 3), false},
        {"a\rb", false},
        {"a\nb", false},
        {"tab\tname", false},
        {"...", true},
    };
    for (const Case& c : cases) EXPECT_EQ(IsValidAccountName(c.name), c.valid) << c.name;
}

TEST(AccountName, NewNamesArePlain) {
    struct Case {
        std::string name;
        bool multi_domain;
        bool valid;
    } cases[] = {
        {"demo", false, true},
        {"Jo.Smith_2-x", false, true},
        {"a", false, true},
        {std::string(76, 'a'), false, true},
        {std::string(77, 'a'), false, false},
        {"", false, false},
        {".demo", false, false},
        {"demo.", false, false},
        {"de..mo", false, false},
        {"de mo", false, false},
        {"de+mo", false, false},
        {"d\xc3\xa9mo", false, false},
        {std::string("de\0mo", 5), false, false},
        {"_demo", false, false},   // reserved: deleted accounts
        {"all", false, false},     // reserved: every account
        {"alla", false, true},
        {"demo@one.test", false, false},
        {"demo@one.test", true, true},
        {"demo@ONE.TEST", true, true},
        {"demo@other.test", true, false},
        {"demo", true, false},
        {"@one.test", true, false},
        {".demo@one.test", true, false},
        {"de@mo@one.test", true, false},
        {std::string(67, 'a') + "@one.test", true, true},  // 76 in all
        {std::string(68, 'a') + "@one.test", true, false},
    };
    const auto is_domain = [](std::string_view domain) { return SameName(domain, "one.test"); };
    for (const Case& c : cases) {
        EXPECT_EQ(IsValidNewAccountName(c.name, c.multi_domain, is_domain), c.valid)
            << ::testing::PrintToString(c.name) << (c.multi_domain ? " multi" : " single");
    }
}

TEST(AccountName, ComparesWithoutCase) {
    EXPECT_TRUE(SameName("Demo@Example.TEST", "demo@example.test"));
    EXPECT_FALSE(SameName("demo", "demo2"));
    EXPECT_FALSE(SameName("d\xc4mo", "d\xe4mo"));  // only ASCII letters fold
}

}  // namespace
}  // namespace quorvex
