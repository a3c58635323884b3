// The settings window's transaction without its widgets: the domain
// operations on the working tables, what OK writes (both domain tables in
// one rewrite, QuorvexCOM.ini with the ports in use, nothing when nothing
// changed), a config.ini changed behind the window's back, and the service
// switch that decides "RunAsService".
#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/ServerSettings.h"
#include "common/SettingsHost.h"
#include "gui/logic/ServiceSwitch.h"
#include "gui/logic/SettingsForm.h"
#include "support/TempFolder.h"
#include "tests/support/ScopedProcessState.h"

namespace quorvex::gui {
namespace {

using quorvex::testing::TempFolder;

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class FakeSwitch final : public ServiceSwitch {
public:
    bool available() const override { return true; }
    std::optional<std::string> SwitchOn() override {
        calls.push_back("on");
        return error;
    }
    std::optional<std::string> SwitchOff() override {
        calls.push_back("off");
        return error;
    }
    std::optional<std::string> error;
    std::vector<std::string> calls;
};

class SettingsFormTest : public ::testing::Test {
protected:
    quorvex::testing::ScopedProcessState process_state_;  // restored last
    void SetUp() override {
        SetProgramFolder(home.path());
        SetSettingsHost(SettingsHost{[] { return std::string("box"); }, [] { return std::string("ENU"); },
                                     [this](bool enabled, const std::string&) {
                                         autostart.push_back(enabled);
                                         return true;
                                     }});
        std::ofstream(home.File("config.ini"), std::ios::binary)
            << "[System]\r\nDominame=example.test\r\nDomainNameType=0\r\nMaxTries=20\r\n"
               "[Port]\r\nSMTP=2525\r\nPOP3=1110\r\nAdmin=8011\r\n";
        std::ofstream(home.File("QuorvexCOM.ini"), std::ios::binary) << "[Port]\r\nSMTP=25\r\n";
        ProfileFile::ClearCache();
        ReloadSettings();
    }
    std::string Config(const char* section, const char* key) const {
        return ReadProfileString(home.File("config.ini"), section, key, "<none>");
    }

