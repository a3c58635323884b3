// The settings window driven through its buttons: several domains set up
// from the main window end up in config.ini, QuorvexCOM.ini and the domain
// selector; Cancel on the advanced sheet writes nothing; a page never shown
// writes nothing; the service switch with an injected systemctl; block-list
// entries refused with their reason, and an accepted range blocking exactly
// its addresses at the greeting of the running SMTP server.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QListWidget>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>

#include "GuiTestSupport.h"
#include "app/ServerWiring.h"
#include "common/RunFlag.h"
#include "common/SettingsHost.h"
#include "gui/frame/MainFrame.h"
#include "gui/logic/LogFiles.h"
#include "gui/logic/ServiceSwitch.h"
#include "gui/settings/AdvancedDlg.h"
#include "gui/settings/OptionDialogs.h"
#include "gui/settings/SettingDlg.h"
#include "gui/settings/SettingsDialogs.h"
#include "gui/settings/SettingsStrings.h"
#include "gui/support/GuiStrings.h"
#include "gui/support/WidgetTranslator.h"
#include "servers/jobs/JobTable.h"
#include "servers/jobs/ServerListener.h"
#include "support/TestPorts.h"

namespace quorvex::gui::testing {
namespace {

// Presses the button named `name` through click() rather than a mouse
// event.
void Press(QWidget& parent, const char* name) {
    if (auto* button = Find<QAbstractButton>(parent, name)) button->click();
}

// Runs `act` once on the modal dialog named `name` as soon as it is up. A
// dialog that never comes leaves the test's modal dialogs cancelled after
// a few seconds instead of hanging.
void OnModal(const char* name, std::function<void(QDialog&)> act) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    auto ticks = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, ticks, wanted = QString::fromLatin1(name), act] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog && dialog->objectName() == wanted) {
            timer->stop();
            timer->deleteLater();
            act(*dialog);
        } else if (++*ticks > 500) {
            ADD_FAILURE() << "no dialog " << wanted.toStdString();
            timer->stop();
            timer->deleteLater();
            if (dialog) dialog->reject();
        }
    });
    timer->start();
}

class SettingsDialogsTest : public GuiFolderTest {
protected:
    void SetUp() override {
        GuiFolderTest::SetUp();
        // Saving follows AutoRun with the autostart entry: recorded, never
        // written into the real home folder.
        SetSettingsHost(SettingsHost{nullptr, nullptr, [this](bool enabled, const std::string&) {
                                         autostart.push_back(enabled);
                                         return true;
                                     }});
        MakeFolders(home.File("units"));
        WriteFile(home.File("QuorvexCOM.ini"), "[Port]\r\nSMTP=25\r\n");
    }
    void TearDown() override {
        SetSettingsHost({});
        GuiFolderTest::TearDown();
    }

    // The service switch over a unit folder of the test and a systemctl
    // that records its commands and refuses "enable" when told to.
    std::unique_ptr<SystemdServiceSwitch> MakeServiceSwitch() {
        app::ServiceOptions options{home.File("units"),
                                    [this](const std::vector<std::string>& argv) {
                                        systemctl.push_back(argv);
                                        if (refuse_enable && argv.size() > 1 && argv[1] == "enable") {
                                            return CommandResult{1, "Access denied\n"};
                                        }
                                        return CommandResult{0, ""};
                                    },
                                    "/usr/bin/QuorvexServer", home.path()};
        return std::make_unique<SystemdServiceSwitch>(std::move(options), true);
    }

    std::string Config(const char* section, const char* key) const {
        return ReadProfileString(home.File("config.ini"), section, key, "<none>");
    }

    std::vector<bool> autostart;
    std::vector<std::vector<std::string>> systemctl;
    bool refuse_enable = false;
};

