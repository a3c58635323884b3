// Loading and saving config.ini and EmailFilter.ini: defaults, derived
// values, clamping, the text forms written, refusals, and the published
// snapshot that server threads read.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "common/AtomicFile.h"
#include "common/IniDocument.h"
#include "common/ProfileFile.h"
#include "common/ServerSettings.h"
#include "common/SettingRanges.h"
#include "common/SettingsHost.h"
#include "common/SystemLocations.h"
#include "support/TempFolder.h"
#include "tests/support/ScopedProcessState.h"

namespace quorvex {
namespace {

using testing::TempFolder;

class SettingsFileTest : public ::testing::Test {
protected:
    quorvex::testing::ScopedProcessState process_state_;  // restored last
    void SetUp() override {
        ProfileFile::ClearCache();
        SetSettingsHost(SettingsHost{
            [this] { return computer_name_; },
            [this] { return locale_; },
            [this](bool enabled, const std::string& program) {
                autostart_calls_.push_back(enabled);
                EXPECT_FALSE(program.empty());
                return true;
            },
        });
        // The error log of these tests goes to the temporary folder too.
        auto published = std::make_shared<CServerSettings>();
        published->SetProgramFolder(temp_.path());
        published->LogFilePath = temp_.File("log");
        PublishSettings(published);
    }
    CServerSettings Loaded() {
        CServerSettings settings;
        settings.SetProgramFolder(temp_.path());
        settings.Load();
        return settings;
    }
    void WriteConfig(const std::string& text) { std::ofstream(temp_.File("config.ini"), std::ios::binary) << text; }
    void WriteFilter(const std::string& text) {
        std::ofstream(temp_.File("EmailFilter.ini"), std::ios::binary) << text;
    }
    IniDocument Read(const std::string& name) {
        std::string text;
        ReadWholeFile(temp_.File(name), text);
        return IniDocument::Parse(text);
    }
    std::string ErrorLog() {
        std::string text;
        ReadWholeFile(temp_.File("log/quorvexlog.txt"), text);
        return text;
    }

