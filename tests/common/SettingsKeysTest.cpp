// Every key of config.ini and EmailFilter.ini, one row each: the text a
// fresh start writes for it, the field a hand-written value loads into, and
// the text saved back. A wrong section, key name, default or stored form
// shows up as the row that names it. Also: server threads reading the
// published record while the files change and the record is reloaded.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/AtomicFile.h"
#include "common/IniDocument.h"
#include "common/Paths.h"
#include "common/PasswordScramble.h"
#include "common/ProfileFile.h"
#include "common/ServerSettings.h"
#include "common/SettingsHost.h"
#include "support/TempFolder.h"

namespace quorvex {
namespace {

using testing::TempFolder;
using S = CServerSettings;

struct KeyRow {
    const char* section;
    const char* key;
    std::string fresh;   // written by the first save of a missing file
    std::string given;   // written into the file by hand
    std::function<std::string(const S&)> field;
    std::string loaded;  // the field after loading `given`
    std::string saved;   // written back by the next save
};

#define NUMBER(f) [](const S& s) { return std::to_string(s.f); }
#define TEXT(f) [](const S& s) { return s.f; }

// In the given file: MailServerModel 0 (no forced collection), RunAsService
// on (so AutoRun is saved as 0) and multi-domain mode (so Dominame is
// saved as held).
std::vector<KeyRow> ConfigRows(const std::string& program_folder) {
    return {
        {"System", "MailServerModel", "1", "0", NUMBER(MailServerModel), "0", "0"},
        {"System", "ESMTP", "0", "2", NUMBER(ESMTP), "2", "2"},
        {"System", "FromEqualEsmtpUser", "1", "0", NUMBER(FromEqualEsmtpUser), "0", "0"},
        {"System", "MailProxy", "0", "3", NUMBER(MailProxy), "3", "3"},
        {"System", "RunAsService", "0", "4", NUMBER(RunAsService), "4", "4"},
        {"System", "TerminalServices", "0", "5", NUMBER(TerminalServices), "5", "5"},
        {"System", "OpenRelay", "0", "7", NUMBER(OpenRelay), "7", "1"},
        {"System", "SendOutIfAbsent", "0", "8", NUMBER(SendOutIfAbsent), "8", "1"},
        {"System", "InternetConnectCheck", "0", "-9", NUMBER(InternetConnectCheck), "-9", "1"},
        {"System", "MaxPasswordTries", "3", "11", NUMBER(MaxPasswordTries), "11", "11"},
        {"System", "MaxRcpts", "20", "12", NUMBER(MaxRcpts), "12", "12"},
        {"System", "DomainNameType", "0", "1", NUMBER(DomainNameType), "1", "1"},
        {"system", "Dominame", "mailhost.com", "mail.example.test", TEXT(Dominame), "mail.example.test",
         "mail.example.test"},
        {"System", "EnableHeloDomainIP", "0", "13", NUMBER(EnableHeloDomainIP), "13", "1"},
        {"System", "EnableSignUp", "1", "0", NUMBER(EnableSignUp), "0", "0"},
        {"System", "DNS", kDefaultDnsServer, "127.0.0.53", TEXT(DNS), "127.0.0.53", "127.0.0.53"},
        {"System", "DNSSecondary", kDefaultDnsSecondary, "127.0.0.54", TEXT(DNSSecondary), "127.0.0.54", "127.0.0.54"},
        {"System", "MaxTries", "20", "21", NUMBER(MaxTries), "21", "21"},
        {"System", "NextTryInterval", "10", "22", NUMBER(NextTryInterval), "22", "22"},
        {"System", "MailRelayTo", "0", "23", NUMBER(MailRelayTo), "23", "23"},
        {"System", "RelayServer", "", "relay.example.test", TEXT(RelayServer), "relay.example.test",
         "relay.example.test"},
        {"System", "RelayPort", "25", "2525", NUMBER(RelayPort), "2525", "2525"},
        {"ISPSMTP", "NeedAuth", "0", "24", NUMBER(ISPSMTPNeedAuth), "24", "1"},
        {"ISPSMTP", "UserName", "", "relay-user", TEXT(ISPSMTPUserName), "relay-user", "relay-user"},
        // Scrambled in the file: 999 minus each byte, three digits.
        {"ISPSMTP", "Password", "", "887880", TEXT(ISPSMTPPassword), "pw", "887880"},
        {"System", "ByProxy", "0", "25", NUMBER(ByProxy), "25", "25"},
        {"Proxy", "Address", "", "proxy.example.test", TEXT(ProxyAddress), "proxy.example.test", "proxy.example.test"},
        {"Proxy", "Port", "1080", "1081", NUMBER(ProxyPort), "1081", "1081"},
        {"Proxy", "Auth", "0", "26", NUMBER(ProxyAuth), "26", "26"},
        {"Proxy", "User", "", "proxy-user", TEXT(ProxyUser), "proxy-user", "proxy-user"},
        {"Proxy", "Pass", "", "proxy pass", TEXT(ProxyPass), "proxy pass", "proxy pass"},
        {"Proxy", "Protocol", "SOCKS5", "HTTP", TEXT(ProxyProtocol), "HTTP", "HTTP"},
        {"Port", "POP3", "110", "1110", NUMBER(POP3Port), "1110", "1110"},
        {"Port", "SMTP", "25", "2526", NUMBER(SMTPPort), "2526", "2526"},
        {"Port", "Admin", "8011", "8012", NUMBER(AdminPort), "8012", "8012"},
        {"System", "NeedAuthorized", "0", "27", NUMBER(NeedAuthorized), "27", "27"},
        {"System", "LocalAbbrv", "0", "28", NUMBER(LocalAbbrv), "28", "28"},
        {"System", "Language", "English", "ChineseGB", TEXT(Language), "ChineseGB", "ChineseGB"},
        {"System", "DefaultVolume", "20", "29", NUMBER(DefaultVolume), "29", "29"},
        {"System", "Minimized", "0", "30", NUMBER(Minimized), "30", "30"},
        {"System", "AutoRun", "1", "6", NUMBER(AutoRun), "6", "0"},
        {"System", "AutoLock", "0", "31", NUMBER(AutoLock), "31", "31"},
        {"AntiVirus", "Enable", "0", "32", NUMBER(AntiVirusEnable), "32", "32"},
        {"AntiVirus", "GateAddress", "127.0.0.1", "127.0.0.2", TEXT(GateAddress), "127.0.0.2", "127.0.0.2"},
        {"AntiVirus", "GatePort", "110", "1100", NUMBER(GatePort), "1100", "1100"},
        {"AntiVirus", "AutoCloseNAVAlert", "0", "33", NUMBER(AutoCloseNAVAlert), "33", "1"},
        {"AntiVirus", "NVATitle", "Norton AntiVirus", "Alert Title", TEXT(NVATitle), "Alert Title", "Alert Title"},
        {"AntiVirus", "NVAClass", "CWebWindow_Class", "AlertClass", TEXT(NVAClass), "AlertClass", "AlertClass"},
        {"System", "EnableMailsCopyTo", "0", "34", NUMBER(EnableMailsCopyTo), "34", "34"},
        {"System", "EnableOutMailsCopyTo", "1", "0", NUMBER(EnableOutMailsCopyTo), "0", "0"},
        {"System", "EnableInMailsCopyTo", "1", "0", NUMBER(EnableInMailsCopyTo), "0", "0"},
        {"System", "MailsCopyTo", "", "copy@example.test", TEXT(MailsCopyTo), "copy@example.test", "copy@example.test"},
        {"Log", "MaxLogLine", "10000", "500", NUMBER(MaxLogLine), "500", "500"},
        // Relative to the program folder in the file, so a copied folder logs into itself.
        {"Log", "FilePath", "log", "logs/mail", TEXT(LogFilePath), JoinPath(program_folder, "logs/mail"),
         "logs/mail"},
        {"Log", "ShowPOP3Remote", "1", "0", NUMBER(ShowPOP3Remote), "0", "0"},
        {"WebMail", "IP", "127.0.0.1", "127.0.0.9;127.0.0.10", TEXT(WebMailIP), "127.0.0.9;127.0.0.10",
         "127.0.0.9;127.0.0.10"},
        {"POP3", "AutoRecvPOP3", "0", "35", NUMBER(AutoRecvPOP3), "35", "35"},
        {"POP3", "TimeIntervalRecvPOP3", "30", "36", NUMBER(TimeIntervalRecvPOP3), "36", "36"},
        {"POP3", "POP3AutoRecvThreadNumber", "1", "4", NUMBER(POP3AutoRecvThreadNumber), "4", "4"},
        {"System", "EnableCatchAll", "0", "37", NUMBER(EnableCatchAll), "37", "37"},
        {"System", "AccountCatchAll", "admin", "catcher", TEXT(AccountCatchAll), "catcher", "catcher"},
        {"System", "PermittedIP", "all", "127.0.0.0", TEXT(PermittedIP), "127.0.0.0", "127.0.0.0"},
        {"System", "MaxMailSize", "-1", "1048576", NUMBER(MaxMailSize), "1048576", "1048576"},
        {"System", "SiteForCheckingOnLine", kDefaultSiteForCheckingOnLine, "check.example.test",
         TEXT(SiteForCheckingOnLine), "check.example.test", "check.example.test"},
        {"System", "StopMSSMTP", "1", "0", NUMBER(StopMSSMTP), "0", "0"},
        {"System", "WelcomeMessage", "", "Hello there", TEXT(WelcomeMessage), "Hello there", "Hello there"},
        {"System", "HideWelcomeMessage", "0", "38", NUMBER(HideWelcomeMessage), "38", "1"},
        {"EmailFilter", "Enable", "0", "39", NUMBER(EmailFilterEnable), "39", "1"},
        {"System", "EnableSystemFilter", "0", "40", NUMBER(EnableSystemFilter), "40", "1"},
        {"System", "EmailFilterSystem", "", "sysfilter", TEXT(EmailFilterSystem), "sysfilter", "sysfilter"},
        {"IPBlock", "Enable", "0", "41", NUMBER(IPBlockEnable), "41", "1"},
        {"System", "ODBCUser", "", "odbc-user", TEXT(ODBCUser), "odbc-user", "odbc-user"},
        {"System", "ODBCPassword", "", "odbc-pass", TEXT(ODBCPassword), "odbc-pass", "odbc-pass"},
        {"AntiSpam", "WhiteList", "", "white@example.test", TEXT(WhiteList), "white@example.test",
         "white@example.test"},
        {"AntiSpam", "Enable", "0", "42", NUMBER(AntiSpamEnable), "42", "1"},
        {"System", "ExecuteSP", "0", "43", NUMBER(ExecuteSP), "43", "1"},
        {"System", "ExecuteSPFirst", "1", "0", NUMBER(ExecuteSPFirst), "0", "0"},
        {"System", "EnableReceipt", "0", "44", NUMBER(EnableReceipt), "44", "1"},
        {"System", "SendIPEmailAddress", "0", "45", NUMBER(SendIPEmailAddress), "45", "1"},
        {"System", "MaxConnectionPerIP", "-1", "46", NUMBER(MaxConnectionPerIP), "46", "46"},
        {"ShortMessage", "IP", "", "127.0.0.11", TEXT(ShortMessageIP), "127.0.0.11", "127.0.0.11"},
        {"ShortMessage", "Port", "7890", "7891", NUMBER(ShortMessagePort), "7891", "7891"},
        {"ShortMessage", "ID", "", "sms-id", TEXT(ShortMessageID), "sms-id", "sms-id"},
        {"ShortMessage", "UserName", "", "sms-user", TEXT(ShortMessageUserName), "sms-user", "sms-user"},
        {"ShortMessage", "Password", "", "sms-pass", TEXT(ShortMessagePassword), "sms-pass", "sms-pass"},
        {"ShortMessage", "Enable", "0", "47", NUMBER(ShortMessageEnable), "47", "1"},
        {"system", "PermittedIPSMTP", "", "127.0.0.12", TEXT(PermittedIPSMTP), "127.0.0.12", "127.0.0.12"},
        {"system", "AnonymousAccount", "", "anon", TEXT(AnonymousAccount), "anon", "anon"},
    };
}

#undef NUMBER
#undef TEXT

class SettingsKeysTest : public ::testing::Test {
protected:
    void SetUp() override {
        ProfileFile::ClearCache();
        SetSettingsHost(SettingsHost{[] { return std::string("MailHost"); }, [] { return std::string("ENU"); },
                                     [](bool, const std::string&) { return true; }});
        auto published = std::make_shared<CServerSettings>();
        published->SetProgramFolder(temp_.path());
        PublishSettings(published);
    }
    void TearDown() override {
        SetSettingsHost({});
        PublishSettings(std::make_shared<CServerSettings>());
    }

