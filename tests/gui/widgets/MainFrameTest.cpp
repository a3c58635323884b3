// The main window through its actions, with the dialogs, prompts and the
// desktop opener faked: every command reaches its dialog, the close choice, the window without a tray, the lock, the
// domain selector, the user count and the language.
#include <QAction>
#include <QDialog>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QToolBar>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <map>

#include "GuiTestSupport.h"
#include "common/PasswordDigest.h"
#include "gui/DialogRegistry.h"
#include "gui/dialogs/AutoHeightComboBox.h"
#include "gui/dialogs/StatusLed.h"
#include "gui/frame/VersionCheckWorker.h"
#include "gui/logic/SettingsRules.h"
#include "gui/views/ServerLogView.h"
#include "gui/frame/MainFrame.h"
#include "gui/support/GuiStrings.h"
#include "gui/support/WidgetTranslator.h"
#include "gui/views/AccountListView.h"

namespace quorvex::gui::testing {
namespace {

class MainFrameTest : public GuiFolderTest {
protected:
    // Every dialog kind is a fake that records its request and answers
    // with `answers[kind]` (cancelled when none is set).
    void FakeAllDialogs() {
        for (int kind = 0; kind <= static_cast<int>(DialogKind::kWebDirectorySetup); ++kind) {
            const auto which = static_cast<DialogKind>(kind);
            dialogs.Register(which, [this, which](const DialogRequest& request) {
                opened.push_back({which, request.account, request.recipients});
                return answers.count(which) ? answers[which] : DialogResult{};
            });
        }
    }
    std::unique_ptr<MainFrame> MakeFrame() {
        auto frame = std::make_unique<MainFrame>(services, nullptr, ProcessNoticeBus());
        frame->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
        return frame;
    }
    struct Opened {
        DialogKind kind;
        std::string account, recipients;
    };
    std::vector<Opened> opened;
    std::map<DialogKind, DialogResult> answers;
};

TEST_F(MainFrameTest, EveryMenuCommandReachesItsDialog) {
    RegisterDialogs(dialogs, services);  // every dialog kind is real ...
    for (int kind = 0; kind <= static_cast<int>(DialogKind::kWebDirectorySetup); ++kind) {
        EXPECT_TRUE(dialogs.Available(static_cast<DialogKind>(kind))) << kind;
    }
    // ... and here fakes note that the mail tools were opened.
    std::vector<DialogKind> tools_opened;
    for (DialogKind tool : {DialogKind::kSendMail, DialogKind::kTransferStatus, DialogKind::kDeletedUsers,
                            DialogKind::kExportUsers}) {
        dialogs.Register(tool, [&tools_opened](const DialogRequest& request) {
            tools_opened.push_back(request.kind);
            return DialogResult{};
        });
    }
    auto frame = MakeFrame();
    ASSERT_TRUE(CreateAccount("alice"));
    frame->account_view()->OnRefreshUserList();
    frame->account_view()->selectAll();
    for (Command command : {Command::kSendMail, Command::kSendMailToAll, Command::kTransferStatus,
                            Command::kDeletedUsers, Command::kExport}) {
        frame->action(command)->trigger();
    }
    EXPECT_EQ(tools_opened.size(), 5u);
    EXPECT_TRUE(prompts.shown.empty());
    // Every command is in a menu.
    std::set<QAction*> in_menus;
    for (QAction* top : frame->menuBar()->actions()) {
        for (QAction* item : top->menu()->actions()) in_menus.insert(item);
    }
    for (int id : {32778, 32776, 3210, 32796, 102, 103, 32779, 57665, 32771, 32773, 32783, 32772, 114, 32774, 32907,
                   32782, 32900, 32901, 115, 32822, 32905, 32909, 57664, 57670, 32784, 32908, 32794, 32903, 32904, 32910}) {
        EXPECT_TRUE(in_menus.count(frame->action(static_cast<Command>(id)))) << id;
    }
}

TEST_F(MainFrameTest, CommandsOpenTheirDialogsWithTheirArguments) {
    FakeAllDialogs();
    ASSERT_TRUE(CreateAccount("alice"));
    ASSERT_TRUE(CreateAccount("bob"));
    auto frame = MakeFrame();
    frame->account_view()->OnRefreshUserList();
    frame->account_view()->selectAll();
    const std::pair<Command, DialogKind> rows[] = {
        {Command::kOpenLog, DialogKind::kLog},           {Command::kExport, DialogKind::kExportUsers},
        {Command::kConfiguration, DialogKind::kSettings}, {Command::kReinstall, DialogKind::kFirstRunSetup},
        {Command::kAdminPassword, DialogKind::kAdminPassword}, {Command::kWelcome, DialogKind::kWelcomeMessage},
        {Command::kTransferStatus, DialogKind::kTransferStatus}, {Command::kAbout, DialogKind::kAbout},
        {Command::kDeletedUsers, DialogKind::kDeletedUsers}, {Command::kNewAccount, DialogKind::kAccountSheet},
        {Command::kNewGroup, DialogKind::kGroup},
    };
    for (const auto& [command, kind] : rows) {
        opened.clear();
        frame->action(command)->trigger();
        ASSERT_EQ(opened.size(), 1u) << static_cast<int>(command);
        EXPECT_EQ(opened[0].kind, kind);
    }
    opened.clear();
    frame->action(Command::kSelectAll)->trigger();  // the refresh after "Deleted users" cleared it
    frame->action(Command::kSendMail)->trigger();
    frame->action(Command::kSendMailToAll)->trigger();
    frame->action(Command::kEditAccount)->trigger();
    ASSERT_EQ(opened.size(), 3u);
    EXPECT_EQ(opened[0].recipients, "alice;bob;");
    EXPECT_EQ(opened[1].recipients, "All");
    EXPECT_EQ(opened[2].kind, DialogKind::kAccountSheet);
    EXPECT_EQ(opened[2].account, "alice");
    // Web directory: the dialog's outcome is told.
    answers[DialogKind::kWebDirectorySetup] = {true, 0};
    frame->action(Command::kVirtualDirectory)->trigger();
    EXPECT_TRUE(prompts.Saw(Tr(kTextWebDirectoryDone)));
    // Restart IIS reloads the web server through the command runner.
    frame->action(Command::kRestartIis)->trigger();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0], WebServerRestartCommand());
    EXPECT_EQ(commands[0].back(), "graceful");
    // Download opens the home page; the user manual says there is none.
    frame->action(Command::kDownload)->trigger();
    ASSERT_EQ(opener.urls.size(), 1u);
    EXPECT_EQ(opener.urls[0], Tr(kTextHomePage));
    opener.failure = QStringLiteral("no browser");
    frame->action(Command::kDownload)->trigger();
    EXPECT_TRUE(prompts.Saw(FormatText(Tr(kTextOpenFailedFormat), {Tr(kTextHomePage), "no browser"})));
    opener.failure.reset();
    frame->action(Command::kUserManual)->trigger();
    EXPECT_TRUE(prompts.Saw(Tr(kTextNoUserManual)));
    WriteFile(home.File("Language/English.htm"), "<html></html>");
    frame->action(Command::kUserManual)->trigger();
    ASSERT_EQ(opener.paths.size(), 1u);
    EXPECT_EQ(opener.paths[0].toStdString(), home.File("Language/English.htm"));
}

