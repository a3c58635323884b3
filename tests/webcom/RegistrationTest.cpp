// Self-registration: the entries written into the registration file, what
// re-registering and unregistering replace and keep, and the mail server's
// own call of the real library's exports, which must leave the calling
// program as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "common/AtomicFile.h"
#include "common/ComRegistration.h"
#include "common/RunFlag.h"
#include "support/TempFolder.h"
#include "webcom/registry/ComClasses.h"
#include "webcom/registry/ComRegistrationFile.h"

namespace quorvex::webcom {
namespace {

using testing::TempFolder;

constexpr const char* kPop3Clsid = "CLSID\\{6971D9B8-B53E-4C25-A414-76199768A592}";

std::optional<std::string> Value(const IniDocument& doc, std::string_view section, std::string_view key = "@") {
    const auto value = doc.Find(section, key);
    return value ? std::optional<std::string>(std::string(*value)) : std::nullopt;
}

bool HasOurSection(const IniDocument& doc) {
    for (const std::string& name : doc.SectionNames())
        if (name.starts_with("QuorvexCOM.") || name.find("{6971D9B8") != std::string::npos ||
            name.find("{0609792F") != std::string::npos || name.find("{8E7523FF") != std::string::npos ||
            name.find("{1A3CFD4E") != std::string::npos || name.find("{EDBA334C") != std::string::npos)
            return true;
    return false;
}

TEST(Registration, WritesEveryClassAndReplacesOnlyItsOwnKeys) {
    IniDocument doc = IniDocument::Parse(
        "[CLSID\\{00000000-0000-0000-0000-000000000001}]\r\n@=Other Class\r\n"
        "[CLSID\\{6971D9B8-B53E-4C25-A414-76199768A592}\\Obsolete]\r\n@=old\r\n"
        "[QuorvexCOM.POP3]\r\nExtra=kept\r\n");
    AddRegistration(doc, "/srv/q/QuorvexCOM.so");
    for (const ComClass& cls : ComClasses()) {
        const std::string progid(cls.progid), clsid_key = "CLSID\\" + std::string(cls.clsid);
        EXPECT_EQ(Value(doc, progid), std::string(cls.class_text));
        EXPECT_EQ(Value(doc, progid + "\\CLSID"), std::string(cls.clsid));
        EXPECT_EQ(Value(doc, progid + "\\CurVer"), progid + ".1");
        EXPECT_EQ(Value(doc, progid + ".1\\CLSID"), std::string(cls.clsid));
        EXPECT_EQ(Value(doc, clsid_key + "\\ProgID"), progid + ".1");
        EXPECT_EQ(Value(doc, clsid_key + "\\VersionIndependentProgID"), progid);
        EXPECT_EQ(Value(doc, clsid_key + "\\InprocServer32"), "/srv/q/QuorvexCOM.so");
        EXPECT_EQ(Value(doc, clsid_key + "\\InprocServer32", "ThreadingModel"), "Apartment");
        EXPECT_EQ(Value(doc, clsid_key + "\\TypeLib"), "{1A3CFD4E-6AA0-442D-83F4-8BA0C7F29C47}");
        EXPECT_TRUE(doc.HasSection(clsid_key + "\\Programmable"));
    }
    EXPECT_EQ(Value(doc, "TypeLib\\{1A3CFD4E-6AA0-442D-83F4-8BA0C7F29C47}\\1.0"), "QuorvexCOM 1.0 Type Library");
    EXPECT_EQ(Value(doc, "CLSID\\{00000000-0000-0000-0000-000000000001}"), "Other Class");
    EXPECT_FALSE(doc.HasSection(std::string(kPop3Clsid) + "\\Obsolete"));  // the CLSID key is made anew
    EXPECT_EQ(Value(doc, "QuorvexCOM.POP3", "Extra"), "kept");              // ProgID keys are only set

    auto sorted = [](std::vector<std::string> names) {
        std::sort(names.begin(), names.end());
        return names;
    };
    const auto once = sorted(doc.SectionNames());
    AddRegistration(doc, "/srv/q/QuorvexCOM.so");
    EXPECT_EQ(sorted(doc.SectionNames()), once);  // registering again adds nothing twice

    RemoveRegistration(doc);
    EXPECT_FALSE(HasOurSection(doc));
    EXPECT_EQ(Value(doc, "CLSID\\{00000000-0000-0000-0000-000000000001}"), "Other Class");
}

TEST(Registration, TheServersCallLeavesTheCallerAsItWas) {
    TempFolder folder;
    const std::string library = folder.File("QuorvexCOM.so");
    std::filesystem::copy_file(QUORVEX_BINARY_DIR "/webcom/QuorvexCOM.so", library);
    const int run_flag = ServerRunFlag.load();
    ServerRunFlag = 0;

    EXPECT_EQ(RegisterComServer(library), 1);
    EXPECT_EQ(ServerRunFlag.load(), 0);
    std::string text;
    struct stat st {};
    ASSERT_TRUE(ReadWholeFile(folder.File("ComRegistry.ini"), text, &st));
    EXPECT_EQ(st.st_mode & 0777, 0644u);  // web pages read it
    const IniDocument doc = IniDocument::Parse(text);
    EXPECT_EQ(Value(doc, std::string(kPop3Clsid) + "\\InprocServer32"), library);
    EXPECT_EQ(Value(doc, "QuorvexCOM.Admin\\CLSID"), "{8E7523FF-8FDD-445D-AA5F-6CE3664B1204}");

    EXPECT_EQ(UnregisterComServer(library), 1);
    ASSERT_TRUE(ReadWholeFile(folder.File("ComRegistry.ini"), text));
    EXPECT_FALSE(HasOurSection(IniDocument::Parse(text)));
    ServerRunFlag = run_flag;
}

TEST(Registration, AnUnwritableFolderFailsTheExport) {
    // A folder that is a file stands for one nobody may write to (tests may
    // run as root, whom permissions do not stop).
    TempFolder folder;
    const std::string not_a_folder = folder.File("file");
    ASSERT_TRUE(AtomicWriteFile(not_a_folder, "x"));
    EXPECT_FALSE(RegisterLibrary(not_a_folder + "/QuorvexCOM.so"));
    EXPECT_TRUE(UnregisterLibrary(folder.File("QuorvexCOM.so")));  // nothing registered: nothing to do
    EXPECT_FALSE(std::filesystem::exists(folder.File("ComRegistry.ini")));
}

}  // namespace
}  // namespace quorvex::webcom
