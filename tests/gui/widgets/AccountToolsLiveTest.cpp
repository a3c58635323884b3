// The account tools with the real servers in this process, driven through
// the window's own commands and dialogs: a new account with forwarding made
// in the account sheet is on disk as set, takes a POP3 login (Python's
// poplib) with its password and forwards the mail it gets (Python's
// smtplib); a group made in the group dialog gets mail for all members;
// text typed in the welcome message and the send-mail dialog reaches a
// reader (Python's poplib and email) as typed.
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>

#include "common/Paths.h"
#include "common/PasswordDigest.h"
#include "gui/DialogRegistry.h"
#include "gui/dialogs/SendMailDlg.h"
#include "gui/dialogs/account/AccountSheet.h"
#include "gui/dialogs/account/ComposeWelcomeDlg.h"
#include "gui/dialogs/account/GroupDlg.h"
#include "gui/frame/AccountCommands.h"
#include "gui/frame/MainFrame.h"
#include "gui/support/GuiStrings.h"
#include "gui/support/WidgetTranslator.h"
#include "gui/views/AccountTableModel.h"
#include "gui/views/AccountListView.h"
#include "LiveServersFixture.h"
#include "mailmodel/store/MailStore.h"

namespace quorvex::gui::testing {
namespace {

class AccountToolsLiveTest : public LiveServersFixture {
protected:
    void SetUp() override {
        LiveServersFixture::SetUp();
        RegisterDialogs(dialogs, services);
    }

    // Runs `fill` on the modal dialog of type D that `open` brings up, then
    // presses its OK; a dialog still open after that is cancelled (and the
    // test fails) so nothing waits for a person.
    template <typename D>
    void DriveModal(const std::function<void()>& open, const std::function<void(D&)>& fill) {
        bool driven = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<D*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            fill(*dialog);
            QTest::mouseClick(dialog->template findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
            driven = true;
            if (dialog->isVisible()) {
                ADD_FAILURE() << "the dialog stayed open";
                dialog->reject();
            }
        });
        open();
        EXPECT_TRUE(driven);
    }

    int SendMail(const std::string& to) {
        return RunPython("import smtplib; s=smtplib.SMTP(\"127.0.0.1\"," + std::to_string(smtp_port_) +
                         "); s.sendmail(\"x@remote.test\",[\"" + to + "\"],\"Subject: hi\\r\\n\\r\\nbody\\r\\n\"); s.quit()");
    }
};

TEST_F(AccountToolsLiveTest, NewAccountWithForwardingThroughTheSheet) {
    ASSERT_TRUE(CreateAccount("bob"));
    MainFrame frame(services, nullptr, ProcessNoticeBus());
    frame.show();
    DriveModal<AccountSheet>([&] { frame.commands().account_commands().NewAccount(); }, [](AccountSheet& sheet) {
        QTest::keyClicks(sheet.findChild<QLineEdit*>(QStringLiteral("account")), "alice");
        QTest::keyClicks(sheet.findChild<QLineEdit*>(QStringLiteral("password")), "pw1");
        QTest::keyClicks(sheet.findChild<QLineEdit*>(QStringLiteral("userName")), "Alice A");
        sheet.findChild<QSpinBox*>(QStringLiteral("mailboxSize"))->setValue(50);
        QWidget* page = sheet.findChild<QWidget*>(QStringLiteral("forwardingPage"));
        sheet.tabs()->setCurrentWidget(page);
        QTest::keyClicks(page->findChild<QLineEdit*>(QStringLiteral("address")), "bob@example.test");
        QTest::mouseClick(page->findChild<QPushButton*>(QStringLiteral("addNew")), Qt::LeftButton);
        page->findChild<QCheckBox*>(QStringLiteral("enableForwarding"))->setChecked(true);
        page->findChild<QCheckBox*>(QStringLiteral("leaveCopyLocal"))->setChecked(false);
    });

    const std::string settings = home.File("mail/alice/maillist.ini");
    auto value = [&](const char* section, const char* key) { return ReadProfileString(settings, section, key, "-"); };
    EXPECT_EQ(value("System", "Password"), HashAccountPassword("pw1", 1));
    EXPECT_EQ(value("System", "UserName"), "Alice A");
    EXPECT_EQ(value("System", "Volume"), "50");
    EXPECT_EQ(value("System", "TimeStamp").size(), 19u);
    EXPECT_EQ(value("EmailForward", "Count"), "1");
    EXPECT_EQ(value("EmailForward", "EmailAddress1"), "bob@example.test");
    EXPECT_EQ(value("EmailForward", "LeaveCopyLocal"), "0");
    EXPECT_EQ(value("System", "EnableForwardMailAddresses"), "1");
    EXPECT_EQ(GetMailboxMessageCount("alice"), 1);  // the welcome message
    AccountTableModel* model = frame.account_view()->model();
    ASSERT_TRUE(WaitFor([&] { return model->FindRow("alice") >= 0; }));
    EXPECT_EQ(model->CellAt(model->FindRow("alice"), kColumnMailNumber), QStringLiteral("1"));
    EXPECT_EQ(model->CellAt(model->FindRow("alice"), kColumnStatus), Tr(kTextEnable));

    const std::string pop3 = "import poplib; p=poplib.POP3(\"127.0.0.1\"," + std::to_string(pop3_port_) +
                             "); p.user(\"alice\"); p.pass_(\"%s\"); p.stat(); p.quit()";
    auto login = [&](const char* password) {
        std::string code = pop3;
        code.replace(code.find("%s"), 2, password);
        return RunPython(code);
    };
    EXPECT_EQ(login("pw1"), 0);
    EXPECT_NE(login("wrong"), 0);

    ASSERT_EQ(SendMail("alice@example.test"), 0);
    EXPECT_TRUE(WaitFor([] { return GetMailboxMessageCount("bob") == 2; }, 10000));
    EXPECT_EQ(GetMailboxMessageCount("alice"), 1);  // no copy left: as set
}

TEST_F(AccountToolsLiveTest, GroupMadeInTheDialogGetsMailForAllMembers) {
    for (const char* name : {"amy", "cid"}) ASSERT_TRUE(CreateAccount(name));
    MainFrame frame(services, nullptr, ProcessNoticeBus());
    frame.show();
    DriveModal<GroupDlg>([&] { frame.commands().account_commands().NewGroup(); }, [](GroupDlg& dialog) {
        QTest::keyClicks(dialog.findChild<QLineEdit*>(QStringLiteral("groupName")), "team");
        QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("addAll")), Qt::LeftButton);
    });
    ASSERT_EQ(Accounts().IsGroup("team"), 1);
    ASSERT_EQ(SendMail("team@example.test"), 0);
    EXPECT_TRUE(WaitFor([] { return GetMailboxMessageCount("amy") == 2 && GetMailboxMessageCount("cid") == 2; }, 10000));
}

