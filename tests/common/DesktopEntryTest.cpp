// Shortcuts as desktop entries: the exact text with its quoting, files that
// desktop-file-validate accepts, launcher modes, refusal of line breaks,
// and the desktop, start-up and autostart entries in their folders.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "common/AtomicFile.h"
#include "common/DesktopEntry.h"
#include "common/Paths.h"
#include "common/SystemLocations.h"
#include "support/CommandOutput.h"
#include "support/ScopedEnv.h"
#include "support/TempFolder.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

std::string Slurp(const std::string& path) {
    std::string text;
    ReadWholeFile(path, text);
    return text;
}

// desktop-file-validate's verdict: empty when the file is valid, else its
// complaints.
std::string ValidatorComplaints(const std::string& path) {
    const CommandResult result = RunCommand({"desktop-file-validate", path});
    if (result.exit_status == 0 && result.output.find("error") == std::string::npos) return "";
    return result.output.empty() ? "exit status " + std::to_string(result.exit_status) : result.output;
}

TEST(DesktopEntry, TextWithItsQuoting) {
    struct Case {
        const char* target;
        const char* folder;
        const char* exec;
        const char* path;
    } cases[] = {
        {"/usr/bin/QuorvexServer", "/srv/mail", "env QUORVEX_HOME=/srv/mail /usr/bin/QuorvexServer", "/srv/mail"},
        // Blanks and shell characters: quoted, with $ ` " \ escaped inside;
        // the string escape then doubles every backslash.
        {"/opt/My Mail/Quorvex$Server", "/opt/My Mail",
         "env \"QUORVEX_HOME=/opt/My Mail\" \"/opt/My Mail/Quorvex\\\\$Server\"", "/opt/My Mail"},
        {"/opt/a\"b`c", "/opt", "env QUORVEX_HOME=/opt \"/opt/a\\\\\"b\\\\`c\"", "/opt"},
        // Field codes are never left in: % is always doubled.
        {"/opt/100%/run", "/opt/100%", "env QUORVEX_HOME=/opt/100%% /opt/100%%/run", "/opt/100%"},
        {"/opt/tab\there", "/opt/back\\slash",
         "env \"QUORVEX_HOME=/opt/back\\\\\\\\slash\" \"/opt/tab\\there\"", "/opt/back\\\\slash"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        const std::string want = std::string("[Desktop Entry]\nType=Application\nVersion=1.0\nName=QuorvexServer\n") +
                                 "Comment=" + c.path + "\nExec=" + c.exec + "\nPath=" + c.path +
                                 "\nTerminal=false\n";
        EXPECT_EQ(FormatDesktopEntry("QuorvexServer", c.target, c.folder), want);
    }
}

TEST(DesktopEntry, LinkFilesAreValidLaunchers) {
    TempFolder temp;
    struct Case {
        const char* target;
        const char* link;
    } cases[] = {
        {"/opt/quorvex/QuorvexServer", "Desktop/QuorvexServer.desktop"},
        {"/opt/My Mail/Quorvex$Server", "new/folder/My Link.desktop"},
        {"/opt/100%/run", "percent.desktop"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.link);
        const std::string link = temp.File(c.link);
        ASSERT_EQ(CreateShellLink(c.target, link, std::string(DirName(c.target))), 0);
        EXPECT_EQ(ValidatorComplaints(link), "");
        struct stat st {};
        ASSERT_EQ(::stat(link.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        // The name is the link file's name without ".desktop".
        std::string name(BaseName(c.link));
        name.resize(name.size() - kDesktopEntrySuffix.size());
        EXPECT_NE(Slurp(link).find("\nName=" + name + "\n"), std::string::npos);
    }
    // Rewriting a link whose mode was changed makes it a launcher again.
    const std::string link = temp.File("percent.desktop");
    ASSERT_EQ(::chmod(link.c_str(), 0644), 0);
    ASSERT_EQ(CreateShellLink("/bin/true", link, "/bin"), 0);
    struct stat st {};
    ASSERT_EQ(::stat(link.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(DesktopEntry, LineBreaksAreRefusedAndNothingIsWritten) {
    TempFolder temp;
    const std::string link = temp.File("evil.desktop");
    EXPECT_LT(CreateShellLink("/bin/true\nExec=/bin/rm -rf ~", link, "/bin"), 0);
    EXPECT_LT(CreateShellLink("/bin/true", link, "/bin\r"), 0);
    EXPECT_LT(CreateShellLink("/bin/true", "", "/bin"), 0);
    EXPECT_FALSE(fs::exists(link));
    // A folder where the link's folder should be cannot be made.
    ASSERT_TRUE(AtomicWriteFile(temp.File("blocker"), "x"));
    EXPECT_LT(CreateShellLink("/bin/true", temp.File("blocker/x.desktop"), "/bin"), 0);
}

class ShortcutTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetProgramFolder(temp_.File("program"));  // put back in TearDown
        SetSystemLocations(SystemLocations{"", "", temp_.File("Desktop"), temp_.File("autostart")});
    }
    void TearDown() override {
        SetSystemLocations({});
        SetProgramFolder(saved_program_folder_);
    }

    const std::string saved_program_folder_ = ProgramFolder();
    TempFolder temp_;
};

TEST_F(ShortcutTest, DesktopAndStartupShortcutsStartTheProgramOnItsFolder) {
    // An installed program lives apart from the folder it runs on.
    const std::string program = "/usr/local/bin/QuorvexServer";
    ASSERT_EQ(CreateDesktopShortcut(program), 0);
    ASSERT_EQ(CreateStartupShortcut(program), 0);
    for (const std::string& link : {temp_.File("Desktop/QuorvexServer.desktop"),
                                    temp_.File("autostart/QuorvexServer.desktop")}) {
        SCOPED_TRACE(link);
        const std::string text = Slurp(link);
        EXPECT_NE(text.find("\nExec=env QUORVEX_HOME=" + temp_.File("program") + " " + program + "\n"),
                  std::string::npos) << text;
        EXPECT_NE(text.find("\nPath=" + temp_.File("program") + "\n"), std::string::npos) << text;
        EXPECT_EQ(ValidatorComplaints(link), "");
    }
}

TEST_F(ShortcutTest, ShortcutsWithoutAFolderFail) {
    SetSystemLocations(SystemLocations{"", "", "", ""});
    testing::ScopedEnv no_home("HOME", std::nullopt);
    testing::ScopedEnv no_config("XDG_CONFIG_HOME", std::nullopt);
    const std::string program = "/opt/quorvex/QuorvexServer";
    EXPECT_LT(CreateDesktopShortcut(program), 0);
    EXPECT_LT(CreateStartupShortcut(program), 0);
    EXPECT_FALSE(WriteAutostartEntry(&program));
}

TEST_F(ShortcutTest, AutostartEntryComesAndGoes) {
    const std::string entry = temp_.File("autostart/QuorvexServer.desktop");
    const std::string program = "/opt/quorvex/QuorvexServer";
    ASSERT_TRUE(WriteAutostartEntry(&program));
    const std::string text = Slurp(entry);
    EXPECT_NE(text.find("\nExec=env QUORVEX_HOME=" + temp_.File("program") + " /opt/quorvex/QuorvexServer\n"),
              std::string::npos) << text;
    EXPECT_NE(text.find("\nPath=" + temp_.File("program") + "\n"), std::string::npos) << text;
    EXPECT_EQ(ValidatorComplaints(entry), "");
    EXPECT_TRUE(WriteAutostartEntry(nullptr));
    EXPECT_FALSE(fs::exists(entry));
    EXPECT_FALSE(WriteAutostartEntry(nullptr));  // nothing left to remove
}

}  // namespace
}  // namespace quorvex