    TempFolder temp_;
    std::string computer_name_ = "MailHost";
    std::string locale_ = "ENU";
    std::vector<bool> autostart_calls_;
};

TEST_F(SettingsFileTest, MissingFilesGiveEveryDefault) {
    const CServerSettings s = Loaded();
    EXPECT_FALSE(s.load_failed());
    EXPECT_EQ(s.Dominame, "mailhost.com");
    EXPECT_EQ(s.Language, "English");
    EXPECT_EQ(s.LogFilePath, temp_.File("log"));
    const std::pair<int, int> numbers[] = {
        {s.MailServerModel, 1}, {s.FromEqualEsmtpUser, 1}, {s.MaxPasswordTries, 3}, {s.MaxRcpts, 20},
        {s.EnableSignUp, 1},    {s.MaxTries, 20},          {s.NextTryInterval, 10}, {s.RelayPort, 25},
        {s.ProxyPort, 1080},    {s.POP3Port, 110},         {s.SMTPPort, 25},        {s.AdminPort, 8011},
        {s.DefaultVolume, 20},  {s.AutoRun, 1},            {s.GatePort, 110},       {s.EnableOutMailsCopyTo, 1},
        {s.MaxLogLine, 10000},  {s.ShowPOP3Remote, 1},     {s.TimeIntervalRecvPOP3, 30},
        {s.MaxMailSize, -1},    {s.StopMSSMTP, 1},         {s.ExecuteSPFirst, 1},   {s.MaxConnectionPerIP, -1},
        {s.ShortMessagePort, 7890}, {s.AutoRecvPOP3, 0},   {s.DomainNameType, 0},
    };
    for (std::size_t i = 0; i < std::size(numbers); ++i) EXPECT_EQ(numbers[i].first, numbers[i].second) << i;
    EXPECT_EQ(s.ProxyProtocol, "SOCKS5");
    EXPECT_EQ(s.GateAddress, "127.0.0.1");
    EXPECT_EQ(s.WebMailIP, "127.0.0.1");
    EXPECT_EQ(s.AccountCatchAll, "admin");
    EXPECT_EQ(s.PermittedIP, "all");
    EXPECT_EQ(s.NVATitle, "Norton AntiVirus");
    EXPECT_FALSE(s.DNS.empty());
    EXPECT_TRUE(s.FromList.empty() && s.IPList.empty());
    // Single-domain mode: one record named after Dominame.
    ASSERT_EQ(s.Domains.GetCount(), 1);
    EXPECT_EQ(s.Domains.records()[0].Name, "mailhost.com");
    // Loading writes only the account view's column widths.
    const IniDocument config = Read("config.ini");
    EXPECT_EQ(config.SectionNames(), std::vector<std::string>{"ColumnWidths"});
    EXPECT_EQ(config.Find("ColumnWidths", "QuorvexServerListView"), kDefaultColumnWidths);
}

TEST_F(SettingsFileTest, EmptyValuesTakeADefaultOnlyWhereOneIsDerived) {
    WriteConfig(
        "[system]\r\nDominame=\r\nDNS=\r\nRelayServer=\r\nLanguage=\r\nAccountCatchAll=\r\n"
        "[Log]\r\nFilePath=\r\n"
        "[ColumnWidths]\r\nQuorvexServerListView=10,20,\r\n");
    const CServerSettings s = Loaded();
    EXPECT_EQ(s.Dominame, "mailhost.com");
    EXPECT_EQ(s.DNS, kDefaultDnsServer);
    EXPECT_EQ(s.Language, "English");
    EXPECT_EQ(s.LogFilePath, temp_.File("log"));
    EXPECT_EQ(s.RelayServer, "");
    EXPECT_EQ(s.AccountCatchAll, "");
    EXPECT_EQ(Read("config.ini").Find("ColumnWidths", "QuorvexServerListView"), "10,20,");
}

// A value its key cannot take is named with its file, key and value and
// what the key takes; a missing key takes its default. Start-up then
// writes and publishes nothing.
TEST_F(SettingsFileTest, ValuesTheirKeysCannotTakeAreRefused) {
    SetProgramFolder(temp_.path());
    const struct {
        const char* config;
        const char* filter;
        const char* refusal;  // after "The settings file <folder>/"; null: taken
    } cases[] = {
        {"[Port]\r\nPOP3= 110 \r\n[System]\r\nMaxMailSize=-1\r\nESMTP=5\r\nNextTryInterval=0\r\nLanguage=English\r\n",
         "", nullptr},
        {"[System]\r\nLanguage=Dutch\r\n", "", nullptr},
        {"[Port]\r\nPOP3=70000\r\n", "",
         "config.ini gives [Port] POP3 the value \"70000\", which is not a port number from 1 to 65535."},
        {"[System]\r\nMaxMailSize=10MB\r\n", "",
         "config.ini gives [System] MaxMailSize the value \"10MB\", which is not -1 (no limit) or a whole number "
         "from 1 to 2147483647."},
        {"[System]\r\nESMTP=yes\r\n", "",
         "config.ini gives [System] ESMTP the value \"yes\", which is not a whole number (0 is off, any other number "
         "on)."},
        {"[System]\r\nMaxTries=0\r\n", "",
         "config.ini gives [System] MaxTries the value \"0\", which is not a whole number from 1 to 1000."},
        {"[System]\r\nMaxConnectionPerIP=-2\r\n", "",
         "config.ini gives [System] MaxConnectionPerIP the value \"-2\", which is not -1 (50 at once) or a whole "
         "number from 1 to 100."},
        {"[system]\r\nDominame=\r\n", "",
         "config.ini gives [System] Dominame the value \"\", which is not the name of the mail domain."},
        {"[Port]\r\nSMTP=2525\r\nAdmin=2525\r\n", "",
         "config.ini gives [Port] SMTP and [Port] Admin the same value \"2525\": the SMTP and account servers cannot "
         "share a port."},
        {"[DomainName]\r\nCount=1\r\nDNSpace1=lots\r\n", "",
         "config.ini gives [DomainName] DNSpace1 the value \"lots\", which is not -1 (no limit) or a whole number "
         "from 0 to 1073741824."},
        {"", "[IP]\r\nCount=two\r\n",
         "EmailFilter.ini gives [IP] Count the value \"two\", which is not a whole number from 0 to 100."},
        {"[DomainName]\r\nCount=501\r\n", "",
         "config.ini gives [DomainName] Count the value \"501\", which is not a whole number from 0 to 500."},
        {"[System]\r\nSocketIdleTimeout=2147483647\r\n", "",
         "config.ini gives [System] SocketIdleTimeout the value \"2147483647\", which is not a whole number from 1 "
         "to 525600."},
        {"[System]\r\nMailThreadNum=3000\r\n", "",
         "config.ini gives [System] MailThreadNum the value \"3000\", which is not a whole number from 1 to 100."},
        {"[system]\r\nCloseMode=abc\r\n", "",
         "config.ini gives [system] CloseMode the value \"abc\", which is not a whole number from 0 to 1."},
        {"[System]\r\nLanguage=German\r\n", "",
         "config.ini gives [System] Language the value \"German\", which is not a language with a file in "},
    };
    std::filesystem::create_directory(temp_.path() + "/Language");
    AtomicWriteFile(temp_.path() + "/Language/Dutch.ini", "[String]\r\n");
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.config) + c.filter);
        WriteConfig(c.config);
        WriteFilter(c.filter);
        ProfileFile::ClearCache();
        const auto before = Settings();
        std::vector<std::string> refused;
        EXPECT_EQ(LoadAndSaveSettingsAtStartup(&refused), c.refusal == nullptr);
        if (c.refusal == nullptr) {
            EXPECT_TRUE(refused.empty()) << refused[0];
            continue;
        }
        ASSERT_EQ(refused.size(), 1u);
        // The folders looked in close the language's refusal.
        EXPECT_EQ(refused[0].substr(0, refused[0].find(temp_.path() + "/Language")),
                  "The settings file " + temp_.path() + "/" + c.refusal);
        EXPECT_EQ(Read("config.ini").Format(), IniDocument::Parse(c.config).Format());
        EXPECT_EQ(Settings(), before);
    }
    // The settings window's working copy, by the same rules.
    CServerSettings record = Loaded();
    record.MaxTries = 0;
    record.Dominame.clear();
    record.POP3Port = record.SMTPPort;
    EXPECT_EQ(record.CheckValues(),
              (std::vector<std::string>{
                  "[System] MaxTries of config.ini cannot be 0: it takes a whole number from 1 to 1000.",
                  "[System] Dominame of config.ini cannot be empty: it takes the name of the mail domain.",
                  "[Port] SMTP and [Port] POP3 of config.ini cannot both be 25: the SMTP and POP3 servers cannot "
                  "share a port."}));
}