TEST_F(SettingsDialogsTest, SeveralDomainsFromTheMainWindow) {
    services.ports_in_use = {25, 110, 8011};  // the listeners run on the default ports
    // An account named for one domain: the switch asks first, and a No
    // saves nothing.
    ASSERT_TRUE(CreateAccount("alice"));
    prompts.answers = {false, true};
    auto service = MakeServiceSwitch();
    dialogs.Register(DialogKind::kSettings, SettingsDialogRunner(services, *service));
    MainFrame frame(services, nullptr, ProcessNoticeBus());
    frame.show();

    OnModal("settingDialog", [this](QDialog& settings) {
        Find<QRadioButton>(settings, "multipleDomain")->click();
        EXPECT_FALSE(Find<QLineEdit>(settings, "domainName")->isEnabled());
        EXPECT_TRUE(Find<QListWidget>(settings, "domainList")->isEnabled());
        // OK without a name: the defaults come back and nothing is added.
        OnModal("domainInputDialog", [](QDialog& input) {
            EXPECT_EQ(Find<QSpinBox>(input, "domainMailboxes")->value(), -1);
            EXPECT_EQ(Find<QSpinBox>(input, "domainSpace")->value(), -1);
            EXPECT_EQ(Find<QSpinBox>(input, "defaultMailboxSize")->value(), 20);
            Press(input, "ok");
        });
        Press(settings, "addDomain");
        EXPECT_TRUE(prompts.Saw(Tr(kTextDomainNameEmpty)));
        OnModal("domainInputDialog", [](QDialog& input) {
            QTest::keyClicks(Find<QLineEdit>(input, "domainName"), " Example.COM ");
            Find<QSpinBox>(input, "domainMailboxes")->setValue(5);
            Find<QSpinBox>(input, "domainSpace")->setValue(100);
            Press(input, "ok");
        });
        Press(settings, "addDomain");
        EXPECT_EQ(Find<QListWidget>(settings, "domainList")->count(), 2);
        Press(settings, "ok");
        EXPECT_TRUE(prompts.Saw(FormatText(Tr(kTextAccountsOutsideModeFormat), {"1", "alice"})));
        EXPECT_EQ(Config("System", "DomainNameType"), "<none>");
        Press(settings, "ok");
    });
    frame.action(Command::kConfiguration)->trigger();

    EXPECT_EQ(Config("System", "DomainNameType"), "1");
    // The domain served so far stays served, first in the list.
    EXPECT_EQ(Config("DomainName", "Count"), "2");
    EXPECT_EQ(Config("DomainName", "DN1"), "example.test");
    EXPECT_EQ(Config("DomainName", "DN2"), "example.com");
    EXPECT_EQ(Config("DomainName", "DNAccount2"), "5");
    EXPECT_EQ(Config("DomainName", "DNSpace2"), "100");
    for (const char* key : {"SMTP", "POP3", "Admin"}) {
        EXPECT_EQ(ReadProfileString(home.File("QuorvexCOM.ini"), "Port", key, "<none>"), Config("Port", key)) << key;
    }
    EXPECT_FALSE(prompts.Saw(Tr(kTextPortsAtNextStart))) << "no port changed";
    auto* selector = Find<QComboBox>(frame, "domainSelector");
    QStringList items;
    for (int i = 0; i < selector->count(); ++i) items << selector->itemText(i);
    EXPECT_EQ(items, (QStringList{Tr(kTextAllDomains), QStringLiteral("example.test"), QStringLiteral("example.com")}));
    EXPECT_TRUE(systemctl.empty());
}

TEST_F(SettingsDialogsTest, CancelOnTheSheetWritesNothingAndUnshownPagesKeepTheirValues) {
    UseConfig("MaxTries=20\r\nDefaultVolume=7\r\n");
    const std::string before = ReadFile(home.File("config.ini"));
    auto service = MakeServiceSwitch();
    for (const bool sheet_ok : {false, true}) {
        SettingDlg dialog(services, *service);
        dialog.show();
        OnModal("advancedDialog", [sheet_ok](QDialog& sheet) {
            Find<QSpinBox>(sheet, "maxTries")->setValue(3);
            Press(sheet, sheet_ok ? "ok" : "cancel");
        });
        Press(dialog, "advanced");
        Press(dialog, "ok");
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        if (!sheet_ok) {
            EXPECT_EQ(ReadFile(home.File("config.ini")), before) << "byte for byte";
        }
    }
    EXPECT_EQ(Config("System", "MaxTries"), "3");
    // The Account page was never shown: its value is kept as read.
    EXPECT_EQ(Config("System", "DefaultVolume"), "7");
    EXPECT_EQ(Settings()->MaxTries, 3);
}