TEST_F(MainFrameTest, ClearLogsRemovesOnlyTheProgramsLogs) {
    FakeAllDialogs();
    auto frame = MakeFrame();
    const std::string log = home.File("log");
    std::filesystem::create_directories(log + "/archive");
    WriteFile(log + "/keep.me", "x");
    WriteFile(log + "/archive/syslog20200101.txt", "x");
    WriteFile(log + "/smtplog20200101.txt", "x");
    WriteFile(log + "/quorvexlog.txt", "x");
    prompts.answers = {false};
    frame->action(Command::kClearLog)->trigger();
    EXPECT_TRUE(std::filesystem::exists(log + "/smtplog20200101.txt")) << "No keeps everything";
    prompts.answers = {true};
    frame->action(Command::kClearLog)->trigger();
    EXPECT_TRUE(prompts.Saw(Tr(kTextClearLogsQuestion)));
    EXPECT_TRUE(prompts.Saw(FormatText(Tr(kTextLogsClearedFormat), {QStringLiteral("2")})));
    EXPECT_NE(SystemLog().find("] Log files cleared by the administrator: 2 file(s) removed from " + log),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(log + "/smtplog20200101.txt"));
    EXPECT_FALSE(std::filesystem::exists(log + "/quorvexlog.txt"));
    EXPECT_TRUE(std::filesystem::exists(log + "/keep.me"));
    EXPECT_TRUE(std::filesystem::exists(log + "/archive/syslog20200101.txt"));
    EXPECT_TRUE(std::filesystem::exists(log));
}

