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

TEST(AccountName, ComparesWithoutCase) {
    EXPECT_TRUE(SameName("Demo@Example.TEST", "demo@example.test"));
    EXPECT_FALSE(SameName("demo", "demo2"));
    EXPECT_FALSE(SameName("d\xc4mo", "d\xe4mo"));  // only ASCII letters fold
}

}  // namespace
}  // namespace quorvex
