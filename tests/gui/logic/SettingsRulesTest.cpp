// The rules of the settings window: domain names, block-list entries, the
// white list, the language files offered, the log folder from the chooser
// and the web server's restart command.
#include <gtest/gtest.h>

#include <fstream>

#include "common/Paths.h"
#include "gui/logic/SettingsRules.h"
#include "support/ScopedEnv.h"
#include "support/TempFolder.h"

namespace quorvex::gui {
namespace {

using quorvex::testing::TempFolder;

TEST(SettingsRules, DomainNamesAreTrimmedAndLowered) {
    struct Case {
        std::string typed;
        std::optional<std::string> name;  // CleanDomainName
        std::string dominame;             // CleanDominame
    };
    const Case cases[] = {
        {" Example.COM ", "example.com", "example.com"},
        {"\tMail.Example.Org\r\n", "mail.example.org", "\tmail.example.org\r\n"},
        {"", std::nullopt, ""},
        {"   ", std::nullopt, ""},
        {std::string(300, 'A'), std::string(300, 'a'), std::string(260, 'a')},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CleanDomainName(c.typed), c.name) << c.typed;
        EXPECT_EQ(CleanDominame(c.typed), c.dominame) << c.typed;
    }
    EXPECT_EQ(SingleLine(std::string("a\r\nb\0c", 7)), "abc");
}

TEST(SettingsRules, BlockListEntries) {
    struct Case {
        const char* entry;
        IpEntryCheck check;
    };
    const Case addresses[] = {
        {"1.2.3.4", IpEntryCheck::kValid},
        {"127.0.0.2-127.0.0.2", IpEntryCheck::kValid},
        {"10.0.0.1-10.0.0.255", IpEntryCheck::kValid},
        {"1.2.3.4-x", IpEntryCheck::kNotAnAddress},
        {"1.2.3", IpEntryCheck::kNotAnAddress},
        {"1.2.3.256", IpEntryCheck::kNotAnAddress},
        {"", IpEntryCheck::kNotAnAddress},
        {"-1.2.3.4", IpEntryCheck::kNotAnAddress},
        {"1.2.3.9-1.2.3.4", IpEntryCheck::kReversedRange},
    };
    for (const Case& c : addresses) EXPECT_EQ(CheckIpEntry(c.entry), c.check) << c.entry;

    struct Sender {
        const char* entry;
        bool valid;
    };
    const Sender senders[] = {
        {"@spam.example", true}, {"bad@spam.example", true}, {"bad guy@spam.example", false},
        {"spam.example", false}, {"@", false},               {"a@b@c", false},
        {"@.example", false},    {"", false},
    };
    for (const Sender& s : senders) EXPECT_EQ(IsValidSenderEntry(s.entry), s.valid) << s.entry;
}

TEST(SettingsRules, WhiteListDropsEmptyEntries) {
    EXPECT_EQ(CleanWhiteList("a@x.test; ;@y.test;;"), "a@x.test;@y.test");
    EXPECT_EQ(CleanWhiteList(";"), "");
    EXPECT_EQ(CleanWhiteList(""), "");
}

TEST(SettingsRules, LanguagesOfferedAndSelectedExactly) {
    TempFolder home;
    TempFolder installed;
    MakeFolders(home.File("Language"));
    MakeFolders(installed.File("Language"));
    for (const char* name : {"English.ini", "Foo.ini", "FooBar.INI", "notes.txt", "bad name.ini"}) {
        std::ofstream(home.File(std::string("Language/") + name)) << "[String]\n";
    }
    for (const char* name : {"english.ini", "ChineseGB.ini", "x y.ini"}) {
        std::ofstream(installed.File(std::string("Language/") + name)) << "[String]\n";
    }
    const std::vector<std::string> names = ScanLanguages(home.path(), installed.path());
    EXPECT_EQ(names, (std::vector<std::string>{"ChineseGB", "English", "Foo", "FooBar"}));
    EXPECT_EQ(ScanLanguages(installed.File("none"), installed.path()),
              (std::vector<std::string>{"ChineseGB", "english"}))
        << "a program folder without its own Language folder";
    EXPECT_EQ(FindLanguage(names, "foo"), 2) << "a whole name, not the first name it begins";
    EXPECT_EQ(FindLanguage(names, "english"), 1);
    EXPECT_EQ(FindLanguage(names, "Fo"), -1);
    EXPECT_EQ(FindLanguage(names, "../x"), -1);
}

TEST(SettingsRules, LogFolderFromChosen) {
    EXPECT_EQ(LogFolderFromChosen("/srv/mail/"), "/srv/mail/Log");
    EXPECT_EQ(LogFolderFromChosen("/srv/mail"), "/srv/mail/Log");
    EXPECT_EQ(LogFolderFromChosen("/"), "/Log");
    EXPECT_EQ(LogFolderFromChosen("/" + std::string(254, 'a')), "/" + std::string(254, 'a') + "/Log");
    EXPECT_EQ(LogFolderFromChosen("/" + std::string(255, 'a')), std::nullopt) << "260 characters with /Log";
}

TEST(SettingsRules, WebServerRestartCommand) {
    {
        quorvex::testing::ScopedEnv unset("QUORVEX_APACHECTL", std::nullopt);
        EXPECT_EQ(WebServerRestartCommand(), (std::vector<std::string>{"apachectl", "-k", "graceful"}));
    }
    quorvex::testing::ScopedEnv set("QUORVEX_APACHECTL", "/opt/web/apachectl");
    EXPECT_EQ(WebServerRestartCommand(), (std::vector<std::string>{"/opt/web/apachectl", "-k", "graceful"}));
}

}  // namespace
}  // namespace quorvex::gui