TEST_F(MainFrameTest, ClosingHidesOrShutsDownAsChosen) {
    FakeAllDialogs();
    auto frame = MakeFrame();
    int quits = 0;
    QObject::connect(frame.get(), &MainFrame::QuitRequested, [&] { ++quits; });
    // Cancelled: nothing happens.
    frame->close();
    EXPECT_TRUE(frame->WindowShown());
    // "Hide": the servers go on; without a tray the window is minimized,
    // never hidden out of reach.
    ASSERT_FALSE(frame->tray_available());
    answers[DialogKind::kShutdown] = {true, 0};
    frame->close();
    ASSERT_TRUE(WaitFor([&] { return frame->isMinimized(); }));
    EXPECT_TRUE(frame->isVisible());
    EXPECT_EQ(quits, 0);
    frame->showNormal();
    // "Shut down" with mail in transfer asks; No keeps running.
    answers[DialogKind::kShutdown] = {true, 1};
    mail_queued = true;
    prompts.answers = {false, true};
    frame->action(Command::kShutdown)->trigger();
    EXPECT_TRUE(prompts.Saw(Tr(kTextMailInTransfer)));
    EXPECT_EQ(quits, 0);
    frame->action(Command::kShutdown)->trigger();
    EXPECT_EQ(quits, 1);
}

TEST_F(MainFrameTest, HideLockAndTheTrayClick) {
    FakeAllDialogs();
    auto frame = MakeFrame();
    frame->action(Command::kHide)->trigger();
    ASSERT_TRUE(WaitFor([&] { return frame->isMinimized(); }));
    EXPECT_TRUE(frame->isVisible()) << "no tray: reachable on the task bar";
    frame->OnTrayClick();  // unlocked: shows at once
    ASSERT_TRUE(WaitFor([&] { return frame->WindowShown(); }));
    EXPECT_TRUE(opened.empty());

    frame->action(Command::kLock)->trigger();
    ASSERT_TRUE(WaitFor([&] { return frame->isMinimized(); }));
    EXPECT_TRUE(frame->centralWidget()->isHidden());
    EXPECT_FALSE(frame->action(Command::kNewAccount)->isEnabled()) << "Insert opens nothing";
    frame->showNormal();  // restored as the window manager does: the gate first
    ASSERT_TRUE(WaitFor([&] { return opened.size() == 1u && frame->isMinimized(); }));
    frame->close();  // closed from the task bar: the gate, and no close choice without it
    ASSERT_EQ(opened.size(), 2u);
    frame->ShowFromOutside();  // a second start: the gate first
    ASSERT_EQ(opened.size(), 3u);
    for (const Opened& gate : opened) EXPECT_EQ(gate.kind, DialogKind::kLogin);
    EXPECT_TRUE(frame->isMinimized()) << "a cancelled gate keeps it down";
    answers[DialogKind::kLogin] = {true, 0};
    ProcessNoticeBus().Post(NoticeId::WM_NOTIFYICON, "");  // the tray's click as a notice
    ASSERT_TRUE(WaitFor([&] { return frame->WindowShown(); }));
    EXPECT_EQ(opened.size(), 4u);
    EXPECT_FALSE(frame->tray_state().locked());
    EXPECT_FALSE(frame->centralWidget()->isHidden());
    EXPECT_TRUE(frame->action(Command::kNewAccount)->isEnabled());
}