// Another program writes config.ini while the window is open: OK reloads,
// and every main-page control then shows the file's value with the user's
// own change laid over it, so the next OK writes only what the user changed.
TEST_F(SettingsDialogsTest, AfterAReloadEveryControlShowsTheFileWithTheUsersChange) {
    const struct {
        const char* key;      // the [System] key the other program sets
        const char* after;
        const char* control;  // the control that shows it
    } cases[] = {
        {"MailServerModel", "1", "serverModel1"}, {"MailProxy", "1", "mailProxy"},
        {"RunAsService", "0", "runAsService"},    {"DomainNameType", "1", "multipleDomain"},
        {"Dominame", "other.test", "domainName"},
    };
    UseConfig("MailServerModel=0\r\nESMTP=1\r\nRunAsService=1\r\nMailProxy=0\r\nDomainNameType=0\r\n"
              "Dominame=example.test\r\n");
    auto service = MakeServiceSwitch();
    SettingDlg dialog(services, *service);
    dialog.show();
    Find<QCheckBox>(dialog, "esmtp")->click();
    ASSERT_TRUE(ProfileFile(home.File("config.ini")).Edit([&cases](IniDocument& doc) {
        bool set = doc.Set("System", "MaxTries", "33") && doc.Set("DomainName", "Count", "1") &&
                   doc.Set("DomainName", "DN1", "listed.test");
        for (const auto& c : cases) set = set && doc.Set("System", c.key, c.after);
        return set;
    }));
    Press(dialog, "ok");
    ASSERT_TRUE(prompts.Saw(Tr(kTextConfigChangedOnDisk)));
    ASSERT_TRUE(dialog.isVisible());
    for (const auto& c : cases) {
        if (auto* field = dialog.findChild<QLineEdit*>(QString::fromLatin1(c.control))) {
            EXPECT_EQ(field->text(), QString::fromLatin1(c.after));
        } else {
            EXPECT_EQ(Find<QAbstractButton>(dialog, c.control)->isChecked(), std::string_view(c.after) != "0")
                << c.key;
        }
    }
    EXPECT_FALSE(Find<QCheckBox>(dialog, "esmtp")->isChecked()) << "the user's change stays";
    EXPECT_EQ(Find<QListWidget>(dialog, "domainList")->count(), 1) << "the file's list, nothing added";
    Press(dialog, "ok");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    for (const auto& c : cases) EXPECT_EQ(Config("System", c.key), c.after) << "the other program's value is kept";
    EXPECT_EQ(Config("System", "ESMTP"), "0");
    EXPECT_EQ(Config("System", "MaxTries"), "33");
    EXPECT_TRUE(systemctl.empty()) << "the service is not switched";
}

TEST_F(SettingsDialogsTest, OptionDialogEditsAreDroppedWithTheSheet) {
    auto service = MakeServiceSwitch();
    for (const bool sheet_ok : {false, true}) {
        SettingDlg dialog(services, *service);
        dialog.show();
        OnModal("advancedDialog", [sheet_ok](QDialog& sheet) {
            OnModal("ispSmtpDialog", [](QDialog& isp) {
                Find<QCheckBox>(isp, "needAuthentication")->setChecked(true);
                Find<QLineEdit>(isp, "userName")->setText("relay-user");
                Press(isp, "ok");
            });
            Find<QRadioButton>(sheet, "relayIsp")->click();
            EXPECT_FALSE(Find<QSpinBox>(sheet, "maxTries")->isEnabled());
            EXPECT_FALSE(Find<QSpinBox>(sheet, "retryInterval")->isEnabled());
            EXPECT_TRUE(Find<QLineEdit>(sheet, "relayServer")->isEnabled());
            Press(sheet, "ispOptions");
            Press(sheet, sheet_ok ? "ok" : "cancel");
        });
        Press(dialog, "advanced");
        Press(dialog, "ok");
        EXPECT_EQ(Settings()->ISPSMTPUserName, sheet_ok ? "relay-user" : "");
        EXPECT_EQ(Config("ISPSMTP", "UserName"), sheet_ok ? "relay-user" : "<none>");
        EXPECT_EQ(Config("System", "MailRelayTo"), sheet_ok ? "1" : "<none>");
    }
}

