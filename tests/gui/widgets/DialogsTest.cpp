// The small dialogs driven through their buttons: the password gate stays
// open on a wrong password, the password change refuses and accepts, the
// close choice is stored, the log dialog opens today's files and the
// folder, the splash goes on a key, the link opens its address.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>

#include "GuiTestSupport.h"
#include "common/PasswordDigest.h"
#include "common/ProfileFile.h"
#include "gui/dialogs/AboutDlg.h"
#include "gui/dialogs/AdminPasswordDlg.h"
#include "gui/dialogs/ErrorAlertDlg.h"
#include "gui/dialogs/HyperLink.h"
#include "gui/dialogs/LogDlg.h"
#include "gui/dialogs/LoginDlg.h"
#include "gui/dialogs/ShutdownDlg.h"
#include "gui/dialogs/SplashWindow.h"
#include "gui/logic/LogFiles.h"
#include "gui/support/GuiStrings.h"
#include "gui/support/WidgetTranslator.h"

namespace quorvex::gui::testing {
namespace {

class DialogsTest : public GuiFolderTest {
protected:
    std::string config() const { return home.File("config.ini"); }
};

TEST_F(DialogsTest, LoginStaysOpenUntilThePasswordIsRight) {
    ProfileFile(config()).WriteString("System", "Password", HashAccountPassword("Right", 1));
    int changes = 0;
    dialogs.Register(DialogKind::kAdminPassword, [&](const DialogRequest&) {
        ++changes;
        return DialogResult{};
    });
    LoginDlg dialog(config(), prompts, dialogs);
    dialog.show();
    QTest::keyClicks(Find<QLineEdit>(dialog, "password"), "right");
    Click(dialog, "login");
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(prompts.Saw(Tr(kTextIncorrectPassword)));
    Click(dialog, "changePassword");
    EXPECT_EQ(changes, 1);
    Find<QLineEdit>(dialog, "password")->setText("Right");
    Click(dialog, "login");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(DialogsTest, PasswordChangeRefusesThenStores) {
    AdminPasswordDlg dialog(config(), prompts);
    dialog.show();
    struct Step {
        const char *old_password, *fresh, *confirmation;
        std::string_view message;
        bool open_after;
    };
    ProfileFile(config()).WriteString("System", "Password", HashAccountPassword("", 1));
    const Step steps[] = {
        {"x", "a", "a", kTextIncorrectPassword, true},
        {"", "a", "b", kTextPasswordMismatch, true},
        {"", "new", "new", kTextPasswordChanged, false},
    };
    for (const Step& step : steps) {
        Find<QLineEdit>(dialog, "oldPassword")->setText(step.old_password);
        Find<QLineEdit>(dialog, "newPassword")->setText(step.fresh);
        Find<QLineEdit>(dialog, "confirmPassword")->setText(step.confirmation);
        Click(dialog, "ok");
        EXPECT_EQ(prompts.shown.back().text, Tr(step.message));
        EXPECT_EQ(dialog.isVisible(), step.open_after);
    }
    EXPECT_EQ(ReadProfileString(config(), "System", "Password"), HashAccountPassword("new", 1));
}

TEST_F(DialogsTest, ShutdownChoiceIsStored) {
    ProfileFile(config()).WriteString("system", "CloseMode", "7");  // out of range: the default
    ShutdownDlg dialog(config(), prompts);
    dialog.show();
    auto* choice = Find<QComboBox>(dialog, "closeChoice");
    EXPECT_EQ(choice->currentIndex(), 1);
    EXPECT_EQ(choice->itemText(0), Tr(kTextHideInterface));
    choice->setCurrentIndex(0);
    Click(dialog, "ok");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.choice(), 0);
    EXPECT_EQ(ReadProfileString(config(), "system", "CloseMode"), "0");
}

TEST_F(DialogsTest, LogDialogOpensTodaysFilesAndTheFolder) {
    const std::time_t today = std::time(nullptr);
    const std::string folder = home.File("log");
    LogDlg dialog(folder, opener, prompts, nullptr, [today] { return today; });
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    const std::tuple<const char*, LogKind, std::string_view> buttons[] = {
        {"smtpLogs", LogKind::kSmtp, kTextNoSmtpLogTodayFormat},
        {"pop3Logs", LogKind::kPop3, kTextNoPop3LogTodayFormat},
        {"sysLogs", LogKind::kSystem, kTextNoSystemLogTodayFormat},
        {"internetLogs", LogKind::kInternet, kTextNoInternetLogTodayFormat}};
    std::filesystem::create_directories(folder);
    for (const auto& [name, kind, not_yet] : buttons) {
        const std::string path = LogFilePath(kind, folder, today);
        Click(dialog, name);  // nothing written to it yet today
        EXPECT_TRUE(prompts.Saw(FormatText(Tr(not_yet), {QString::fromStdString(path)}))) << name;
        EXPECT_TRUE(opener.paths.empty()) << name;
    }
    for (const auto& [name, kind, not_yet] : buttons) {
        const std::string path = LogFilePath(kind, folder, today);
        WriteFile(path, "a line");
        Click(dialog, name);
        EXPECT_EQ(opener.paths.back().toStdString(), path) << name;
    }
    auto* picture = Find<QLabel>(dialog, "logFolderPicture");
    QTest::mouseDClick(&dialog, Qt::LeftButton, {}, picture->geometry().center());
    EXPECT_EQ(opener.paths.back().toStdString(), folder);
    EXPECT_EQ(opener.paths.size(), 5u);
    // A desktop with no program for it: the file is named with the opener's
    // reason, however late the opener ends.
    opener.failure = QStringLiteral("xdg-open: no method available");
    opener.deferred = true;
    Click(dialog, "sysLogs");
    const QString failed = FormatText(Tr(kTextOpenFailedFormat),
                                      {QString::fromStdString(LogFilePath(LogKind::kSystem, folder, today)),
                                       QStringLiteral("xdg-open: no method available")});
    EXPECT_FALSE(prompts.Saw(failed)) << "the window does not wait for the opener";
    opener.Finish();
    EXPECT_TRUE(prompts.Saw(failed));
    // Clear Logs asks; No keeps the files.
    WriteFile(LogFilePath(LogKind::kSystem, folder, today), "old line");
    Click(dialog, "clearLogs");
    EXPECT_TRUE(prompts.Saw(Tr(kTextClearLogsQuestion)));
    EXPECT_TRUE(std::filesystem::exists(LogFilePath(LogKind::kSystem, folder, today)));
    prompts.answers = {true};
    Click(dialog, "clearLogs");  // today's system log starts again with the line that says so
    EXPECT_EQ(ReadFile(LogFilePath(LogKind::kSystem, folder, today)).find("old line"), std::string::npos);
}

TEST_F(DialogsTest, SplashGoesOnAKeyOrByItself) {
    QPixmap picture(60, 40);
    picture.fill(Qt::darkBlue);
    ASSERT_TRUE(picture.save(QString::fromStdString(home.File("splash.bmp")), "BMP"));
    SplashWindow::EnableSplash(false);
    EXPECT_EQ(SplashWindow::ShowSplash(home.path(), nullptr), nullptr);
    SplashWindow::EnableSplash(true);
    EXPECT_EQ(SplashWindow::ShowSplash(home.File("no-such-folder"), nullptr), nullptr);
    QPointer<SplashWindow> splash = SplashWindow::ShowSplash(home.path(), nullptr);
    ASSERT_TRUE(splash);
    EXPECT_EQ(SplashWindow::ShowSplash(home.path(), nullptr), nullptr) << "one at a time";
    QWidget other;
    other.show();
    QTest::keyClick(&other, Qt::Key_A);
    ASSERT_TRUE(WaitFor([&] { return splash.isNull(); }));
    splash = SplashWindow::ShowSplash(home.path(), nullptr);
    ASSERT_TRUE(splash);
    ASSERT_TRUE(WaitFor([&] { return splash.isNull(); }, kSplashMilliseconds + 3000));
}

TEST_F(DialogsTest, AboutLinkAndErrorAlert) {
    AboutDlg about(opener, prompts);
    about.show();
    EXPECT_EQ(about.findChild<QLabel*>("version")->text(), QStringLiteral("QuorvexServer 5.3"));
    QTest::mouseClick(about.link(), Qt::LeftButton);
    ASSERT_EQ(opener.urls.size(), 1u);
    EXPECT_EQ(opener.urls[0], Tr(kTextHomePage));
    EXPECT_TRUE(about.link()->visited());
    opener.failure = QStringLiteral("no browser");
    QTest::mouseClick(about.link(), Qt::LeftButton);
    EXPECT_EQ(prompts.shown.back().text, Tr(kTextUnableToOpenLink) + Tr(kTextHomePage) + QStringLiteral("\n\nno browser"));

    ErrorAlertDlg alert;
    alert.Raise(QStringLiteral("QuorvexServer Buffer Problem"));
    EXPECT_TRUE(alert.isVisible());
    EXPECT_EQ(alert.windowTitle(), QStringLiteral("QuorvexServer Buffer Problem"));
    QTest::mouseClick(alert.findChild<QPushButton*>(), Qt::LeftButton);
    EXPECT_FALSE(alert.isVisible());
    alert.Raise(QStringLiteral("again"));
    EXPECT_TRUE(alert.isVisible());
}

}  // namespace
}  // namespace quorvex::gui::testing
