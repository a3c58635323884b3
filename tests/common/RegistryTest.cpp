// Registry string values kept in profile files: where each root lives,
// values that read back exactly as written, the 1,024-byte read limit,
// deletion, and refusal of line breaks.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "common/AtomicFile.h"
#include "common/IniDocument.h"
#include "common/Registry.h"
#include "common/SystemLocations.h"
#include "support/ScopedEnv.h"
#include "support/TempFolder.h"

namespace quorvex {
namespace {

using testing::TempFolder;

constexpr const char* kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetSystemLocations(SystemLocations{temp_.File("machine"), temp_.File("user/QuorvexServer"), "", ""});
    }
    void TearDown() override { SetSystemLocations({}); }

    std::string FileText(RegistryRoot root) {
        std::string text;
        ReadWholeFile(RegistryFilePath(root), text);
        return text;
    }

    TempFolder temp_;
};

TEST_F(RegistryTest, EachRootHasItsOwnFileMadeOwnerOnly) {
    EXPECT_EQ(RegistryFilePath(RegistryRoot::kLocalMachine), temp_.File("machine/registry.ini"));
    EXPECT_EQ(RegistryFilePath(RegistryRoot::kCurrentUser), temp_.File("user/QuorvexServer/registry.ini"));

    const std::string program = "/opt/quorvex/QuorvexServer";
    ASSERT_EQ(WriteRegistryString(RegistryRoot::kLocalMachine, kRunKey, "QuorvexServer", &program), 1);
    const std::string desktop = "/home/u/Desktop";
    ASSERT_EQ(WriteRegistryString(RegistryRoot::kCurrentUser, "Explorer\\Shell Folders", "Desktop", &desktop), 1);

    // The subkey path is the section, the value name the key.
    const IniDocument machine = IniDocument::Parse(FileText(RegistryRoot::kLocalMachine));
    EXPECT_EQ(machine.Find(kRunKey, "QuorvexServer"), program);
    EXPECT_FALSE(IniDocument::Parse(FileText(RegistryRoot::kCurrentUser)).Find(kRunKey, "QuorvexServer"));

    for (const std::string& path : {temp_.File("machine/registry.ini"), temp_.File("user/QuorvexServer/registry.ini")}) {
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0) << path;
        EXPECT_EQ(st.st_mode & 0777, 0600u) << path;
    }
    struct stat folder {};
    ASSERT_EQ(::stat(temp_.File("user/QuorvexServer").c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 0777, 0700u);
}

TEST_F(RegistryTest, ValuesReadBackExactly) {
    const std::string values[] = {
        "plain", "", "  padded both sides  ", "\"quoted\"", "'single'", "a=b=c", "; not a comment",
        "[not a section]", "back\\slash", "tab\there", "\xe4\xb8\xad\xe6\x96\x87", std::string(1023, 'v'),
    };
    for (const std::string& value : values) {
        SCOPED_TRACE(value.substr(0, 40));
        ASSERT_EQ(WriteRegistryString(RegistryRoot::kLocalMachine, kRunKey, "Value", &value), 1);
        std::string out = "stale";
        EXPECT_EQ(ReadRegistryString(RegistryRoot::kLocalMachine, kRunKey, "Value", out), 1);
        EXPECT_EQ(out, value);
        // Subkey paths and value names compare without regard to case.
        EXPECT_EQ(ReadRegistryString(RegistryRoot::kLocalMachine, "software\\MICROSOFT\\windows\\currentversion\\run",
                                     "value", out),
                  1);
        EXPECT_EQ(out, value);
    }
}