TEST_F(SettingsDialogsTest, ServiceSwitchThroughTheInjectedSystemctl) {
    for (const bool refuse : {true, false}) {
        refuse_enable = refuse;
        systemctl.clear();
        prompts.shown.clear();
        auto service = MakeServiceSwitch();
        dialogs.Register(DialogKind::kSettings, SettingsDialogRunner(services, *service));
        MainFrame frame(services, nullptr, ProcessNoticeBus());
        int quits = 0;
        QObject::connect(&frame, &MainFrame::QuitRequested, [&] { ++quits; });
        OnModal("settingDialog", [](QDialog& settings) {
            auto* check = Find<QCheckBox>(settings, "runAsService");
            EXPECT_TRUE(check->isEnabled());
            check->setChecked(true);
            Press(settings, "ok");
        });
        frame.action(Command::kConfiguration)->trigger();
        const std::vector<std::string> enable{"systemctl", "enable", "QuorvexServer.service"};
        EXPECT_NE(std::find(systemctl.begin(), systemctl.end(), enable), systemctl.end());
        const bool unit = FileExists(home.File("units/QuorvexServer.service"));
        if (refuse) {
            EXPECT_FALSE(unit);
            EXPECT_EQ(Config("System", "RunAsService"), "<none>") << "left as it was";
            EXPECT_EQ(Settings()->RunAsService, 0);
            EXPECT_EQ(quits, 0) << "the program keeps running";
            ASSERT_FALSE(prompts.shown.empty());
            EXPECT_TRUE(prompts.shown.front().text.contains(QStringLiteral("Access denied")));
        } else {
            EXPECT_TRUE(unit);
            EXPECT_EQ(Config("System", "RunAsService"), "1");
            EXPECT_EQ(Config("System", "AutoRun"), "0");
            EXPECT_EQ(quits, 1) << "the service takes over";
            EXPECT_TRUE(prompts.Saw(Tr(kTextServiceTakesOver)));
        }
    }
}

TEST_F(SettingsDialogsTest, BlockEntriesAreCheckedAndTheListsCapped) {
    struct Case {
        BlockEntryDlg::Kind kind;
        const char* text;
        std::string_view refusal;  // empty: accepted
    };
    const Case cases[] = {
        {BlockEntryDlg::Kind::kIp, "1.2.3.4-x", kTextIpEntryInvalid},
        {BlockEntryDlg::Kind::kIp, "1.2.3.9-1.2.3.4", kTextIpRangeReversed},
        {BlockEntryDlg::Kind::kIp, " 1.2.3.4-1.2.3.9 ", ""},
        {BlockEntryDlg::Kind::kSender, "spam.example", kTextSenderEntryInvalid},
        {BlockEntryDlg::Kind::kSender, "@spam.example", ""},
    };
    for (const Case& c : cases) {
        prompts.shown.clear();
        BlockEntryDlg dialog(c.kind, QString::fromLatin1(c.text), prompts);
        dialog.show();
        Press(dialog, "ok");
        if (c.refusal.empty()) {
            EXPECT_EQ(dialog.result(), QDialog::Accepted) << c.text;
            EXPECT_TRUE(prompts.shown.empty());
        } else {
            EXPECT_TRUE(dialog.isVisible()) << c.text;
            EXPECT_TRUE(prompts.Saw(Tr(c.refusal))) << c.text;
        }
    }
    CServerSettings settings = *Settings();
    settings.IPBlockEnable = 1;
    for (int i = 0; i < kMaxBlockListEntries; ++i) settings.IPList.push_back("10.0.0." + std::to_string(i));
    AdvancedDlg sheet(settings, services);
    sheet.show();
    sheet.tabs()->setCurrentIndex(3);
    EXPECT_FALSE(Find<QPushButton>(sheet, "ipAdd")->isEnabled()) << "a full list takes no more";
    prompts.answers = {true};
    Find<QListWidget>(sheet, "ipList")->setCurrentRow(0);
    Press(sheet, "ipDelete");
    EXPECT_TRUE(Find<QPushButton>(sheet, "ipAdd")->isEnabled());
    Press(sheet, "ok");
    EXPECT_EQ(settings.IPList.size(), static_cast<std::size_t>(kMaxBlockListEntries - 1));
    EXPECT_EQ(settings.IPList.front(), "10.0.0.1");
}

