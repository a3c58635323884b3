// When set-up is due.
#include <gtest/gtest.h>

#include "app/FirstSetup.h"
#include "AppFixture.h"

namespace quorvex::testing {
namespace {

using FirstSetupTest = AppFolderTest;

TEST_F(FirstSetupTest, DueWhenNeverSetUpOrOlderVersion) {
    const struct {
        const char* keys;
        bool due;
    } cases[] = {
        {"", true},                              // never set up
        {"setup=1\r\n", true},                   // no version stored
        {"setup=1\r\nVersion=5.2\r\n", true},    // an upgrade
        {"setup=0\r\nVersion=5.3\r\n", true},    // removed, then started again
        {"setup=1\r\nVersion=5.3\r\n", false},   // this version
        {"setup=1\r\nVersion=5.30\r\n", false},  // compared byte-wise: newer
        {"setup=1\r\nVersion=6.0\r\n", false},
    };
    for (const auto& c : cases) {
        UseConfig(std::string("[System]\r\nDominame=example.test\r\n") + c.keys);
        EXPECT_EQ(app::FirstSetupDue(), c.due) << c.keys;
    }
}

}  // namespace
}  // namespace quorvex::testing
