// QuorvexCOM.ini: where it is found, its defaults and how its texts are
// read; the component's language; its error log beside the library.
#include <gtest/gtest.h>

#include <fstream>

#include "WebcomTestEnvironment.h"
#include "common/ErrorLog.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "support/TempFolder.h"
#include "webcom/admin/CAdmin.h"
#include "webcom/module/ComConfig.h"

namespace quorvex::webcom {
namespace {

using testing::TempFolder;

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
    ProfileFile::ClearCache();
}

TEST(ComConfig, FileNamedAfterTheLibraryOrFixed) {
    const struct {
        const char* library;
        const char* config;
    } cases[] = {
        {"/opt/q/QuorvexCOM.so", "/opt/q/QuorvexCOM.ini"},
        {"/opt/q/Other.so", "/opt/q/Other.ini"},
        {"/opt/q/lib.so.1", "/opt/q/lib.so.ini"},
        {"/opt/q.d/QuorvexCOM", "/opt/q.d/QuorvexCOM.ini"},  // a dot in a folder is no extension
    };
    for (const auto& c : cases) EXPECT_EQ(ConfigPathFromLibrary(c.library), c.config) << c.library;
    EXPECT_EQ(FixedConfigPath("/opt/q"), "/opt/q/QuorvexCOM.ini");
}

TEST(ComConfig, MissingFileGivesTheDefaults) {
    TempFolder folder;
    const ComConfig config(folder.File("QuorvexCOM.ini"), folder.path());
    EXPECT_EQ(config.AdminServer().host, "127.0.0.1");
    EXPECT_EQ(config.AdminServer().port, 8011);
    EXPECT_EQ(config.Pop3Server().host, "127.0.0.1");
    EXPECT_EQ(config.Pop3Server().port, 110);
    EXPECT_EQ(config.SmtpServer().host, "127.0.0.1");
    EXPECT_EQ(config.SmtpServer().port, 25);
    EXPECT_EQ(config.Pop3WorkPath(), folder.File("maildata"));
    EXPECT_EQ(config.WebWorkPath(), folder.File("websmtp"));
    EXPECT_EQ(config.Domain(), "");
}

TEST(ComConfig, KeysAreReadAnewAndTextsCutAt259) {
    TempFolder folder;
    const std::string path = folder.File("QuorvexCOM.ini");
    const std::string long_host(300, 'h');
    WriteFile(path, "[System]\r\nPOP3ServerAddr=" + long_host +
                        "\r\nPOP3WorkPath=/srv/mail\r\nDominame=example.test\r\n[port]\r\nPOP3=1100\r\n");
    const ComConfig config(path, folder.path());
    EXPECT_EQ(config.Pop3Server().host, long_host.substr(0, 259));
    EXPECT_EQ(config.Pop3Server().port, 1100);
    EXPECT_EQ(config.Pop3WorkPath(), "/srv/mail");
    EXPECT_EQ(config.Domain(), "example.test");
    WriteFile(path, "[system]\r\nDominame=changed.test\r\n");
    EXPECT_EQ(ComConfig(path, folder.path()).Domain(), "changed.test");
}

TEST(ComConfig, LanguageFromQuorvexComIniThenConfigIni) {
    TempFolder folder;
    EXPECT_EQ(ComponentLanguage(folder.path()), "");
    WriteFile(folder.File("config.ini"), "[System]\r\nLanguage=German\r\n");
    EXPECT_EQ(ComponentLanguage(folder.path()), "German");
    WriteFile(folder.File("QuorvexCOM.ini"), "[system]\r\nLanguage=French\r\n");
    EXPECT_EQ(ComponentLanguage(folder.path()), "French");
}

TEST(ComConfig, ErrorLogIsComlogBesideTheLibraryAndRestarts) {
    CAdmin admin{quorvex::testing::TestLibrary()};  // the first object prepares the component
    const std::string log = JoinPath(testing::WebcomLibraryFolder(), "comlog.txt");
    EXPECT_EQ(ErrorLogPath(), log);
    WriteFile(log, std::string(kErrorLogRestartBytes + 1, 'x'));
    QUORVEX_ERROR_LOG("component line");
    std::ifstream in(log, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_LT(text.size(), 200u);
    EXPECT_NE(text.find("ComConfigTest.cpp("), std::string::npos);
    EXPECT_TRUE(text.ends_with("component line\r\n"));
}

}  // namespace
}  // namespace quorvex::webcom