    S Loaded() {
        S settings;
        settings.SetProgramFolder(temp_.path());
        settings.Load();
        return settings;
    }
    IniDocument Read(const std::string& name) {
        std::string text;
        ReadWholeFile(temp_.File(name), text);
        return IniDocument::Parse(text);
    }

    TempFolder temp_;
};

TEST_F(SettingsKeysTest, AFreshStartWritesEveryKeyWithItsDefault) {
    S settings = Loaded();
    ASSERT_TRUE(settings.Save());
    const IniDocument config = Read("config.ini");
    for (const KeyRow& row : ConfigRows(temp_.path())) {
        SCOPED_TRACE(std::string(row.section) + "/" + row.key);
        const auto value = config.Find(row.section, row.key);
        ASSERT_TRUE(value.has_value());
        EXPECT_EQ(*value, row.fresh);
    }
    EXPECT_EQ(config.Find("ColumnWidths", "QuorvexServerListView"), kDefaultColumnWidths);
    const IniDocument filter = Read("EmailFilter.ini");
    EXPECT_EQ(filter.Find("From", "Count"), "0");
    EXPECT_EQ(filter.Find("IP", "Count"), "0");
    // Loading what was saved gives the same record again.
    EXPECT_EQ(Loaded(), settings);
}

TEST_F(SettingsKeysTest, EveryKeyLoadsIntoItsFieldAndIsSavedBackInItsForm) {
    const auto rows = ConfigRows(temp_.path());
    IniDocument given;
    for (const KeyRow& row : rows) ASSERT_TRUE(given.Set(row.section, row.key, row.given));
    ASSERT_TRUE(AtomicWriteFile(temp_.File("config.ini"), given.Format()));
    ASSERT_TRUE(AtomicWriteFile(temp_.File("EmailFilter.ini"),
                                "[From]\r\nCount=2\r\nFrom1=spam@example.test\r\nFrom2=@junk.test\r\n"
                                "[IP]\r\nCount=1\r\nIP1=127.0.1.1-127.0.1.9\r\n"));
    MakeFolders(temp_.File("Language"));
    ASSERT_TRUE(AtomicWriteFile(temp_.File("Language/ChineseGB.ini"), ""));

    S settings = Loaded();
    EXPECT_EQ(settings.refused_values(), std::vector<std::string>{});
    for (const KeyRow& row : rows) {
        EXPECT_EQ(row.field(settings), row.loaded) << row.section << "/" << row.key;
    }
    EXPECT_EQ(settings.FromList, (std::vector<std::string>{"spam@example.test", "@junk.test"}));
    EXPECT_EQ(settings.IPList, std::vector<std::string>{"127.0.1.1-127.0.1.9"});

    ASSERT_TRUE(settings.Save());
    const IniDocument config = Read("config.ini");
    for (const KeyRow& row : rows) {
        EXPECT_EQ(config.Find(row.section, row.key).value_or("(missing)"), row.saved)
            << row.section << "/" << row.key;
    }
    const IniDocument filter = Read("EmailFilter.ini");
    EXPECT_EQ(filter.Find("From", "Count"), "2");
    EXPECT_EQ(filter.Find("From", "From2"), "@junk.test");
    EXPECT_EQ(filter.Find("IP", "Count"), "1");
    EXPECT_EQ(filter.Find("IP", "IP1"), "127.0.1.1-127.0.1.9");
    // Flags were saved as "1": the record loaded from the saved files is a
    // fixed point, saved again byte for byte.
    std::string first_text, second_text;
    ASSERT_TRUE(ReadWholeFile(temp_.File("config.ini"), first_text));
    S again = Loaded();
    EXPECT_EQ(again.OpenRelay, 1);
    ASSERT_TRUE(again.Save());
    ASSERT_TRUE(ReadWholeFile(temp_.File("config.ini"), second_text));
    EXPECT_EQ(second_text, first_text);
    EXPECT_EQ(Loaded(), again);
}

TEST_F(SettingsKeysTest, SectionAndKeyNamesIgnoreCase) {
    ASSERT_TRUE(AtomicWriteFile(temp_.File("config.ini"),
                                "[SYSTEM]\r\nmaxrcpts=77\r\nDOMINAME=upper.example.test\r\n"
                                "[port]\r\nsmtp=2626\r\n[proxy]\r\nPROTOCOL=HTTPS\r\n"));
    const S settings = Loaded();
    EXPECT_EQ(settings.MaxRcpts, 77);
    EXPECT_EQ(settings.Dominame, "upper.example.test");
    EXPECT_EQ(settings.SMTPPort, 2626);
    EXPECT_EQ(settings.ProxyProtocol, "HTTPS");
}

// Server threads keep reading the published record while the files are
// rewritten and reloaded: every snapshot is one whole version, never a mix
// of two, and every text field is whole.
TEST_F(SettingsKeysTest, ReadersNeverSeeATornRecordWhileFilesAreReloaded) {
    const std::string saved_folder = ProgramFolder();
    SetProgramFolder(temp_.path());
    struct Version {
        std::string text;  // DNS, DNSSecondary, WelcomeMessage and RelayServer all hold this (fits them all)
        int port;          // SMTP port
    };
    const Version versions[] = {{"first-" + std::string(200, 'a'), 2101}, {"second-" + std::string(900, 'b'), 2102}};
    auto write_version = [&](const Version& v) {
        IniDocument doc;
        for (const char* key : {"DNS", "DNSSecondary", "WelcomeMessage", "RelayServer"}) doc.Set("System", key, v.text);
        doc.Set("Port", "SMTP", std::to_string(v.port));
        return AtomicWriteFile(temp_.File("config.ini"), doc.Format());
    };
    ASSERT_TRUE(write_version(versions[0]));
    ReloadSettings();

    std::atomic<bool> done{false};
    std::atomic<long> torn{0}, reads{0};
    auto reader = [&] {
        while (!done) {
            const auto s = Settings();
            const bool whole = (s->DNS == versions[0].text && s->SMTPPort == versions[0].port) ||
                               (s->DNS == versions[1].text && s->SMTPPort == versions[1].port);
            if (!whole || s->DNSSecondary != s->DNS || s->WelcomeMessage != s->DNS || s->RelayServer != s->DNS) ++torn;
            ++reads;
        }
    };
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i) readers.emplace_back(reader);
    for (int round = 0; round < 60; ++round) {
        ASSERT_TRUE(write_version(versions[round % 2]));
        const auto loaded = ReloadSettings();
        EXPECT_EQ(loaded->SMTPPort, versions[round % 2].port);
    }
    done = true;
    for (auto& t : readers) t.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(Settings()->SMTPPort, versions[1].port);
    SetProgramFolder(saved_folder);
}

}  // namespace
}  // namespace quorvex
