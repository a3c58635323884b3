#include "app/StartupChecks.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/ProgramMessages.h"
#include "common/Paths.h"
#include "support/TempFolder.h"

namespace quorvex::app {
namespace {

using testing::TempFolder;

TEST(StartupChecksTest, AFolderWithItsSettingsFileMayStart) {
    TempFolder folder;
    const std::string config = folder.File("config.ini");
    std::ofstream(config) << "[System]\r\nDominame=example.test\r\n";
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
    EXPECT_NE(problems[0].find("cannot be read (it is a folder, not a file)"), std::string::npos) << problems[0];

    const std::string device = folder.File("device.ini");  // reads as empty, takes every write
    ASSERT_EQ(::symlink("/dev/null", device.c_str()), 0);
    problems = CheckProgramFolder(folder.path(), device);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find(device + " cannot be read (it is a device"), std::string::npos) << problems[0];

    problems = CheckProgramFolder(folder.File("missing"), config);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("does not exist"), std::string::npos) << problems[0];
}

// A folder another user than its owner and root may write to is refused
// with its name, owner and mode; root may work in a service user's folder.
TEST(StartupChecksTest, AFolderOthersMayWriteToIsRefused) {
    const struct {
        unsigned mode;
        uid_t owner;
        const char* expected;  // a part of the refusal; null: none
    } rows[] = {
        {040755, 0, nullptr},
        {040775, 4242, "/p (owner 4242, mode 0775) can be written by other users than its owner and root"},
        {040757, 0, "(owner root, mode 0757) can be written"},
        {041777, 0, "(owner root, mode 1777) can be written"},
    };
    for (const auto& row : rows) {
        struct stat st {};
        st.st_mode = row.mode;
        st.st_uid = row.owner;
        const std::string problem = UnsafeFolderProblem("/p", st);
        if (row.expected == nullptr) {
            EXPECT_EQ(problem, "") << std::oct << row.mode;
        } else {
            EXPECT_NE(problem.find(row.expected), std::string::npos) << problem;
        }
    }
    TempFolder folder;
    const std::string config = folder.File("config.ini");
    std::ofstream(config) << "[System]\r\n";
    ASSERT_EQ(::chmod(folder.path().c_str(), 0770), 0);
    const auto problems = CheckProgramFolder(folder.path(), config);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("The program folder " + folder.path() + " (owner "), std::string::npos) << problems[0];
}

TEST(StartupChecksTest, APortChangeIsTakenAtTheNextStart) {
    const struct {
        ListenerPorts in_use, configured;
        std::string note;
    } rows[] = {
        {{25, 110, 8011}, {25, 110, 8011}, ""},
        {{25, 110, 8011}, {2525, 110, 8011}, "The new ports take effect at the next start: SMTP 2525 (in use: 25)."},
        {{25, 110, 8011}, {25, 1100, 8012},
         "The new ports take effect at the next start: POP3 1100 (in use: 110), account server 8012 (in use: 8011)."},
        {{0, 0, 0}, {2525, 1100, 8012}, ""},  // nothing listens yet
    };
    for (const auto& row : rows) EXPECT_EQ(PortChangeNote(row.in_use, row.configured), row.note);
}

TEST(StartupChecksTest, OneWarningNamesTheFilesOthersCanRead) {
    TempFolder folder;
    std::vector<std::string> accounts;
    for (const char* name : {"a.ini", "b.ini", "c.ini", "d.ini"}) accounts.push_back(folder.File(name));
    const std::string config = folder.File("config.ini");
    const struct {
        const char* name;
        unsigned config_mode;
        int readable_accounts;  // the first n of the four
        const char* expected;   // a part of the line; null: no warning
    } cases[] = {
        {"all private", 0600, 0, nullptr},
        {"group only", 0640, 0, nullptr},
        {"config.ini", 0644, 0, "other users can read /config.ini ("},
        {"an account", 0600, 1, "other users can read /a.ini ("},
        {"three named, the rest counted", 0604, 4, "read /config.ini, /a.ini, /b.ini and 2 more ("},
    };
    for (const auto& c : cases) {
        for (std::size_t i = 0; i < accounts.size(); ++i) {
            std::ofstream(accounts[i]) << "[System]\r\n";
            ::chmod(accounts[i].c_str(), static_cast<int>(i) < c.readable_accounts ? 0644 : 0600);
        }
        std::ofstream(config) << "[System]\r\n";
        ::chmod(config.c_str(), c.config_mode);
        const auto warning = ReadableByOthersWarning(config, accounts);
        if (c.expected == nullptr) {
            EXPECT_FALSE(warning) << c.name;
            continue;
        }
        ASSERT_TRUE(warning) << c.name;
        std::string text = *warning;
        for (std::size_t at; (at = text.find(folder.path())) != std::string::npos;) text.erase(at, folder.path().size());
        EXPECT_NE(text.find(c.expected), std::string::npos) << c.name << ": " << text;
        EXPECT_EQ(text.find('\n'), std::string::npos) << c.name;
    }
}

// A line for a folder whose settings are not loaded goes to the log folder
// its config.ini names (the default one without the file), and only when
// that folder is there.
TEST(StartupChecksTest, AFolderLogLineGoesToTheConfiguredLogFolderOnlyWhenItExists) {
    TempFolder folder;
    std::ofstream(folder.File("config.ini")) << "[System]\r\nDominame=example.test\r\n[Log]\r\nFilePath=elsewhere\r\n";
    const auto logged = [&](const std::string& log_folder) {
        std::string text;
        for (const auto& file : std::filesystem::directory_iterator(folder.File(log_folder))) {
            std::ifstream in(file.path());
            text.append(std::istreambuf_iterator<char>(in), {});
        }
        return text;
    };
    WriteFolderLog(folder.path(), "first");
    EXPECT_FALSE(FolderExists(folder.File("elsewhere")));
    ASSERT_TRUE(MakeFolders(folder.File("elsewhere")));
    WriteFolderLog(folder.path(), "second");
    const std::string text = logged("elsewhere");
    EXPECT_TRUE(text.ends_with("] second\r\n") && text.find("first") == std::string::npos) << text;
    std::filesystem::remove(folder.File("config.ini"));
    ASSERT_TRUE(MakeFolders(folder.File("log")));
    WriteFolderLog(folder.path(), "third");
    EXPECT_TRUE(logged("log").ends_with("] third\r\n")) << logged("log");
}

}  // namespace
}  // namespace quorvex::app