TEST(SettingRanges, PortValuesMustBeWholeNumbersFromOneTo65535) {
    const std::pair<const char*, bool> cases[] = {
        {"25", true},   {"1", true},   {"65535", true}, {" 110 ", true}, {"0", false},    {"65536", false},
        {"-1", false},  {"abc", false}, {"25x", false},  {"", false},     {"0x19", false}, {"999999", false},
        {"99999999999999999999", false},
    };
    for (const auto& [value, sound] : cases) {
        EXPECT_EQ(NumberInRange(value, kPortRange).has_value(), sound) << '"' << value << '"';
    }
}

TEST_F(SettingsFileTest, LanguageFollowsTheLocale) {
    const struct {
        const char* abbreviation;
        const char* language;
    } cases[] = {{"CHS", "ChineseGB"}, {"cht", "ChineseBig5"}, {"DEU", "English"}, {"", "English"}};
    for (const auto& c : cases) {
        locale_ = c.abbreviation;
        EXPECT_EQ(Loaded().Language, c.language) << c.abbreviation;
    }
}

TEST_F(SettingsFileTest, SavedValuesLoadBackUnchanged) {
    CServerSettings s = Loaded();
    s.MailServerModel = 0;
    s.Dominame = "example.test";
    s.DNS = "127.0.0.53";
    s.MaxTries = 7;
    s.RelayServer = "relay.example.test";
    s.ISPSMTPUserName = "relay-user";
    s.ISPSMTPPassword = "s3cr\xe9t pass";
    s.ProxyProtocol = "HTTP";
    s.SMTPPort = 2525;
    s.Language = "ChineseGB";  // a language with a file
    std::filesystem::create_directory(temp_.File("Language"));
    AtomicWriteFile(temp_.File("Language/ChineseGB.ini"), "");
    s.GateAddress = "10.9.8.7";
    s.LogFilePath = temp_.File("logs");
    s.WelcomeMessage = "Welcome to the test server";
    s.EmailFilterEnable = 1;
    s.FromList = {"spam@example.test", "@junk.test"};
    s.IPList = {"127.0.0.2", "127.0.1.1-127.0.1.9"};
    s.ShortMessagePassword = "sms";
    s.PermittedIPSMTP = "127.0.0.1;127.0.0.2";
    s.AnonymousAccount = "anon";
    s.MaxMailSize = 1 << 20;
    ASSERT_TRUE(s.Save());
    // Single-domain mode: saving the table puts its one name in Dominame.
    EXPECT_EQ(s.Dominame, "mailhost.com");
    const CServerSettings back = Loaded();
    EXPECT_EQ(back, s);

    const IniDocument config = Read("config.ini");
    const std::vector<std::string> system_start = {"MailServerModel", "ESMTP", "FromEqualEsmtpUser", "MailProxy",
                                                   "RunAsService", "DomainNameType", "Dominame", "DNS"};
    const auto keys = config.KeyNames("System");
    ASSERT_GE(keys.size(), system_start.size());
    EXPECT_EQ(std::vector<std::string>(keys.begin(), keys.begin() + 8), system_start);
    EXPECT_EQ(config.Find("ISPSMTP", "Password").value_or("").find_first_not_of("0123456789"), std::string::npos);
    EXPECT_EQ(config.Find("ISPSMTP", "Password")->size(), 3 * s.ISPSMTPPassword.size());
    EXPECT_EQ(Read("EmailFilter.ini").Find("IP", "IP2"), "127.0.1.1-127.0.1.9");
}