// Beyond the dialog open at the lock (the desktop test), one shown while
// locked takes no key and goes, and a modeless one comes back after Log on.
TEST_F(MainFrameTest, DialogsAreOutOfUseWhileLocked) {
    FakeAllDialogs();
    auto frame = MakeFrame();
    QDialog alert(frame.get()), late(frame.get());
    auto* field = new QLineEdit(&late);
    alert.show();
    frame->action(Command::kLock)->trigger();
    EXPECT_FALSE(alert.isVisible());
    late.show();
    QTest::keyClicks(field, "x");
    EXPECT_TRUE(field->text().isEmpty());
    ASSERT_TRUE(WaitFor([&] { return !late.isVisible(); }));
    answers[DialogKind::kLogin] = {true, 0};
    frame->ShowFromOutside();
    EXPECT_TRUE(alert.isVisible() && late.isVisible());
}

TEST_F(MainFrameTest, DomainSelectorFollowsTheDomainMode) {
    UseConfig("DomainNameType=1\r\n", "[DomainName]\r\nCount=2\r\nDN1=a.test\r\nDN2=b.test\r\n");
    ASSERT_TRUE(CreateAccount("x@a.test"));
    ASSERT_TRUE(CreateAccount("y@b.test"));
    FakeAllDialogs();
    auto frame = MakeFrame();
    AutoHeightComboBox* selector = frame->domain_selector();
    ASSERT_TRUE(selector->isVisible());
    ASSERT_EQ(selector->count(), 3);
    EXPECT_EQ(selector->itemText(0), Tr(kTextAllDomains));
    frame->account_view()->OnRefreshUserList();
    EXPECT_EQ(frame->account_view()->model()->rowCount(), 2);
    selector->setCurrentIndex(2);
    ASSERT_TRUE(WaitFor([&] { return frame->account_view()->model()->rowCount() == 1; }));
    EXPECT_EQ(frame->account_view()->model()->NameAt(0), "y@b.test");
    // A new account shows at once, whatever its domain.
    ASSERT_TRUE(CreateAccount("z@a.test"));
    ASSERT_TRUE(WaitFor([&] { return frame->account_view()->model()->rowCount() == 2; }));
    EXPECT_EQ(selector->currentText(), QStringLiteral("b.test")) << "the refill keeps the selection";

    // The settings dialog switches back to one domain: the selector goes,
    // and the web-mail language file is written.
    answers[DialogKind::kSettings] = {true, 0};
    dialogs.Register(DialogKind::kSettings, [this](const DialogRequest&) {
        ProfileFile(home.File("config.ini")).WriteString("System", "DomainNameType", "0");
        ProfileFile(home.File("config.ini")).WriteString("System", "Language", "../../evil");
        return DialogResult{true, 0};
    });
    frame->action(Command::kConfiguration)->trigger();
    EXPECT_FALSE(selector->isVisible());
    frame->OnUpdateUserCount(3);
    EXPECT_FALSE(selector->isVisible()) << "and stays hidden";
    EXPECT_EQ(ReadFile(home.File("WebMail/Language.txt")), "<!-- #include file=\"language\\English.txt\" -->");
}

