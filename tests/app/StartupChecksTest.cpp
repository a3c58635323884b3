#include "app/StartupChecks.h"

#include <gtest/gtest.h>

#include <fstream>

#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "support/TempFolder.h"

namespace quorvex::app {
namespace {

using testing::TempFolder;

TEST(StartupChecksTest, PortValuesMustBeWholeNumbersFromOneTo65535) {
    const struct {
        const char* value;
        bool sound;
    } cases[] = {
        {"25", true},    {"1", true},     {"65535", true}, {" 110 ", true}, {"0", false},  {"65536", false},
        {"-1", false},   {"abc", false},  {"25x", false},  {"", false},     {"0x19", false}, {"999999", false},
    };
    for (const auto& c : cases) {
        TempFolder folder;
        const std::string config = folder.File("config.ini");
        std::ofstream(config) << "[Port]\r\nPOP3=" << c.value << "\r\n";
        ProfileFile::ClearCache();
        const auto problems = CheckPortValues(config);
        EXPECT_EQ(problems.empty(), c.sound) << '"' << c.value << '"';
        if (!problems.empty()) {
            EXPECT_NE(problems[0].find("[Port] POP3"), std::string::npos) << problems[0];
            EXPECT_NE(problems[0].find(config), std::string::npos) << problems[0];
        }
    }
}

TEST(StartupChecksTest, MissingKeysTakeTheirDefaults) {
    TempFolder folder;
    const std::string config = folder.File("config.ini");
    std::ofstream(config) << "[System]\r\nDominame=example.test\r\n";
    ProfileFile::ClearCache();
    EXPECT_TRUE(CheckPortValues(config).empty());
    EXPECT_TRUE(CheckProgramFolder(folder.path(), config).empty());
}

TEST(StartupChecksTest, TheFolderAndItsSettingsFileMustBeThere) {
    TempFolder folder;
    const std::string config = folder.File("config.ini");
    auto problems = CheckProgramFolder(folder.path(), config);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find(config + " does not exist"), std::string::npos) << problems[0];

    MakeFolders(config);  // a folder where the file should be
    problems = CheckProgramFolder(folder.path(), config);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("cannot be read"), std::string::npos) << problems[0];

    problems = CheckProgramFolder(folder.File("missing"), config);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("does not exist"), std::string::npos) << problems[0];
}

}  // namespace
}  // namespace quorvex::app