TEST_F(SettingsFileTest, SaveAppliesItsThreeRules) {
    WriteConfig("[System]\r\nRunAsService=1\r\nAutoRun=1\r\nMailServerModel=2\r\nOpenRelay=5\r\n"
                "[POP3]\r\nAutoRecvPOP3=0\r\n");
    CServerSettings s = Loaded();
    EXPECT_EQ(s.AutoRecvPOP3, 1);  // model 2 collects remote mail whatever the file says
    EXPECT_EQ(s.OpenRelay, 5);     // any nonzero value is on
    s.AutoRecvPOP3 = 0;
    ASSERT_TRUE(s.Save());
    EXPECT_EQ(s.AutoRun, 0);
    EXPECT_EQ(s.AutoRecvPOP3, 1);
    const IniDocument config = Read("config.ini");
    EXPECT_EQ(config.Find("System", "AutoRun"), "0");
    EXPECT_EQ(config.Find("POP3", "AutoRecvPOP3"), "1");
    EXPECT_EQ(config.Find("System", "OpenRelay"), "1");
    EXPECT_EQ(autostart_calls_, std::vector<bool>{false});

    s.RunAsService = 0;
    s.AutoRun = 1;
    ASSERT_TRUE(s.Save());
    EXPECT_EQ(autostart_calls_, (std::vector<bool>{false, true}));
}

TEST_F(SettingsFileTest, AutoRunKeepsTheAutostartEntryInStep) {
    SetSettingsHost(SettingsHost{[] { return std::string("box"); }, nullptr, nullptr});
    SetSystemLocations(SystemLocations{"", "", "", temp_.File("autostart")});
    const std::string entry = temp_.File("autostart/QuorvexServer.desktop");
    CServerSettings s = Loaded();
    s.AutoRun = 1;
    ASSERT_TRUE(s.Save());
    std::string text;
    ASSERT_TRUE(ReadWholeFile(entry, text));
    EXPECT_NE(text.find("Exec="), std::string::npos);
    s.RunAsService = 1;
    ASSERT_TRUE(s.Save());
    EXPECT_FALSE(std::filesystem::exists(entry));
    SetSystemLocations({});
}

TEST_F(SettingsFileTest, BlockListsAreClampedAndCut) {
    std::string filter = "[From]\r\nCount=250\r\n";
    for (int i = 1; i <= 250; ++i) filter += "From" + std::to_string(i) + "=user" + std::to_string(i) + "@x.test\r\n";
    filter += "[IP]\r\nCount=-4\r\nIP1=127.0.0.9\r\n";
    WriteFilter(filter);
    CServerSettings s = Loaded();
    ASSERT_EQ(s.FromList.size(), 100u);
    EXPECT_EQ(s.FromList[99], "user100@x.test");
    EXPECT_TRUE(s.IPList.empty());

    s.FromList = {std::string(300, 'a'), "b@x.test"};
    ASSERT_TRUE(s.Save());
    const IniDocument saved = Read("EmailFilter.ini");
    EXPECT_EQ(saved.Find("From", "Count"), "2");
    EXPECT_EQ(saved.Find("From", "From3"), "user3@x.test");  // above Count: kept, never read
    EXPECT_EQ(saved.Find("IP", "Count"), "0");
    const CServerSettings back = Loaded();
    EXPECT_EQ(back.FromList, (std::vector<std::string>{std::string(260, 'a'), "b@x.test"}));
}