TEST_F(MainFrameTest, UserCountTitleAndTranslatedTexts) {
    FakeAllDialogs();
    ASSERT_TRUE(CreateAccount("alice"));
    // A GB2312 language file: the menu item and the user count are
    // translated and decoded, "_INVISIBLE_" hides the item.
    WriteFile(home.File("Language/ChineseGB.ini"),
              "[Info]\r\ncharset=gb2312\r\n[String]\r\n&Refresh user list\tF5=\xcb\xa2\xd0\xc2\tF5\r\n"
              " %d users=\xb9\xb2 %d \xb8\xf6\xd3\xc3\xbb\xa7\r\nRestart IIS=_INVISIBLE_\r\n");
    auto frame = MakeFrame();
    EXPECT_EQ(frame->windowTitle(), QStringLiteral(" QuorvexServer 5.3"));
    frame->account_view()->OnRefreshUserList();
    EXPECT_EQ(frame->user_count_pane()->text(), QStringLiteral("  1 users"));
    EXPECT_EQ(frame->action(Command::kRefresh)->text(), QStringLiteral("&Refresh user list\tF5"));

    UpdateSettings([](CServerSettings& s) { s.Language = "ChineseGB"; });
    frame->Retranslate();
    frame->OnUpdateUserCount(1);
    EXPECT_EQ(frame->action(Command::kRefresh)->text(), QString::fromUtf8("\xe5\x88\xb7\xe6\x96\xb0\tF5"));
    EXPECT_EQ(frame->user_count_pane()->text(),
              QString::fromUtf8(" \xe5\x85\xb1 1 \xe4\xb8\xaa\xe7\x94\xa8\xe6\x88\xb7"));
    EXPECT_FALSE(frame->action(Command::kRestartIis)->isVisible());
    // Back to English through a reload of config.ini ("-update"): the walk
    // starts again from the English keys.
    frame->commands().ReloadSettings();
    EXPECT_EQ(frame->action(Command::kRefresh)->text(), QStringLiteral("&Refresh user list\tF5"));
    const QStringList tools = TrList(kTextToolbar);
    EXPECT_EQ(frame->tool_bar()->actions().first()->text(), tools.first());
}

TEST_F(MainFrameTest, FrameNoticesLampAndStatusPanes) {
    FakeAllDialogs();
    int jobs = 0;
    services.active_jobs = [&jobs] { return jobs; };
    auto frame = MakeFrame();
    // WM_UPDATE_PARAM rereads config.ini.
    ProfileFile(home.File("config.ini")).WriteString("System", "Dominame", "changed.test");
    ProcessNoticeBus().Post(NoticeId::WM_UPDATE_PARAM, "");
    ASSERT_TRUE(WaitFor([] { return Settings()->Dominame == "changed.test"; }));
    // WM_SHOW_MESSAGE is a line of the system log (file and pane).
    ProcessNoticeBus().Post(NoticeId::WM_SHOW_MESSAGE, "POP3 10.1.2.3 alice logged in");
    ASSERT_TRUE(WaitFor([&] {
        return frame->log_view()->toPlainText().contains(QStringLiteral("] POP3 10.1.2.3 alice logged in"));
    }));
    // The error log's alert raises one window, again for the next error.
    ProcessNoticeBus().Post(NoticeId::WM_ERROR_ALERT, "QuorvexServer Buffer Problem");
    ASSERT_TRUE(WaitFor([&] {
        auto* alert = frame->findChild<QDialog*>(QStringLiteral("errorAlert"));
        return alert && alert->isVisible() && alert->windowTitle() == QStringLiteral("QuorvexServer Buffer Problem");
    }));
    // The lamp flashes while jobs run, and stops after.
    jobs = 2;
    ASSERT_TRUE(WaitFor([&] { return frame->led()->state().flashing(); }, 3000));
    jobs = 0;
    ASSERT_TRUE(WaitFor([&] { return !frame->led()->state().flashing(); }, 3000));
    // Double clicks on the status panes.
    QTest::mouseDClick(frame->time_pane(), Qt::LeftButton);
    EXPECT_EQ(prompts.shown.back().text, QStringLiteral("2005.07.08"));
    QTest::mouseDClick(frame->time_pane(), Qt::LeftButton, Qt::ControlModifier);
    ASSERT_EQ(opener.paths.size(), 1u);
    EXPECT_EQ(opener.paths[0].toStdString(), home.path());
    QTest::mouseDClick(frame->user_count_pane(), Qt::LeftButton);
    ASSERT_EQ(opener.urls.size(), 1u);
    EXPECT_TRUE(opener.urls[0].startsWith(QStringLiteral("http://")));
    EXPECT_TRUE(opener.urls[0].endsWith(QStringLiteral("/mail/"))) << "the web-mail folder set-up publishes";
    // Its failure is told with the opener's reason, as every opening's is.
    opener.failure = QStringLiteral("no browser");
    QTest::mouseDClick(frame->user_count_pane(), Qt::LeftButton);
    EXPECT_EQ(prompts.shown.back().text, FormatText(Tr(kTextOpenFailedFormat), {opener.urls.back(), "no browser"}));
    opener.failure.reset();
    const auto shown = prompts.shown.size();
    QTest::mouseDClick(frame->date_pane(), Qt::LeftButton);  // no version host: the check is off
    QTest::qWait(50);
    EXPECT_EQ(prompts.shown.size(), shown);
}

