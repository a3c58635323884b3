// The account sheet, the group dialog and the welcome message editor driven
// through their widgets: the name check on leaving Basic Info, refused names
// that leave the mail folder as it was, a new account that loses against
// one made meanwhile, the stored digest kept and never shown, the list
// pages' limits and choices, pages never shown writing nothing, the group's
// lists, and the welcome message saved unchanged.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <filesystem>

#include "GuiTestSupport.h"
#include "common/PasswordDigest.h"
#include "gui/dialogs/account/AccountSheet.h"
#include "gui/dialogs/account/ComposeWelcomeDlg.h"
#include "gui/dialogs/account/GroupDlg.h"
#include "gui/logic/account/WelcomeFile.h"
#include "gui/support/AccountTexts.h"
#include "gui/support/WidgetTranslator.h"
#include "mailmodel/account/EmailForward.h"
#include "mailmodel/account/EmailPOP3Remote.h"
#include "mailmodel/autoreply/EmailAutoReply.h"
#include "servers/filters/EmailFilter.h"

namespace quorvex::gui::testing {
namespace {

class AccountToolsTest : public GuiFolderTest {
protected:
    // The page of the sheet with that object name, shown.
    static QWidget& ShowPage(AccountSheet& sheet, const char* name) {
        QWidget* page = Find<QWidget>(sheet, name);
        sheet.tabs()->setCurrentWidget(page);
        return *page;
    }
    std::vector<std::string> MailFolder() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(home.File("mail")))
            names.push_back(entry.path().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(AccountToolsTest, LeavingBasicInfoChecksTheNewName) {
    AccountSheet sheet("", Settings(), Accounts(), prompts);
    sheet.show();
    auto* name = Find<QLineEdit>(sheet, "account");
    EXPECT_EQ(sheet.focusWidget(), name) << "it opens on its first field";
    QTest::keyClicks(name, "a b");
    sheet.tabs()->setCurrentIndex(2);
    EXPECT_EQ(sheet.tabs()->currentIndex(), 0);
    EXPECT_TRUE(prompts.Saw(Tr(kTextNameCharacters)));
    EXPECT_EQ(name->selectedText(), QStringLiteral("a b")) << "the refused name selected, ready to be corrected";
    name->setText("alice");
    sheet.tabs()->setCurrentIndex(2);
    EXPECT_EQ(sheet.tabs()->currentIndex(), 2);
    EXPECT_FALSE(name->isEnabled());  // fixed once it passed

    // The forwarding page loads and saves the lists of the name as fixed,
    // not of the name refused before.
    QWidget& forwarding = *Find<QWidget>(sheet, "forwardingPage");
    ASSERT_EQ(sheet.tabs()->currentWidget(), &forwarding);
    Find<QLineEdit>(forwarding, "address")->setText("copy@elsewhere.test");
    Click(forwarding, "addNew");

    sheet.tabs()->setCurrentIndex(0);
    auto* unlimited = Find<QCheckBox>(sheet, "unlimited");
    auto* size = Find<QSpinBox>(sheet, "mailboxSize");
    EXPECT_TRUE(size->isEnabled());
    for (int refused : {0, 99999999}) {  // a limited size takes 1 to 1048576 MB
        size->setValue(refused);
        ShowPage(sheet, "forwardingPage");  // the refused field comes to the front with the focus
        Click(sheet, "ok");
        EXPECT_TRUE(sheet.isVisible());
        EXPECT_TRUE(prompts.shown.back().text.startsWith("Mailbox size (M): " + QString::number(refused)));
        EXPECT_EQ(sheet.tabs()->currentIndex(), 0);
        EXPECT_EQ(sheet.focusWidget(), size);
    }
    size->setValue(20);
    QTest::mouseClick(unlimited, Qt::LeftButton);
    EXPECT_FALSE(size->isEnabled());
    Click(sheet, "ok");
    ASSERT_EQ(sheet.result(), QDialog::Accepted);
    CEmailForward forward;
    ASSERT_TRUE(forward.Load("alice"));
    EXPECT_EQ(forward.GetAddress(0), "copy@elsewhere.test");
    AccountRecord record;
    ASSERT_TRUE(LoadAccount("alice", record));
    EXPECT_EQ(record.Max, 1);
    EXPECT_EQ(record.Volume, 20);  // still saved
}

TEST_F(AccountToolsTest, RefusedNamesLeaveTheMailFolderUnchanged) {
    ASSERT_TRUE(CreateAccount("bob"));
    const std::vector<std::string> before = MailFolder();
    const std::pair<std::string, std::string_view> cases[] = {
        {"..", kTextNameCharacters},   {"a b", kTextNameCharacters},           {"All", kTextNameExists},
        {"_x", kTextNameExists},       {std::string(77, 'n'), kTextNameTooLong}, {"x@y", kTextNameCharacters},
        {"Bob", kTextNameExists},      {"", kTextNameEmpty},
    };
    for (const auto& [typed, message] : cases) {
        SCOPED_TRACE(typed);
        prompts.shown.clear();
        AccountSheet sheet("", Settings(), Accounts(), prompts);
        sheet.show();
        // The field holds at most 76 characters; the name check sees what
        // a paste of more would leave.
        Find<QLineEdit>(sheet, "account")->setMaxLength(100);
        Find<QLineEdit>(sheet, "account")->setText(QString::fromStdString(typed));
        Click(sheet, "ok");
        EXPECT_TRUE(sheet.isVisible());
        ASSERT_FALSE(prompts.shown.empty());
        EXPECT_EQ(prompts.shown.back().text, Tr(message));
    }
    EXPECT_EQ(MailFolder(), before);
}

TEST_F(AccountToolsTest, ANewAccountNeverOverwritesOneMadeMeanwhile) {
    AccountSheet sheet("", Settings(), Accounts(), prompts);
    sheet.show();
    QTest::keyClicks(Find<QLineEdit>(sheet, "account"), "race");
    QTest::keyClicks(Find<QLineEdit>(sheet, "password"), "mine");
    QWidget& forwarding = ShowPage(sheet, "forwardingPage");
    ASSERT_EQ(sheet.tabs()->currentWidget(), &forwarding);
    QTest::keyClicks(Find<QLineEdit>(forwarding, "address"), "me@elsewhere.test");
    Click(forwarding, "addNew");
    // Meanwhile the account server signs the same name up.
    ASSERT_TRUE(CreateAccount("race", [](AccountRecord& r) { r.Password = HashAccountPassword("theirs", 1); }));
    Click(sheet, "ok");
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(prompts.shown.back().text, Tr(kTextNameExists));
    EXPECT_EQ(sheet.tabs()->currentWidget(), Find<QWidget>(sheet, "basicInfoPage")) << "the name comes to the front";
    EXPECT_TRUE(CheckAccountPassword("race", "theirs"));
    CEmailForward forward;
    ASSERT_TRUE(forward.Load("race"));
    EXPECT_EQ(forward.GetCount(), 0);
}

TEST_F(AccountToolsTest, EditingKeepsTheDigestAndPagesNeverShownWriteNothing) {
    const std::string digest = HashAccountPassword("secret", 1);
    ASSERT_TRUE(CreateAccount("alice", [&](AccountRecord& r) {
        r.Password = digest;
        r.Volume = 30;
    }));
    const std::string settings = home.File("mail/alice/maillist.ini");
    {
        AccountSheet sheet("alice", Settings(), Accounts(), prompts);
        sheet.show();
        EXPECT_FALSE(Find<QLineEdit>(sheet, "account")->isEnabled());
        EXPECT_EQ(Find<QLineEdit>(sheet, "password")->text(), QString());
        EXPECT_EQ(Find<QSpinBox>(sheet, "mailboxSize")->value(), 30);
        Find<QLineEdit>(sheet, "userName")->setText("Alice A");
        Click(sheet, "ok");
        EXPECT_EQ(sheet.result(), QDialog::Accepted);
    }
    AccountRecord record;
    ASSERT_TRUE(LoadAccount("alice", record));
    EXPECT_EQ(record.Password, digest);
    EXPECT_EQ(record.UserName, "Alice A");
    EXPECT_FALSE(std::filesystem::exists(home.File("mail/alice/EmailFilter.ini")));
    EXPECT_FALSE(std::filesystem::exists(home.File("mail/alice/EmailAutoReply.ini")));
    EXPECT_EQ(ReadFile(settings).find("POP3Remote"), std::string::npos);

    AccountSheet sheet("alice", Settings(), Accounts(), prompts);
    sheet.show();
    QTest::keyClicks(Find<QLineEdit>(sheet, "password"), "changed");
    QWidget& reply = ShowPage(sheet, "autoReplyPage");
    Find<QCheckBox>(reply, "enableAutoReply")->setChecked(true);
    Find<QLineEdit>(reply, "replySubject")->setText("Away");
    auto* body = Find<QPlainTextEdit>(reply, "replyBody");
    body->setPlainText(QString(5000, 'x'));
    ShowPage(sheet, "basicInfoPage");
    Click(sheet, "ok");
    EXPECT_TRUE(prompts.Saw(Tr(kTextReplyTooLong)));
    EXPECT_EQ(sheet.tabs()->currentWidget(), &reply) << "the refused body comes to the front with the focus";
    EXPECT_EQ(sheet.focusWidget(), body);
    body->setPlainText("line 1\nline 2");
    Click(sheet, "ok");
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
    EXPECT_TRUE(CheckAccountPassword("alice", "changed"));
    EmailAutoReply stored;
    ASSERT_TRUE(stored.Load("alice"));
    AutoReplySettings reply_settings;
    stored.GetSettings(reply_settings);
    EXPECT_EQ(reply_settings.Enable, 1);
    EXPECT_EQ(reply_settings.Body, "line 1\r\nline 2");
}

TEST_F(AccountToolsTest, APageThatCannotSaveStopsTheOnesAfterIt) {
    ASSERT_TRUE(CreateAccount("stuck"));
    // The auto-reply page (saved last) cannot write its file.
    std::filesystem::create_directory(home.File("mail/stuck/EmailAutoReply.ini"));
    AccountSheet sheet("stuck", Settings(), Accounts(), prompts);
    sheet.show();
    Find<QLineEdit>(sheet, "userName")->setText("Kept");
    QWidget& forwarding = ShowPage(sheet, "forwardingPage");
    Find<QLineEdit>(forwarding, "address")->setText("kept@elsewhere.test");
    Click(forwarding, "addNew");
    QWidget& reply = ShowPage(sheet, "autoReplyPage");
    Find<QLineEdit>(reply, "replySubject")->setText("Away");
    Click(sheet, "ok");
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(prompts.shown.back().text,
              FormatText(Tr(kTextPageNotSaved), {sheet.tabs()->tabText(sheet.tabs()->indexOf(&reply))}));
    AccountRecord record;
    ASSERT_TRUE(LoadAccount("stuck", record));
    EXPECT_EQ(record.UserName, "Kept");
    CEmailForward forward;
    ASSERT_TRUE(forward.Load("stuck"));
    EXPECT_EQ(forward.GetCount(), 1);
}

TEST_F(AccountToolsTest, FullListsTakeNoMoreEntries) {
    ASSERT_TRUE(CreateAccount("full"));
    CEmailPOP3Remote boxes;
    CEmailForward forward;
    CEmailFilter filter;
    ASSERT_TRUE(boxes.Load("full") && forward.Load("full") && filter.Load("full"));
    for (int i = 0; i < kMaxRemoteBoxes; ++i) ASSERT_TRUE(boxes.AddMailbox({1, 0, "pop.test", "u" + std::to_string(i), "p", 110}));
    for (int i = 0; i < kMaxForwardAddresses; ++i) ASSERT_TRUE(forward.AddAddress("a" + std::to_string(i) + "@x.test"));
    for (int i = 0; i < kMaxFilterRules; ++i) ASSERT_TRUE(filter.AddRule({"s" + std::to_string(i), 0, "", 0, 0, 4, 1}));
    ASSERT_TRUE(boxes.Save() && forward.Save() && filter.Save());

    AccountSheet sheet("full", Settings(), Accounts(), prompts);
    sheet.show();
    const struct {
        const char* page;
        const char* field;
        int count;
    } pages[] = {{"remotePop3Page", "pop3Server", kMaxRemoteBoxes},
                 {"forwardingPage", "address", kMaxForwardAddresses},
                 {"filterPage", "subject", kMaxFilterRules}};
    for (const auto& p : pages) {
        SCOPED_TRACE(p.page);
        QWidget& page = ShowPage(sheet, p.page);
        auto* list = Find<QListWidget>(page, "entries");
        ASSERT_EQ(list->count(), p.count);
        Find<QLineEdit>(page, p.field)->setText("one more");
        Click(page, "addNew");
        EXPECT_EQ(list->count(), p.count);
    }
}

TEST_F(AccountToolsTest, FilterChoicesKeepTheStoredFolderAndTheOrder) {
    ASSERT_TRUE(CreateAccount("sorter"));
    CEmailFilter filter;
    ASSERT_TRUE(filter.Load("sorter"));
    ASSERT_TRUE(filter.AddRule({"first", 0, "", 0, 0, 9, 1}));  // a folder set over the account server
    ASSERT_TRUE(filter.AddRule({"second", 0, "x@y", 0, 1, 4, 1}));
    ASSERT_TRUE(filter.Save());

    AccountSheet sheet("sorter", Settings(), Accounts(), prompts);
    sheet.show();
    QWidget& page = ShowPage(sheet, "filterPage");
    auto* list = Find<QListWidget>(page, "entries");
    auto* deliver = Find<QComboBox>(page, "deliver");
    auto* folder = Find<QComboBox>(page, "folder");
    EXPECT_EQ(list->item(1)->text(), QStringLiteral("second#x@y"));
    EXPECT_EQ(Find<QComboBox>(page, "subjectCompare")->count(), 1);  // "includes" only
    list->setCurrentRow(1);
    EXPECT_EQ(deliver->currentIndex(), 1);
    EXPECT_FALSE(folder->isEnabled());  // "delete" needs no folder
    deliver->setCurrentIndex(0);
    EXPECT_TRUE(folder->isEnabled());
    EXPECT_EQ(folder->currentText(), QStringLiteral("trash"));

    list->setCurrentRow(0);
    EXPECT_EQ(folder->currentText(), FormatText(Tr(kTextOtherFolderFormat), {QStringLiteral("9")}));
    Find<QLineEdit>(page, "from")->setText("boss@x.test");
    Click(page, "edit");
    Click(page, "up");  // the first rule: nothing moves
    EXPECT_EQ(list->currentRow(), 0);
    Click(page, "down");
    EXPECT_EQ(list->currentRow(), 1);
    Click(page, "down");  // the last rule: nothing moves
    EXPECT_EQ(list->item(1)->text(), QStringLiteral("first#boss@x.test"));
    Click(sheet, "ok");
    ASSERT_EQ(sheet.result(), QDialog::Accepted);

    ASSERT_TRUE(filter.Load("sorter"));
    FilterRule rule;
    ASSERT_TRUE(filter.GetRule(1, rule));
    EXPECT_EQ(rule.Subject, "first");
    EXPECT_EQ(rule.From, "boss@x.test");
    EXPECT_EQ(rule.FolderDeliverTo, 9);  // not (-1) + 4
}

TEST_F(AccountToolsTest, RemoteBoxesAddEditAndDelete) {
    ASSERT_TRUE(CreateAccount("collector"));
    AccountSheet sheet("collector", Settings(), Accounts(), prompts);
    sheet.show();
    QWidget& page = ShowPage(sheet, "remotePop3Page");
    auto* list = Find<QListWidget>(page, "entries");
    EXPECT_TRUE(Find<QCheckBox>(page, "enableRetrieving")->isChecked());  // the defaults
    EXPECT_FALSE(Find<QCheckBox>(page, "leaveCopy")->isChecked());
    Click(page, "addNew");  // all empty: refused
    EXPECT_EQ(list->count(), 0);
    Find<QLineEdit>(page, "pop3Server")->setText("pop.remote.test");
    Find<QLineEdit>(page, "pop3Account")->setText("me");
    Find<QLineEdit>(page, "pop3Password")->setText("pw");
    Click(page, "addNew");
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->item(0)->text(), QStringLiteral("me#pop.remote.test"));
    EXPECT_EQ(Find<QLineEdit>(page, "pop3Server")->text(), QString());  // the empty entry again
    list->setCurrentRow(0);
    EXPECT_EQ(Find<QLineEdit>(page, "pop3Password")->text(), QStringLiteral("pw"));
    Find<QLineEdit>(page, "pop3Account")->setText("other");
    Click(page, "edit");
    EXPECT_EQ(list->item(0)->text(), QStringLiteral("other#pop.remote.test"));
    Click(sheet, "ok");
    ASSERT_EQ(sheet.result(), QDialog::Accepted);
    CEmailPOP3Remote boxes;
    ASSERT_TRUE(boxes.Load("collector"));
    RemotePop3Mailbox box;
    ASSERT_TRUE(boxes.GetMailbox(0, box));
    EXPECT_EQ(box.POP3Account, "other");
    EXPECT_EQ(box.POP3Password, "pw");
}

TEST_F(AccountToolsTest, GroupDialogMovesMembersAndSavesThem) {
    for (const char* name : {"amy", "bob", "cid"}) ASSERT_TRUE(CreateAccount(name));
    {
        GroupDlg dialog("", Settings(), Accounts(), prompts);
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        EXPECT_EQ(dialog.windowTitle(), Tr(kTextNewGroupTitle));
        auto* others = Find<QListWidget>(dialog, "otherUsers");
        auto* members = Find<QListWidget>(dialog, "groupMembers");
        ASSERT_EQ(others->count(), 3);
        auto double_click = [](QListWidget* list, int row) {
            const QPoint at = list->visualItemRect(list->item(row)).center();
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        };
        double_click(others, 1);
        EXPECT_EQ(members->count(), 1);
        EXPECT_EQ(members->item(0)->text(), QStringLiteral("bob"));
        Click(dialog, "addAll");
        EXPECT_EQ(others->count(), 0);
        double_click(members, 2);
        EXPECT_EQ(others->count(), 1);
        Find<QLineEdit>(dialog, "groupName")->setText("team");
        Click(dialog, "ok");
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    std::vector<std::string> stored;
    int count = 0;
    ASSERT_TRUE(CEmailGroup().LoadMembers("team", stored, count));
    EXPECT_EQ(stored, (std::vector<std::string>{"amy", "bob"}));

    GroupDlg dialog("team", Settings(), Accounts(), prompts);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), Tr(kTextEditGroupTitle));
    EXPECT_TRUE(Find<QLineEdit>(dialog, "groupName")->isReadOnly());
    auto* others = Find<QListWidget>(dialog, "otherUsers");
    EXPECT_EQ(others->count(), 1);  // cid; never the group itself
    EXPECT_EQ(others->item(0)->text(), QStringLiteral("cid"));
    Click(dialog, "removeAll");
    Click(dialog, "ok");
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    ASSERT_FALSE(CEmailGroup().LoadMembers("team", stored, count));
    EXPECT_EQ(count, 0);
}

TEST_F(AccountToolsTest, WelcomeMessageSavedUnchangedKeepsItsTexts) {
    const std::string path = home.File("Welcome.inbox");
    WriteFile(path, "Received: old\r\nfrom: boss@example.test\r\nTo: new@example.test\r\nsubject: Hi there\r\n"
                    "Date: long ago\r\n\r\n..dotted\r\nend\r\n");
    ComposeWelcomeDlg dialog(path, prompts);
    dialog.show();
    EXPECT_EQ(Find<QLineEdit>(dialog, "subject")->text(), QStringLiteral("Hi there"));
    EXPECT_EQ(Find<QPlainTextEdit>(dialog, "body")->toPlainText(), QStringLiteral(".dotted\nend"));
    Click(dialog, "ok");
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    const std::string written = ReadFile(path);
    EXPECT_EQ(written.find("long ago"), std::string::npos);  // fresh Date and Received lines
    const WelcomeMail back = ParseWelcomeFile(written);
    EXPECT_EQ(back.sender, "boss@example.test");
    EXPECT_EQ(back.recipient, "new@example.test");
    EXPECT_EQ(back.subject, "Hi there");
    EXPECT_EQ(back.body, ".dotted\r\nend");
}

}  // namespace
}  // namespace quorvex::gui::testing