TEST_F(SettingsFileTest, RelayPasswordKeepsWhatItsFieldHolds) {
    CServerSettings s = Loaded();
    s.ISPSMTPPassword = std::string(400, 'p');
    ASSERT_TRUE(s.Save());
    EXPECT_EQ(s.ISPSMTPPassword, std::string(341, 'p'));
    EXPECT_EQ(Loaded().ISPSMTPPassword, std::string(341, 'p'));
}

TEST_F(SettingsFileTest, NeverSavesOverAFileItCouldNotRead) {
    struct Case {
        const char* unreadable;
    } cases[] = {{"config.ini"}, {"EmailFilter.ini"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.unreadable);
        TempFolder folder;
        // A folder in the file's place cannot be read, even by root.
        std::filesystem::create_directory(folder.File(c.unreadable));
        CServerSettings s;
        s.SetProgramFolder(folder.path());
        s.Load();
        EXPECT_TRUE(s.load_failed());
        EXPECT_FALSE(s.Save());
        EXPECT_TRUE(std::filesystem::is_directory(folder.File(c.unreadable)));
        EXPECT_FALSE(std::filesystem::exists(folder.File("QuorvexCOM.ini")));
    }
    EXPECT_NE(ErrorLog().find("not saved"), std::string::npos);

    // Readable at load, unreadable at save: refused as well.
    CServerSettings s = Loaded();
    std::filesystem::remove(temp_.File("config.ini"));
    std::filesystem::create_directory(temp_.File("config.ini"));
    EXPECT_FALSE(s.Save());
}

TEST_F(SettingsFileTest, RefusesLineBreaksButWritesEverythingElse) {
    WriteConfig("[System]\r\nWelcomeMessage=old greeting\r\n");
    CServerSettings s = Loaded();
    s.WelcomeMessage = "two\r\nlines";
    s.MaxRcpts = 99;
    EXPECT_FALSE(s.Save());
    const IniDocument config = Read("config.ini");
    EXPECT_EQ(config.Find("System", "WelcomeMessage"), "old greeting");
    EXPECT_EQ(config.Find("System", "MaxRcpts"), "99");
    EXPECT_NE(ErrorLog().find("[System] WelcomeMessage not written"), std::string::npos) << ErrorLog();
}

TEST_F(SettingsFileTest, SaveKeepsUnknownKeysAndComments) {
    WriteConfig("; administrator notes\r\n[System]\r\nPassword=digest\r\nMailThreadNum=5\r\n[Database]\r\nCount=0\r\n");
    CServerSettings s = Loaded();
    ASSERT_TRUE(s.Save());
    std::string text;
    ReadWholeFile(temp_.File("config.ini"), text);
    EXPECT_TRUE(text.starts_with("; administrator notes\r\n[System]\r\nPassword=digest\r\nMailThreadNum=5\r\n"));
    EXPECT_EQ(Read("config.ini").Find("Database", "Count"), "0");
}

TEST_F(SettingsFileTest, StartUpPublishesTheRecordItSaved) {
    SetProgramFolder(temp_.path());
    WriteConfig("[Port]\r\nSMTP=2525\r\n");
    EXPECT_TRUE(LoadAndSaveSettingsAtStartup());
    EXPECT_EQ(Settings()->SMTPPort, 2525);
    EXPECT_EQ(Read("config.ini").Find("Port", "POP3"), "110");
    WriteConfig("[Port]\r\nSMTP=2626\r\n");
    EXPECT_EQ(ReloadSettings()->SMTPPort, 2626);
    EXPECT_EQ(Settings()->SMTPPort, 2626);
}

TEST_F(SettingsFileTest, ReadersNeverSeeAHalfPublishedRecord) {
    UpdateSettings([](CServerSettings& s) { s.DNS = s.DNSSecondary = s.Dominame = "start"; });
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!done) {
            const auto s = Settings();
            if (s->DNS != s->DNSSecondary || s->Dominame.size() != s->DNS.size()) ++torn;
        }
    });
    for (int i = 0; i < 2000; ++i) {
        UpdateSettings([i](CServerSettings& s) {
            s.DNS = s.DNSSecondary = s.Dominame = std::string(static_cast<std::size_t>(i % 97) + 1, 'a' + i % 26);
        });
    }
    done = true;
    reader.join();
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(Settings()->DNS, std::string(1999 % 97 + 1, static_cast<char>('a' + 1999 % 26)));
}

}  // namespace
}  // namespace quorvex