// A number its setting cannot take stays as typed and is refused with
// what the field takes (a spin box put the old value back without a word),
// two servers on one port naming both: the sheet stays open on that page
// and writes nothing back. The settings window refuses what a start would.
TEST_F(SettingsDialogsTest, ValuesTheSettingsCannotTakeAreRefusedSayingWhatIsTaken) {
    const struct {
        int tab;
        const char* field;
        const char* typed;
        const char* refusal;
    } cases[] = {
        {0, "maxTries", "0", "Maximum Tries: 0 is not accepted; enter a whole number from 1 to 1000."},
        {4, "accountPort", "70000", "Account Port: 70000 is not accepted; enter a port number from 1 to 65535."},
        {4, "pop3Port", "25", "The SMTP and POP3 servers cannot share port 25: give each of them a port of its own."},
    };
    for (const auto& c : cases) {
        CServerSettings settings = *Settings();
        AdvancedDlg sheet(settings, services);
        sheet.show();
        sheet.tabs()->setCurrentIndex(c.tab);
        auto* field = Find<QSpinBox>(sheet, c.field);
        field->selectAll();
        QTest::keyClicks(field, c.typed);
        field->interpretText();  // as leaving the field does
        sheet.tabs()->setCurrentIndex(c.tab == 0 ? 1 : 0);
        Press(sheet, "ok");
        EXPECT_TRUE(prompts.Saw(QString::fromLatin1(c.refusal))) << c.field;
        EXPECT_TRUE(sheet.isVisible());
        EXPECT_EQ(sheet.tabs()->currentIndex(), c.tab);
        EXPECT_EQ(sheet.focusWidget(), field);
        EXPECT_TRUE(settings == *Settings());
    }
    auto service = MakeServiceSwitch();
    const std::string config = ReadFile(home.File("config.ini"));
    SettingDlg dialog(services, *service);
    dialog.show();
    Find<QLineEdit>(dialog, "domainName")->clear();
    Press(dialog, "ok");
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(ReadFile(home.File("config.ini")), config);
    EXPECT_TRUE(prompts.shown.back().text.contains(QStringLiteral("[System] Dominame of config.ini cannot be empty")));
}

TEST_F(SettingsDialogsTest, LanguageIsSelectedByItsWholeName) {
    for (const char* name : {"Foo.ini", "FooBar.ini"}) WriteFile(home.File(std::string("Language/") + name), "");
    CServerSettings settings = *Settings();
    for (const auto& [current, shown, stored] :
         std::vector<std::tuple<std::string, QString, std::string>>{{"foo", "Foo", "Foo"}, {"Gone", "", "Gone"}}) {
        settings.Language = current;
        settings.ByProxy = 0;
        AdvancedDlg sheet(settings, services);
        sheet.show();
        sheet.tabs()->setCurrentIndex(4);
        EXPECT_EQ(Find<QComboBox>(sheet, "language")->currentText(), shown);
        EXPECT_FALSE(Find<QPushButton>(sheet, "proxyOptions")->isEnabled());
        Find<QCheckBox>(sheet, "enableProxy")->setChecked(true);
        EXPECT_TRUE(Find<QPushButton>(sheet, "proxyOptions")->isEnabled());
        Press(sheet, "ok");
        EXPECT_EQ(settings.Language, stored);
    }
}

