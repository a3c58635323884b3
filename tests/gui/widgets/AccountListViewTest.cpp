// The account list: rows kept current by the account notices, the account
// commands, the refresh (on a worker for many accounts, never re-entered),
// sorting, columns fitted to their rows and the stored column widths.
#include <QHeaderView>
#include <QMouseEvent>
#include <QSignalSpy>
#include <filesystem>

#include "GuiTestSupport.h"
#include "common/ProfileFile.h"
#include "gui/frame/AccountCommands.h"
#include "gui/notices/NoticeRelay.h"
#include "gui/support/GuiStrings.h"
#include "gui/support/WidgetTranslator.h"
#include "gui/views/AccountListView.h"
#include "mailmodel/provision/AccountProvision.h"
#include "mailmodel/store/MailStore.h"

namespace quorvex::gui::testing {
namespace {

class AccountListViewTest : public GuiFolderTest {
protected:
    void SetUp() override {
        GuiFolderTest::SetUp();
        for (int kind = 0; kind <= static_cast<int>(DialogKind::kWebDirectorySetup); ++kind) {
            const auto which = static_cast<DialogKind>(kind);
            dialogs.Register(which, [this, which](const DialogRequest& request) {
                opened.emplace_back(which, request.account);
                return DialogResult{true, 0};
            });
        }
    }
    // The list with its account commands (`commands`).
    std::unique_ptr<AccountListView> MakeView() {
        auto view = std::make_unique<AccountListView>(services);
        commands = std::make_unique<AccountCommands>(services, *view);
        view->resize(800, 400);
        view->show();
        return view;
    }
    std::vector<std::string> Shown(const AccountListView& view) {
        std::vector<std::string> names;
        for (int row = 0; row < view.proxy()->rowCount(); ++row) {
            names.push_back(view.proxy()->index(row, 0).data().toString().toStdString());
        }
        return names;
    }
    // A message in the account's inbox.
    void Deliver(const std::string& account, const std::string& text) {
        const std::string file = home.File("message.eml");
        WriteFile(file, text);
        ASSERT_TRUE(AddMessageToMailbox(account, file, nullptr, 0, true, false));
    }
    std::vector<std::pair<DialogKind, std::string>> opened;
    std::unique_ptr<AccountCommands> commands;
};

TEST_F(AccountListViewTest, RowsFollowTheAccountNotices) {
    auto view = MakeView();
    NoticeRelay relay(ProcessNoticeBus());
    relay.AddReceiver(view.get());
    QSignalSpy counts(view.get(), &AccountListView::UserCountChanged);
    ASSERT_TRUE(CreateAccount("alice", [](AccountRecord& r) {
        r.UserName = "Alice A";
        r.Max = 1;
    }));
    ASSERT_TRUE(WaitFor([&] { return view->model()->rowCount() == 1; }));
    EXPECT_EQ(view->model()->CellAt(0, kColumnUserName), QStringLiteral("Alice A"));
    EXPECT_EQ(view->model()->CellAt(0, kColumnTotalSize), Tr(kTextUnlimited));
    EXPECT_EQ(counts.last().at(0).toInt(), 1);

    // A POP3 visit; a malformed one and one for an account not shown
    // change nothing.
    ProcessNoticeBus().Post(NoticeId::WM_UPDATE_ACCOUNT_EX, "nobody 1 2 2026/01/01 00:00:00");
    ProcessNoticeBus().Post(NoticeId::WM_UPDATE_ACCOUNT_EX, "ALICE x 2048 2026/01/01 00:00:00");
    ProcessNoticeBus().Post(NoticeId::WM_UPDATE_ACCOUNT_EX, "ALICE 3 5368709120 2026/03/07 10:11:12");
    ASSERT_TRUE(WaitFor([&] { return view->model()->CellAt(0, kColumnMailNumber) == QStringLiteral("3"); }));
    EXPECT_EQ(view->model()->CellAt(0, kColumnUsedSpace), QStringLiteral("5242880.0"));
    EXPECT_EQ(view->model()->CellAt(0, kColumnLastVisit), QStringLiteral("2026/03/07 10:11:12"));

    AccountRecord record;
    LoadAccount("alice", record);
    record.Comment = "desk 4";
    ASSERT_TRUE(SaveAccount("alice", record));
    ASSERT_TRUE(WaitFor([&] { return view->model()->CellAt(0, kColumnDescription) == QStringLiteral("desk 4"); }));
    ASSERT_TRUE(DeleteAccount("alice"));
    ASSERT_TRUE(WaitFor([&] { return view->model()->rowCount() == 0; }));
    EXPECT_EQ(counts.last().at(0).toInt(), 0);
}

TEST_F(AccountListViewTest, DeleteTakesEachSelectedAccountOnceAndTellsTheRefusals) {
    ASSERT_TRUE(CreateAccount("alice"));
    ASSERT_TRUE(CreateAccount("bob"));
    auto view = MakeView();
    NoticeRelay relay(ProcessNoticeBus());
    relay.AddReceiver(view.get());
    view->OnRefreshUserList();
    // "bob" is shown, but the account services no longer know it: its
    // deletion is refused and must not be tried forever.
    Accounts().Remove("bob");
    view->selectAll();
    prompts.answers = {true};
    commands->DeleteAccounts();
    ASSERT_TRUE(WaitFor([&] { return view->model()->rowCount() == 1; }));
    EXPECT_EQ(view->model()->NameAt(0), "bob");
    EXPECT_TRUE(prompts.Saw(FormatText(Tr(kTextDeleteAccountsQuestionFormat), {QStringLiteral("2")})));
    EXPECT_TRUE(prompts.Saw(FormatText(Tr(kTextDeleteRefusedFormat), {QStringLiteral("1")})));
    EXPECT_FALSE(std::filesystem::exists(home.File("mail/alice")));
    EXPECT_NE(SystemLog().find("Account alice deleted by the administrator"), std::string::npos);
    EXPECT_EQ(SystemLog().find("Account bob deleted"), std::string::npos);
}

TEST_F(AccountListViewTest, ClearMailEmptiesTheSelectedMailboxesAndRebuildRestoresOne) {
    ASSERT_TRUE(CreateAccount("alice"));
    ASSERT_TRUE(CreateAccount("bob"));
    Deliver("alice", "Subject: one\r\n\r\nx\r\n");
    Deliver("alice", "Subject: two\r\n\r\nx\r\n");
    auto view = MakeView();
    view->OnRefreshUserList();
    const int alice = view->model()->FindRow("alice");
    ASSERT_GE(alice, 0);
    EXPECT_EQ(view->model()->CellAt(alice, kColumnMailNumber), QStringLiteral("3"));  // with the welcome mail
    view->selectAll();
    prompts.answers = {true};
    commands->ClearMail();
    EXPECT_EQ(GetMailboxMessageCount("alice"), 0);
    EXPECT_EQ(GetMailboxMessageCount("bob"), 0);
    EXPECT_EQ(view->model()->CellAt(alice, kColumnMailNumber), QStringLiteral("0"));
    EXPECT_EQ(view->model()->rowCount(), 2) << "the rows stay";
    // F3 on alice (the first row): her backups come back; it says so, also in the log.
    MakeFolders(home.File("mail/alice/back"));
    WriteFile(home.File("mail/alice/back/1.eml"), "Subject: kept\r\n\r\nx\r\n");
    prompts.answers = {true};
    commands->RebuildMailList();
    EXPECT_TRUE(prompts.Saw(FormatText(Tr(kTextRebuiltFormat), {QStringLiteral("alice"), QStringLiteral("1")})));
    EXPECT_NE(SystemLog().find("] Mail list of alice rebuilt by the administrator: 1 mail(s)"), std::string::npos);
}

TEST_F(AccountListViewTest, ALargeRefreshRunsOnceWithTheNoticesOfItsTime) {
    // The last row shown has the longest name.
    const std::string longest = "zz-a-longer-account-name-than-the-rest";
    for (int i = 0; i <= 500; ++i) {
        const std::string name = i < 500 ? "user" + std::to_string(i) : longest;
        MakeFolders(home.File("mail/" + name));
        WriteFile(home.File("mail/" + name + "/maillist.ini"), "[System]\r\nPassword=x\r\nVolume=10\r\n");
    }
    Accounts().Load();
    auto view = MakeView();
    NoticeRelay relay(ProcessNoticeBus());
    relay.AddReceiver(view.get());
    QSignalSpy finished(view.get(), &AccountListView::RefreshFinished);
    // Qt sizes a column by this many rows at most (1,000 by default): the
    // fitting must not stop there.
    view->horizontalHeader()->setResizeContentsPrecision(100);
    view->OnRefreshUserList();
    ASSERT_TRUE(view->refreshing()) << "500 accounts are read on a worker";
    view->OnRefreshUserList();  // merged: one more refresh at the end
    ASSERT_TRUE(CreateAccount("late"));  // arrives while the rows are read
    ASSERT_TRUE(WaitFor([&] { return finished.count() == 2 && !view->refreshing(); }, 20000));
    EXPECT_EQ(view->model()->rowCount(), 502);
    std::set<std::string> names;
    for (int row = 0; row < view->model()->rowCount(); ++row) names.insert(view->model()->NameAt(row));
    EXPECT_EQ(names.size(), 502u) << "no row twice";
    EXPECT_TRUE(names.count("late"));
    EXPECT_EQ(Shown(*view).back(), longest);
    EXPECT_GT(view->columnWidth(kColumnAccount), view->fontMetrics().horizontalAdvance(QString::fromStdString(longest)));
}

TEST_F(AccountListViewTest, HeaderClicksSortLeftButtonOnly) {
    ASSERT_TRUE(CreateAccount("carol", [](AccountRecord& r) { r.Volume = 5; }));
    ASSERT_TRUE(CreateAccount("alice", [](AccountRecord& r) { r.Volume = 30; }));
    ASSERT_TRUE(CreateAccount("bob", [](AccountRecord& r) { r.Volume = 5; }));
    ASSERT_TRUE(CreateAccount("dave", [](AccountRecord& r) { r.Max = 1; }));
    auto view = MakeView();
    view->OnRefreshUserList();
    QHeaderView* header = view->horizontalHeader();
    auto click = [&](int column, Qt::MouseButton button, Qt::KeyboardModifiers modifiers = {}) {
        const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
        QTest::mousePress(header->viewport(), button, modifiers, at);
        QTest::mouseRelease(header->viewport(), button, modifiers, at);
    };
    const auto before = Shown(*view);
    click(kColumnAccount, Qt::RightButton);
    EXPECT_EQ(Shown(*view), before) << "a right click sorts nothing";
    click(kColumnAccount, Qt::LeftButton);  // shown ascending: the click reverses it
    EXPECT_EQ(Shown(*view), (std::vector<std::string>{"dave", "carol", "bob", "alice"}));
    click(kColumnAccount, Qt::LeftButton);
    EXPECT_EQ(Shown(*view), (std::vector<std::string>{"alice", "bob", "carol", "dave"}));
    // Size ascending at its first click ("Unlimited" sorts as 0), ties by
    // name (Ctrl+click twice: descending, then ascending).
    click(kColumnTotalSize, Qt::LeftButton);
    click(kColumnAccount, Qt::LeftButton, Qt::ControlModifier);
    click(kColumnAccount, Qt::LeftButton, Qt::ControlModifier);
    EXPECT_EQ(Shown(*view), (std::vector<std::string>{"dave", "bob", "carol", "alice"}));
}

TEST_F(AccountListViewTest, DoubleClicksOpenTheRightDialog) {
    ASSERT_TRUE(CreateAccount("alice"));
    ASSERT_TRUE(CreateAccount("team", [](AccountRecord& r) { r.IsGroup = 1; }));
    auto view = MakeView();
    view->OnRefreshUserList();
    if (Accounts().IsGroup("team") == 0) GTEST_SKIP() << "groups are made by the group dialog";
    auto double_click = [&](QPoint at) { QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at); };
    double_click(QPoint(5, view->viewport()->height() - 5));  // empty space
    for (const char* name : {"alice", "team"}) {
        const int row = view->proxy()->mapFromSource(view->model()->index(view->model()->FindRow(name), 0)).row();
        double_click(view->visualRect(view->proxy()->index(row, 1)).center());
    }
    ASSERT_EQ(opened.size(), 3u);
    EXPECT_EQ(opened[0].first, DialogKind::kTransferStatus);
    EXPECT_EQ(opened[1], std::make_pair(DialogKind::kAccountSheet, std::string("alice")));
    EXPECT_EQ(opened[2], std::make_pair(DialogKind::kGroup, std::string("team")));
}

TEST_F(AccountListViewTest, AFilledListShowsWholeCellsInNameOrder) {
    // config.ini as the settings complete it: the default widths.
    UseConfig("", "[ColumnWidths]\r\nQuorvexServerListView=" + std::string(kDefaultColumnWidths) + "\r\n");
    const std::string long_name = "a-rather-long-account-name-number1";
    for (const char* name : {"carol", long_name.c_str(), "Bob"}) ASSERT_TRUE(CreateAccount(name));
    {
        auto view = MakeView();
        view->OnRefreshUserList();
        EXPECT_EQ(Shown(*view), (std::vector<std::string>{long_name, "Bob", "carol"}));
        for (int column : {kColumnAccount, kColumnLastVisit}) {
            const QString widest = view->model()->CellAt(view->model()->FindRow(long_name), column);
            EXPECT_GT(view->columnWidth(column), view->fontMetrics().horizontalAdvance(widest)) << column;
        }
        view->SortColumn(kColumnAccount, false);  // shown ascending: the click reverses it
        EXPECT_EQ(Shown(*view).front(), "carol");
        // Rows that come or change later widen their columns too.
        const std::pair<const char*, QString> rows[] = {{"zed", "Wolfgang Amadeus Zauberfloete"},  // new
                                                        {"carol", "Wolfgang Amadeus Zauberfloete, act two"}};
        for (const auto& [name, user_name] : rows) {
            ASSERT_TRUE(CreateAccount(name, [&](AccountRecord& r) { r.UserName = user_name.toStdString(); }));
            view->OnNotice(Notice{NoticeId::WM_NEW_ACCOUNT, name});
            EXPECT_GT(view->columnWidth(kColumnUserName), view->fontMetrics().horizontalAdvance(user_name)) << name;
        }
    }
    // Widths the administrator never set are not stored.
    EXPECT_EQ(ReadProfileString(home.File("config.ini"), "ColumnWidths", kAccountListName), kDefaultColumnWidths);
}

TEST_F(AccountListViewTest, ColumnWidthsAreKept) {
    ProfileFile(home.File("config.ini")).WriteString("ColumnWidths", kAccountListName, "90,10,,77,");
    {
        auto view = MakeView();
        EXPECT_EQ(view->columnWidth(0), 90);
        for (int column : {1, 2}) {
            EXPECT_GE(view->columnWidth(column), 20) << column;
            EXPECT_LE(view->columnWidth(column), 70) << column;
        }
        // A stored width never cuts the title.
        EXPECT_EQ(view->columnWidth(3), std::max(77, view->horizontalHeader()->sectionSizeHint(3)));
        ASSERT_TRUE(CreateAccount("a-rather-long-account-name-number1"));
        view->OnRefreshUserList();
        EXPECT_EQ(view->columnWidth(0), 90) << "the administrator's widths stay after a fill";
        view->setColumnWidth(0, 123);
    }
    const std::string stored = ReadProfileString(home.File("config.ini"), "ColumnWidths", kAccountListName);
    EXPECT_EQ(stored.substr(0, 4), "123,");
    EXPECT_EQ(std::count(stored.begin(), stored.end(), ','), 8);
}

}  // namespace
}  // namespace quorvex::gui::testing