// A settings source apart from the process's record: a reload puts `next` in force.
class SwitchingSettings final : public SettingsSource {
public:
    SettingsSnapshot Current() const override { return current; }
    SettingsSnapshot Reload() override { return current = next; }
    SettingsSnapshot current, next;
};

// Each command reads the window's settings in force when it starts.
TEST_F(MainFrameTest, CommandsTakeTheSettingsInForceWhenTheyStart) {
    TempFolder other;
    MakeFolders(other.File("Language"));
    for (const TempFolder* folder : {&home, &other}) WriteFile(folder->File("Language/English.htm"), "<html></html>");
    const auto record_of = [](const std::string& folder) {
        auto record = std::make_shared<CServerSettings>(*Settings());
        record->SetProgramFolder(folder);
        return SettingsSnapshot(std::move(record));
    };
    SwitchingSettings source;
    source.current = record_of(home.path());
    source.next = record_of(other.path());
    services.settings = &source;
    auto frame = MakeFrame();
    for (const TempFolder* in_force : {&home, &other}) {  // before and after a reload
        if (in_force == &other) frame->commands().ReloadSettings();
        opener.paths.clear();
        QTest::mouseDClick(frame->time_pane(), Qt::LeftButton, Qt::ControlModifier);
        frame->action(Command::kUserManual)->trigger();
        ASSERT_EQ(opener.paths.size(), 2u);
        EXPECT_EQ(opener.paths[0].toStdString(), in_force->path());
        EXPECT_EQ(opener.paths[1].toStdString(), in_force->File("Language/English.htm"));
    }
}

// The worker hands its reply over on the window's thread, runs one check at a
// time, and its owner's end stops and waits for a fetch, handing nothing over.
TEST(VersionCheckWorker, HandsTheReplyOverAndEndsWithItsOwner) {
    std::optional<std::string> reply;
    bool on_window_thread = false;
    {
        VersionCheckWorker worker;
        ASSERT_TRUE(worker.Start([](std::stop_token) { return std::optional<std::string>("1 504 x"); },
                                 [&](std::optional<std::string> got) {
                                     reply = std::move(got);
                                     on_window_thread = QThread::currentThread() == qApp->thread();
                                 }));
        EXPECT_FALSE(worker.Start([](std::stop_token) { return std::nullopt; }, [](auto) {})) << "one at a time";
        ASSERT_TRUE(WaitFor([&] { return !worker.running(); }));
    }
    EXPECT_EQ(reply, "1 504 x");
    EXPECT_TRUE(on_window_thread);

    std::atomic<bool> fetching = false, fetch_ended = false;
    bool handed_over = false;
    {
        VersionCheckWorker worker;
        worker.Start(
            [&](std::stop_token stop) {
                fetching = true;
                std::mutex lock;
                std::unique_lock held(lock);
                std::condition_variable_any().wait(held, stop, [] { return false; });
                fetch_ended = true;
                return std::optional<std::string>("late");
            },
            [&](auto) { handed_over = true; });
        ASSERT_TRUE(WaitFor([&] { return fetching.load(); }));
    }
    EXPECT_TRUE(fetch_ended) << "the owner waited for its fetch";
    QCoreApplication::processEvents();
    EXPECT_FALSE(handed_over);
}

}  // namespace
}  // namespace quorvex::gui::testing