TEST_F(AccountToolsLiveTest, TypedTextArrivesAsTyped) {
    const QString typed = QString::fromUtf8("Gr\xC3\xBC\xC3\x9F" "e aus K\xC3\xB6ln \xE2\x80\x93 100 \xE2\x82\xAC");
    const QString body = typed + QStringLiteral("\nZeile 2");
    MainFrame frame(services, nullptr, ProcessNoticeBus());
    DriveModal<ComposeWelcomeDlg>([&] { frame.action(Command::kWelcome)->trigger(); }, [&](ComposeWelcomeDlg& dialog) {
        dialog.findChild<QLineEdit*>(QStringLiteral("subject"))->setText(typed);
        dialog.findChild<QPlainTextEdit*>(QStringLiteral("body"))->setPlainText(body);
    });
    ASSERT_TRUE(CreateAccount("alice", [](AccountRecord& r) { r.Password = HashAccountPassword("secret", 1); }));
    SendMailDlg dialog("alice;", Settings(), directory, Accounts(), prompts, chooser);
    dialog.findChild<QLineEdit*>(QStringLiteral("subject"))->setText(typed);
    dialog.findChild<QPlainTextEdit*>(QStringLiteral("text"))->setPlainText(body);
    QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("send")), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return dialog.result() == QDialog::Accepted; }));
    // The welcome message and the administrator's mail, both as typed.
    EXPECT_EQ(RunPython("import poplib, email, email.policy; p=poplib.POP3(\"127.0.0.1\"," +
                        std::to_string(pop3_port_) +
                        "); p.user(\"alice\"); p.pass_(\"secret\"); "
                        "t=\"Gr\\u00fc\\u00dfe aus K\\u00f6ln \\u2013 100 \\u20ac\"\n"
                        "for i in (1, 2):\n"
                        " m=email.message_from_bytes(b\"\\r\\n\".join(p.retr(i)[1]), policy=email.policy.default)\n"
                        " assert str(m[\"subject\"])==t, m[\"subject\"]\n"
                        " assert m.get_content().replace(\"\\r\\n\",\"\\n\").rstrip(\"\\n\")==t+\"\\nZeile 2\"\n"
                        "p.quit()"),
              0);
}

}  // namespace
}  // namespace quorvex::gui::testing
