// Facts about the host (name, locale language, program file) checked
// against the system's own tools, and the default system folders derived
// from the XDG variables and the home folder.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "common/AtomicFile.h"
#include "common/HostInfo.h"
#include "common/Paths.h"
#include "common/SystemLocations.h"
#include "support/CommandOutput.h"
#include "support/ScopedEnv.h"
#include "support/TempFolder.h"

namespace quorvex {
namespace {

using testing::CommandOutput;
using testing::ScopedEnv;
using testing::TempFolder;

TEST(HostInfo, ComputerNameIsTheHostName) {
    const auto hostname = CommandOutput({"uname", "-n"});
    ASSERT_TRUE(hostname);
    EXPECT_EQ(ComputerName() + "\n", *hostname);
    EXPECT_FALSE(ComputerName().empty());
}

TEST(HostInfo, ExecutablePathIsThisProgram) {
    const std::string path = ExecutablePath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.front(), '/');
    EXPECT_EQ(BaseName(path), "tests_common");
    const auto resolved = CommandOutput({"readlink", "-f", path});
    ASSERT_TRUE(resolved);
    EXPECT_EQ(*resolved, path + "\n");
}

TEST(HostInfo, LocaleLanguageAbbreviations) {
    struct Case {
        const char* locale;
        const char* want;
    } cases[] = {
        {"zh_CN.UTF-8", "CHS"}, {"zh_SG", "CHS"},        {"zh", "CHS"},       {"zh_TW.UTF-8", "CHT"},
        {"zh_HK.Big5", "CHT"},  {"zh_MO", "CHT"},        {"en_US.UTF-8", "ENU"}, {"en_GB", "ENG"},
        {"de_DE@euro", "DED"},  {"fr", "FRX"},           {"C", "ENU"},        {"C.UTF-8", "ENU"},
        {"POSIX", "ENU"},       {"", "ENU"},             {"1x_YY", "ENU"},
    };
    for (const Case& c : cases) EXPECT_EQ(LocaleLanguageAbbreviation(c.locale), c.want) << c.locale;
}

TEST(HostInfo, LocaleComesFromLcAllThenLang) {
    {
        ScopedEnv all("LC_ALL", "zh_TW.UTF-8");
        ScopedEnv lang("LANG", "en_US.UTF-8");
        EXPECT_EQ(CurrentLocaleName(), "zh_TW.UTF-8");
        EXPECT_EQ(LocaleLanguageAbbreviation(), "CHT");
    }
    {
        ScopedEnv all("LC_ALL", "");
        ScopedEnv lang("LANG", "zh_CN.GB2312");
        EXPECT_EQ(CurrentLocaleName(), "zh_CN.GB2312");
        EXPECT_EQ(LocaleLanguageAbbreviation(), "CHS");
    }
    {
        ScopedEnv all("LC_ALL", std::nullopt);
        ScopedEnv lang("LANG", std::nullopt);
        EXPECT_EQ(CurrentLocaleName(), "C");
        EXPECT_EQ(LocaleLanguageAbbreviation(), "ENU");
    }
}

class SystemLocationsTest : public ::testing::Test {
protected:
    void SetUp() override { SetSystemLocations({}); }
    void TearDown() override { SetSystemLocations({}); }

    TempFolder temp_;
    ScopedEnv home_{"HOME", temp_.File("home")};
    ScopedEnv config_{"XDG_CONFIG_HOME", std::nullopt};
};

TEST_F(SystemLocationsTest, DefaultsFollowTheHomeFolder) {
    const SystemLocations locations = CurrentSystemLocations();
    EXPECT_EQ(locations.machine_registry_folder, ProgramFolder());
    EXPECT_EQ(locations.user_registry_folder, temp_.File("home/.config/QuorvexServer"));
    EXPECT_EQ(locations.desktop_folder, temp_.File("home/Desktop"));
    EXPECT_EQ(locations.autostart_folder, temp_.File("home/.config/autostart"));
}

TEST_F(SystemLocationsTest, XdgConfigHomeAndUserDirsAreHonoured) {
    ScopedEnv config("XDG_CONFIG_HOME", temp_.File("cfg"));
    ASSERT_TRUE(MakeFolders(temp_.File("cfg")));
    struct Case {
        const char* user_dirs;
        std::string want_desktop;
    } cases[] = {
        {"# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n",
         temp_.File("home/Schreibtisch")},
        {"XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\nXDG_DESKTOP_DIR=\"/srv/desk\"\n", "/srv/desk"},
        {"XDG_DESKTOP_DIR=unquoted\n", temp_.File("home/Desktop")},
        {"XDG_DESKTOP_DIR=\"relative/path\"\n", temp_.File("home/Desktop")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.user_dirs);
        ASSERT_TRUE(AtomicWriteFile(temp_.File("cfg/user-dirs.dirs"), c.user_dirs));
        const SystemLocations locations = CurrentSystemLocations();
        EXPECT_EQ(locations.desktop_folder, c.want_desktop);
        EXPECT_EQ(locations.user_registry_folder, temp_.File("cfg/QuorvexServer"));
        EXPECT_EQ(locations.autostart_folder, temp_.File("cfg/autostart"));
    }
}

TEST_F(SystemLocationsTest, ReplacementsWinFieldByField) {
    SetSystemLocations(SystemLocations{"/m", "", "/d", ""});
    const SystemLocations locations = CurrentSystemLocations();
    EXPECT_EQ(locations.machine_registry_folder, "/m");
    EXPECT_EQ(locations.user_registry_folder, temp_.File("home/.config/QuorvexServer"));
    EXPECT_EQ(locations.desktop_folder, "/d");
    EXPECT_EQ(locations.autostart_folder, temp_.File("home/.config/autostart"));
}

TEST_F(SystemLocationsTest, NoHomeMeansNoUserFolders) {
    ScopedEnv no_home("HOME", std::nullopt);
    const SystemLocations locations = CurrentSystemLocations();
    EXPECT_EQ(locations.user_registry_folder, "");
    EXPECT_EQ(locations.desktop_folder, "");
    EXPECT_EQ(locations.autostart_folder, "");
    EXPECT_FALSE(locations.machine_registry_folder.empty());
}

}  // namespace
}  // namespace quorvex