    TempFolder home;
    PublishedSettings published;
    std::vector<bool> autostart;
    FakeSwitch service;
};

TEST_F(SettingsFormTest, DomainOperations) {
    SettingsForm form(published);
    struct Step {
        const char* operation;
        int index;
        const char* name;
        DomainRefusal refusal;
        std::vector<std::string> names_after;
    };
    const Step steps[] = {
        {"add", 0, " Example.COM ", DomainRefusal::kNone, {"example.com"}},
        {"add", 0, "EXAMPLE.com", DomainRefusal::kDuplicate, {"example.com"}},
        {"add", 0, "  ", DomainRefusal::kEmptyName, {"example.com"}},
        {"add", 0, "other.test", DomainRefusal::kNone, {"example.com", "other.test"}},
        {"edit", 1, "Example.com", DomainRefusal::kDuplicate, {"example.com", "other.test"}},
        {"edit", 0, "EXAMPLE.COM", DomainRefusal::kNone, {"example.com", "other.test"}},
        {"edit", 2, "x.test", DomainRefusal::kNoSelection, {"example.com", "other.test"}},
        {"remove", -1, "", DomainRefusal::kNoSelection, {"example.com", "other.test"}},
        {"remove", 0, "", DomainRefusal::kNone, {"other.test"}},
    };
    for (const Step& step : steps) {
        DomainInput input{step.name, 5, 100, 30};
        const std::string operation = step.operation;
        const DomainRefusal refusal = operation == "add"    ? form.AddDomain(input)
                                      : operation == "edit" ? form.EditDomain(step.index, input)
                                                            : form.RemoveDomain(step.index);
        EXPECT_EQ(refusal, step.refusal) << operation << " " << step.name;
        std::vector<std::string> names;
        for (const DomainRecord& record : form.multi_table().records()) names.push_back(record.Name);
        EXPECT_EQ(names, step.names_after) << operation << " " << step.name;
    }
    DomainRecord kept;
    ASSERT_TRUE(form.multi_table().Get(0, kept));
    EXPECT_EQ(kept.MaxAccounts, 5);
    EXPECT_EQ(kept.MailboxDefaultSize, 30);

    while (form.multi_table().GetCount() < kMaxDomains) {
        ASSERT_EQ(form.AddDomain({"d" + std::to_string(form.multi_table().GetCount()) + ".test", -1, -1, 20}),
                  DomainRefusal::kNone);
    }
    EXPECT_EQ(form.AddDomain({"one-more.test", -1, -1, 20}), DomainRefusal::kTableFull);

    EXPECT_EQ(form.EditSingleDomain({" Mail.Example.NET ", 3, -1, 10}), DomainRefusal::kNone);
    EXPECT_EQ(form.work().Dominame, "mail.example.net");
    EXPECT_EQ(form.EditSingleDomain({"", 3, -1, 10}), DomainRefusal::kEmptyName);
    EXPECT_EQ(form.SingleDomainInput().max_accounts, 3);
}

TEST_F(SettingsFormTest, OkWritesBothTablesAndKeepsThePortsInUse) {
    SettingsForm form(published);
    form.work().DomainNameType = DomainTable::kMultiDomain;
    form.work().SMTPPort = 2626;
    ASSERT_EQ(form.AddDomain({" Example.COM ", 5, 100, 20}), DomainRefusal::kNone);
    ASSERT_EQ(form.EditSingleDomain({"Single.Test", 7, 70, 15}), DomainRefusal::kNone);
    const CommitResult result = form.Commit(service, app::ComponentPorts{2525, 1110, 8011});
    EXPECT_TRUE(result.written);
    EXPECT_TRUE(result.ports_wait_for_start);
    EXPECT_FALSE(result.save_failed);
    EXPECT_TRUE(service.calls.empty());

    EXPECT_EQ(Config("System", "DomainNameType"), "1");
    EXPECT_EQ(Config("DomainName", "Count"), "1");
    EXPECT_EQ(Config("DomainName", "DN1"), "example.com");
    EXPECT_EQ(Config("DomainName", "DNAccount1"), "5");
    EXPECT_EQ(Config("DomainName", "DNSpace1"), "100");
    // The single domain's values are kept for a later switch back.
    EXPECT_EQ(Config("System", "Dominame"), "single.test");
    EXPECT_EQ(Config("DomainName", "DomainMaxAccount"), "7");
    EXPECT_EQ(Config("DomainName", "MailboxDefaultSize"), "15");

    // The web component keeps connecting to the listeners until they start
    // on the new port.
    EXPECT_EQ(Config("Port", "SMTP"), "2626");
    const std::string com = home.File("QuorvexCOM.ini");
    const std::pair<const char*, const char*> in_use[] = {{"SMTP", "2525"}, {"POP3", "1110"}, {"Admin", "8011"}};
    for (const auto& [key, port] : in_use) EXPECT_EQ(ReadProfileString(com, "Port", key), port) << key;
    EXPECT_EQ(ReadProfileString(com, "system", "Dominame", "<none>"), "") << "several domains: none named";

    // Published for every later connection.
    EXPECT_EQ(Settings()->SMTPPort, 2626);
    EXPECT_EQ(Settings()->Domains.Find("example.com"), 0);
}

TEST_F(SettingsFormTest, OkWithoutChangesWritesNothing) {
    const std::string before = ReadBytes(home.File("config.ini"));
    const FileRevision revision = RevisionOf(home.File("config.ini"));
    SettingsForm form(published);
    // Edits undone before OK count as no change.
    form.work().MaxTries = 3;
    form.work().MaxTries = 20;
    form.work().Dominame = "  Example.TEST ";
    const CommitResult result = form.Commit(service);
    EXPECT_FALSE(result.written);
    EXPECT_EQ(ReadBytes(home.File("config.ini")), before);
    EXPECT_EQ(RevisionOf(home.File("config.ini")), revision);
    EXPECT_TRUE(autostart.empty());
}

TEST_F(SettingsFormTest, ChangeOnDiskIsSeenAndTheDomainsReread) {
    // Reading a config.ini without column widths adds them: that is not a
    // change made by somebody else.
    ASSERT_TRUE(ProfileFile(home.File("config.ini")).DeleteSection("ColumnWidths"));
    SettingsForm form(published);
    EXPECT_EQ(Config("ColumnWidths", "QuorvexServerListView"), kDefaultColumnWidths);
    form.work().MaxTries = 7;
    EXPECT_FALSE(form.ChangedOnDisk());
    // The account server adds a domain meanwhile.
    ASSERT_TRUE(ProfileFile(home.File("config.ini")).Edit([](IniDocument& doc) {
        return doc.Set("DomainName", "Count", "1") && doc.Set("DomainName", "DN1", "added.test") &&
               doc.Set("System", "MaxRcpts", "33");
    }));
    EXPECT_TRUE(form.ChangedOnDisk());
    form.ReloadFromDisk();
    EXPECT_FALSE(form.ChangedOnDisk());
    EXPECT_EQ(form.multi_table().Find("added.test"), 0);
    EXPECT_EQ(form.work().MaxTries, 7) << "the window's own edits stay";
    form.Commit(service);
    EXPECT_EQ(Config("DomainName", "DN1"), "added.test");
    EXPECT_EQ(Config("System", "MaxTries"), "7");
    EXPECT_EQ(Config("System", "MaxRcpts"), "33") << "a key changed meanwhile is not put back";
}

TEST_F(SettingsFormTest, DomainEditsAreLaidOverTheFilesListAfterAReload) {
    ASSERT_TRUE(ProfileFile(home.File("config.ini")).Edit([](IniDocument& doc) {
        return doc.Set("DomainName", "Count", "3") && doc.Set("DomainName", "DN1", "one.test") &&
               doc.Set("DomainName", "DN2", "two.test") && doc.Set("DomainName", "DN3", "three.test");
    }));
    SettingsForm form(published);
    ASSERT_EQ(form.RemoveDomain(0), DomainRefusal::kNone);
    ASSERT_EQ(form.EditDomain(0, DomainInput{"two.test", 9, -1, 20}), DomainRefusal::kNone);
    ASSERT_EQ(form.AddDomain(DomainInput{"mine.test", -1, -1, 20}), DomainRefusal::kNone);
    ASSERT_EQ(form.EditSingleDomain(DomainInput{"example.test", 4, -1, 20}), DomainRefusal::kNone);
    // The account server meanwhile adds a domain and drops another.
    ASSERT_TRUE(ProfileFile(home.File("config.ini")).Edit([](IniDocument& doc) {
        return doc.Set("DomainName", "Count", "3") && doc.Set("DomainName", "DN1", "one.test") &&
               doc.Set("DomainName", "DN2", "two.test") && doc.Set("DomainName", "DN3", "added.test");
    }));
    form.ReloadFromDisk();
    std::vector<std::string> names;
    for (const DomainRecord& record : form.multi_table().records()) names.push_back(record.Name);
    EXPECT_EQ(names, (std::vector<std::string>{"two.test", "added.test", "mine.test"}));
    EXPECT_EQ(form.multi_table().records()[0].MaxAccounts, 9) << "the user's edit of a line stays";
    EXPECT_EQ(form.SingleDomainInput().max_accounts, 4) << "the single domain's limits as the user set them";
}

TEST_F(SettingsFormTest, ServiceSwitchDecidesRunAsService) {
    struct Case {
        int stored;
        std::optional<std::string> error;
        std::string call;
        std::string saved;
        bool quit;
    };
    const Case cases[] = {
        {0, std::nullopt, "on", "1", true},
        {0, "systemctl enable QuorvexServer.service: Access denied", "on", "0", false},
        {1, std::nullopt, "off", "0", false},
        {1, "cannot remove", "off", "1", false},
    };
    for (const Case& c : cases) {
        ProfileFile(home.File("config.ini")).WriteString("System", "RunAsService", std::to_string(c.stored));
        ReloadSettings();
        FakeSwitch fake;
        fake.error = c.error;
        SettingsForm form(published);
        form.work().RunAsService = c.stored == 0 ? 1 : 0;
        form.work().MaxTries = 9;  // saved either way
        const CommitResult result = form.Commit(fake);
        EXPECT_EQ(fake.calls, std::vector<std::string>{c.call});
        EXPECT_EQ(result.service_error, c.error);
        EXPECT_EQ(result.quit_for_service(), c.quit);
        EXPECT_FALSE(result.ports_wait_for_start);
        EXPECT_EQ(Config("System", "RunAsService"), c.saved) << c.call;
        EXPECT_EQ(Config("System", "MaxTries"), "9");
        EXPECT_EQ(Settings()->RunAsService, std::stoi(c.saved));
        ProfileFile(home.File("config.ini")).WriteString("System", "MaxTries", "20");
    }
}

TEST_F(SettingsFormTest, SystemdSwitchWritesAndEnablesTheUnitThroughTheRunner) {
    const std::string units = home.File("units");
    MakeFolders(units);
    std::vector<std::vector<std::string>> commands;
    int failing_enable = 0;
    app::ServiceOptions options{units,
                                [&](const std::vector<std::string>& argv) {
                                    commands.push_back(argv);
                                    if (argv.size() > 1 && argv[1] == "enable" && failing_enable) {
                                        return CommandResult{1, "Failed to enable unit: Access denied\n"};
                                    }
                                    return CommandResult{0, ""};
                                },
                                "/usr/bin/QuorvexServer", home.path()};
    SystemdServiceSwitch service_switch(options, true);
    EXPECT_EQ(service_switch.SwitchOn(), std::nullopt);
    const std::string unit = JoinPath(units, "QuorvexServer.service");
    EXPECT_NE(ReadBytes(unit).find("ExecStart=\"/usr/bin/QuorvexServer\" -service"), std::string::npos);
    const std::vector<std::string> enable{"systemctl", "enable", "QuorvexServer.service"};
    EXPECT_NE(std::find(commands.begin(), commands.end(), enable), commands.end());
    for (const auto& command : commands) EXPECT_NE(command[1], "start") << "the program starts it when it ends";

    EXPECT_EQ(service_switch.SwitchOff(), std::nullopt);
    EXPECT_FALSE(FileExists(unit));

    failing_enable = 1;
    const auto error = service_switch.SwitchOn();
    ASSERT_TRUE(error);
    EXPECT_EQ(*error, "systemctl enable QuorvexServer.service: Failed to enable unit: Access denied");
    EXPECT_FALSE(FileExists(unit));
}

}  // namespace
}  // namespace quorvex::gui