TEST_F(RegistryTest, ValuesOf1024BytesOrMoreAreNotRead) {
    struct Case {
        std::size_t length;
        int want;
    } cases[] = {{1022, 1}, {1023, 1}, {1024, 0}, {1025, 0}, {100000, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        const std::string value(c.length, 'x');
        ASSERT_EQ(WriteRegistryString(RegistryRoot::kLocalMachine, "Limits", "Long", &value), 1);
        std::string out = "stale";
        EXPECT_EQ(ReadRegistryString(RegistryRoot::kLocalMachine, "Limits", "Long", out), c.want);
        EXPECT_EQ(out, c.want ? value : "");
    }
}

TEST_F(RegistryTest, MissingValuesAndDeletion) {
    std::string out = "stale";
    // Nothing written yet: no file at all.
    EXPECT_EQ(ReadRegistryString(RegistryRoot::kLocalMachine, kRunKey, "QuorvexServer", out), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(WriteRegistryString(RegistryRoot::kLocalMachine, kRunKey, "QuorvexServer", nullptr), 0);

    const std::string program = "/opt/quorvex/QuorvexServer", other = "keep me";
    ASSERT_EQ(WriteRegistryString(RegistryRoot::kLocalMachine, kRunKey, "QuorvexServer", &program), 1);
    ASSERT_EQ(WriteRegistryString(RegistryRoot::kLocalMachine, kRunKey, "Other", &other), 1);
    const std::string before = FileText(RegistryRoot::kLocalMachine);
    // Deleting a value that is not there fails and changes nothing.
    EXPECT_EQ(WriteRegistryString(RegistryRoot::kLocalMachine, kRunKey, "Missing", nullptr), 0);
    EXPECT_EQ(WriteRegistryString(RegistryRoot::kLocalMachine, "No\\Such\\Key", "QuorvexServer", nullptr), 0);
    EXPECT_EQ(FileText(RegistryRoot::kLocalMachine), before);

    EXPECT_EQ(WriteRegistryString(RegistryRoot::kLocalMachine, kRunKey, "QuorvexServer", nullptr), 1);
    EXPECT_EQ(ReadRegistryString(RegistryRoot::kLocalMachine, kRunKey, "QuorvexServer", out), 0);
    EXPECT_EQ(ReadRegistryString(RegistryRoot::kLocalMachine, kRunKey, "Other", out), 1);
    EXPECT_EQ(out, other);
    EXPECT_EQ(WriteRegistryString(RegistryRoot::kLocalMachine, kRunKey, "QuorvexServer", nullptr), 0);
}

TEST_F(RegistryTest, LineBreaksAreRefusedAndNothingIsWritten) {
    const std::string good = "good";
    ASSERT_EQ(WriteRegistryString(RegistryRoot::kLocalMachine, kRunKey, "QuorvexServer", &good), 1);
    const std::string before = FileText(RegistryRoot::kLocalMachine);
    for (const std::string bad : {"x\r\n[Injected]\r\nk=v", "x\ny", "x\r"}) {
        EXPECT_EQ(WriteRegistryString(RegistryRoot::kLocalMachine, kRunKey, "QuorvexServer", &bad), 0);
    }
    EXPECT_EQ(WriteRegistryString(RegistryRoot::kLocalMachine, "Bad\nKey", "QuorvexServer", &good), 0);
    EXPECT_EQ(WriteRegistryString(RegistryRoot::kLocalMachine, kRunKey, "Bad\rName", &good), 0);
    EXPECT_EQ(FileText(RegistryRoot::kLocalMachine), before);
}

TEST_F(RegistryTest, ARootWithoutAFolderHoldsNothing) {
    SetSystemLocations(SystemLocations{temp_.File("machine"), "", "", ""});
    testing::ScopedEnv no_home("HOME", std::nullopt);
    testing::ScopedEnv no_config("XDG_CONFIG_HOME", std::nullopt);
    const std::string value = "v";
    std::string out = "stale";
    EXPECT_EQ(RegistryFilePath(RegistryRoot::kCurrentUser), "");
    EXPECT_EQ(WriteRegistryString(RegistryRoot::kCurrentUser, kRunKey, "QuorvexServer", &value), 0);
    EXPECT_EQ(ReadRegistryString(RegistryRoot::kCurrentUser, kRunKey, "QuorvexServer", out), 0);
    EXPECT_EQ(out, "");
}

}  // namespace
}  // namespace quorvex