TEST_F(SettingsDialogsTest, LogPageChoosesViewsAndClearsOnlyTheProgramsLogs) {
    const std::string logs = home.File("log");
    MakeFolders(logs);
    const std::string today = LogFilePath(LogKind::kSmtp, logs, std::time(nullptr));
    WriteFile(today, "x");
    WriteFile(JoinPath(logs, "keep.me"), "y");
    CServerSettings settings = *Settings();
    AdvancedDlg sheet(settings, services);
    sheet.show();
    sheet.tabs()->setCurrentIndex(2);
    chooser.folder = QStringLiteral("/srv/mail/");
    Press(sheet, "browseLogFolder");
    EXPECT_EQ(Find<QLineEdit>(sheet, "logFolder")->text(), QStringLiteral("/srv/mail/Log"));
    Press(sheet, "smtpLogs");
    ASSERT_EQ(opener.paths.size(), 1u);
    EXPECT_EQ(opener.paths[0].toStdString(), today) << "the folder in force, not the one typed";
    prompts.answers = {true};
    Press(sheet, "clearLogs");
    EXPECT_FALSE(FileExists(today));
    EXPECT_TRUE(FileExists(JoinPath(logs, "keep.me")));
    Press(sheet, "ok");
    EXPECT_EQ(settings.LogFilePath, "/srv/mail/Log");
}

// Connects from `source` and says how the greeting began: 0 for 220, 1 for
// a refusal, 2 when no connection was made.
int GreetingFrom(const std::string& source, int port) {
    return RunPython(
        "import smtplib, sys\n"
        "try:\n"
        "    s = smtplib.SMTP(\"127.0.0.1\", " + std::to_string(port) + ", source_address=(\"" + source + "\", 0), timeout=20)\n"
        "    s.quit()\n"
        "except smtplib.SMTPConnectError:\n"
        "    sys.exit(1)\n"
        "except smtplib.SMTPServerDisconnected:\n"
        "    sys.exit(1)\n"
        "except OSError:\n"
        "    sys.exit(2)\n");
}

TEST_F(SettingsDialogsTest, AcceptedRangeBlocksExactlyItsAddressesAtTheNextConnection) {
    ServerRunFlag = 1;
    JobTable jobs;
    app::ServerWiring wiring(jobs, ProcessNoticeBus(), home.path());
    wiring.InstallJobHandlers();
    jobs.CreateWorkerThreads();
    CSmtpServer smtp(jobs);
    int port = 0;
    for (int attempt = 0; attempt < 3 && port == 0; ++attempt) {
        const int candidate = quorvex::testing::TakeTestPort();
        if (smtp.Start(candidate, "127.0.0.1")) port = candidate;
    }
    ASSERT_NE(port, 0);
    EXPECT_EQ(GreetingFrom("127.0.0.2", port), 0);

    auto service = MakeServiceSwitch();
    SettingDlg dialog(services, *service);
    dialog.show();
    OnModal("advancedDialog", [this](QDialog& sheet) {
        Find<QTabWidget>(sheet, "advancedTabs")->setCurrentIndex(3);
        Find<QCheckBox>(sheet, "ipEnable")->setChecked(true);
        OnModal("ipAddressDialog", [this](QDialog& entry) {
            auto* text = Find<QLineEdit>(entry, "entry");
            text->setText("127.0.0.2-x");
            Press(entry, "ok");
            EXPECT_TRUE(prompts.Saw(Tr(kTextIpEntryInvalid)));
            text->setText("127.0.0.2-127.0.0.1");
            Press(entry, "ok");
            EXPECT_TRUE(prompts.Saw(Tr(kTextIpRangeReversed)));
            text->setText("127.0.0.2-127.0.0.2");
            Press(entry, "ok");
        });
        Press(sheet, "ipAdd");
        EXPECT_EQ(Find<QListWidget>(sheet, "ipList")->count(), 1);
        Press(sheet, "ok");
    });
    Press(dialog, "advanced");
    Press(dialog, "ok");
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(ReadProfileString(home.File("EmailFilter.ini"), "IP", "IP1"), "127.0.0.2-127.0.0.2");

    // The running server, not restarted, applies it from the next connection.
    EXPECT_EQ(GreetingFrom("127.0.0.2", port), 1);
    EXPECT_EQ(GreetingFrom("127.0.0.3", port), 0);
    smtp.Stop();
    jobs.Shutdown();
    ServerRunFlag = 0;
}

}  // namespace
}  // namespace quorvex::gui::testing
