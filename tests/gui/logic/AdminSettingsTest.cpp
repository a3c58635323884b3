// The administrator password of the password gate and the close choice,
// as stored in config.ini.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/PasswordDigest.h"
#include "common/ProfileFile.h"
#include "gui/logic/AdminSettings.h"
#include "support/TempFolder.h"

namespace quorvex::gui {
namespace {

using quorvex::testing::TempFolder;

TEST(AdminPassword, VerifyAndChange) {
    TempFolder folder;
    const std::string config = folder.File("config.ini");
    ProfileFile(config).WriteString("System", "Dominame", "example.test");
    // Without a stored password the empty one opens, as Log on says.
    ProfileFile(config).WriteString("System", "Password", "");

    struct Step {
        const char *old_password, *fresh, *confirmation;
        PasswordChange expected;
        const char* works_after;
    };
    const Step steps[] = {
        {"x", "Secret", "Secret", PasswordChange::kWrongOld, ""},
        {"", "Secret", "Secret", PasswordChange::kChanged, "Secret"},  // the first password
        {"", "n1", "n1", PasswordChange::kWrongOld, "Secret"},
        {"wrong", "n1", "n1", PasswordChange::kWrongOld, "Secret"},
        {"Secret", "n1", "N1", PasswordChange::kMismatch, "Secret"},
        {"Secret", "n1", "n1", PasswordChange::kChanged, "n1"},
        {"n1", "", "", PasswordChange::kChanged, ""},
    };
    for (const Step& step : steps) {
        EXPECT_EQ(ChangeAdminPassword(config, step.old_password, step.fresh, step.confirmation), step.expected);
        EXPECT_TRUE(VerifyAdminPassword(config, step.works_after)) << step.works_after;
    }
    EXPECT_FALSE(VerifyAdminPassword(config, "N1")) << "letter case counts";
    EXPECT_EQ(ReadProfileString(config, "System", "Password"), HashAccountPassword("", 1));

    // A config.ini that is there but cannot be read holds no "no password".
    const std::string unreadable = folder.File("unreadable.ini");
    std::filesystem::create_directory(unreadable);
    EXPECT_FALSE(VerifyAdminPassword(unreadable, ""));
    EXPECT_EQ(ChangeAdminPassword(unreadable, "", "n1", "n1"), PasswordChange::kUnreadable);
    EXPECT_TRUE(UnreadablePasswordText(unreadable));
    EXPECT_FALSE(UnreadablePasswordText(config));
}

TEST(CloseMode, OnlyZeroOrOneIsEverRead) {
    TempFolder folder;
    const std::string config = folder.File("config.ini");
    const std::pair<const char*, int> cases[] = {{"0", 0}, {"1", 1}, {"2", 1}, {"-1", 1}, {"x", 1}, {"", 1}};
    for (const auto& [stored, mode] : cases) {
        ProfileFile(config).WriteString("system", "CloseMode", stored);
        EXPECT_EQ(ReadCloseMode(config), mode) << stored;
    }
    EXPECT_FALSE(WriteCloseMode(config, -1));
    EXPECT_EQ(ReadProfileString(config, "system", "CloseMode"), "");
    EXPECT_TRUE(WriteCloseMode(config, 0));
    EXPECT_EQ(ReadProfileString(config, "System", "CloseMode"), "0");
}

}  // namespace
}  // namespace quorvex::gui
