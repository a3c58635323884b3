// The mail tools' windows under QTest: the send-mail dialog (checks, the
// worker, refused receivers, the remembered sender), the transfer status
// window (modes, deleting only inside the queue, re-sending a parked
// message that then reaches a real SMTP receiver), the deleted users
// window and the report window (read back with Python's csv module).
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <filesystem>

#include "GuiTestSupport.h"
#include "common/RunFlag.h"
#include "gui/dialogs/DeletedUsersDlg.h"
#include "gui/dialogs/ReportDlg.h"
#include "gui/dialogs/SendMailDlg.h"
#include "gui/dialogs/TransferStatusDlg.h"
#include "gui/support/GuiStrings.h"
#include "gui/support/WidgetTranslator.h"
#include "mailmodel/store/MailStore.h"
#include "servers/outgoing/DomainDelivery.h"
#include "servers/queue/OutgoingQueue.h"
#include "support/TestPorts.h"
#include "tests/servers/support/SmtpPeer.h"

namespace quorvex::gui::testing {
namespace {

template <typename T>
T* Child(QWidget* parent, const char* name) {
    T* child = parent->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
}

void Click(QWidget* parent, const char* name) {
    if (auto* button = Child<QAbstractButton>(parent, name)) QTest::mouseClick(button, Qt::LeftButton);
}

using MailToolsTest = GuiFolderTest;

TEST_F(MailToolsTest, SendMailChecksItsFieldsAndReportsRefusals) {
    ASSERT_TRUE(CreateAccount("alice"));
    ASSERT_TRUE(CreateAccount("bob"));
    ASSERT_TRUE(CreateAccount("closed", [](AccountRecord& r) { r.Disabled = 1; }));
    {
        SendMailDlg all("All", Settings(), directory, Accounts(), prompts, chooser);
        EXPECT_TRUE(Child<QLineEdit>(&all, "recipients")->isReadOnly());
        EXPECT_EQ(Child<QLineEdit>(&all, "recipients")->text(), QStringLiteral("All users"));
        EXPECT_EQ(Child<QLineEdit>(&all, "sender")->text(), QStringLiteral("admin@example.test"));
        EXPECT_EQ(Child<QLineEdit>(&all, "subject")->text(), QStringLiteral("mail from administrator"));
        all.show();
        Child<QPlainTextEdit>(&all, "text")->setPlainText(QStringLiteral("To everyone"));
        Click(&all, "send");
        ASSERT_TRUE(WaitFor([&] { return all.result() == QDialog::Accepted; }));
        EXPECT_TRUE(prompts.Saw(FormatText(Tr(kTextSentToAllFormat), {QStringLiteral("3"), QStringLiteral("3")})));
    }
    {
        // Put away by the lock while sending: the system log tells how far it came.
        SendMailDlg all("All", Settings(), directory, Accounts(), prompts, chooser);
        all.show();
        Child<QPlainTextEdit>(&all, "text")->setPlainText(QStringLiteral("Again"));
        Click(&all, "send");
    }
    // A line for each sending, also the one whose end nobody saw.
    const std::string log = SystemLog();
    const std::size_t first = log.find(" of 3 receivers got it");
    ASSERT_NE(first, std::string::npos) << log;
    EXPECT_NE(log.find(" of 3 receivers got it", first + 1), std::string::npos) << log;
    const std::string attachment = home.File("Bericht Gr\xC3\xB6\xC3\x9F" "e.txt");
    WriteFile(attachment, "attached text");
    chooser.files = {QString::fromStdString(attachment)};
    int refreshed = 0;
    SendMailDlg dialog("alice;bob;closed;", Settings(), directory, Accounts(), prompts, chooser, nullptr,
                       [&] { ++refreshed; });
    dialog.show();
    // It opens on its first field, and Enter in a field sends.
    EXPECT_EQ(dialog.focusWidget(), Child<QLineEdit>(&dialog, "sender"));
    EXPECT_TRUE(Child<QPushButton>(&dialog, "send")->isDefault());
    Click(&dialog, "attach");
    EXPECT_EQ(dialog.attachments(), chooser.files);
    Click(&dialog, "send");
    EXPECT_TRUE(prompts.Saw(QStringLiteral("The mail is empty."))) << "attachments but no text";
    Child<QLineEdit>(&dialog, "recipients")->setText(QStringLiteral(" ; "));
    Child<QPlainTextEdit>(&dialog, "text")->setPlainText(QString::fromUtf8("Gr\xC3\xBC\xC3\x9F" "e an alle"));
    Click(&dialog, "send");
    EXPECT_TRUE(prompts.Saw(QStringLiteral("There is no address of receiver.")));
    EXPECT_EQ(dialog.result(), 0);

    Child<QLineEdit>(&dialog, "recipients")->setText(QStringLiteral("alice;bob;closed;"));
    Child<QLineEdit>(&dialog, "sender")->setText(QStringLiteral("boss@example.test"));
    Child<QLineEdit>(&dialog, "subject")->setText(QString::fromUtf8("Gr\xC3\xBC\xC3\x9F" "e"));
    const int before = GetMailboxMessageCount("alice");
    Click(&dialog, "send");
    ASSERT_TRUE(WaitFor([&] { return dialog.result() == QDialog::Accepted; }));
    EXPECT_EQ(GetMailboxMessageCount("alice"), before + 1);
    EXPECT_EQ(GetMailboxMessageCount("bob"), before + 1);
    EXPECT_EQ(refreshed, 1);
    ASSERT_FALSE(prompts.shown.empty());
    EXPECT_EQ(prompts.shown.back().kind, "warning");
    EXPECT_TRUE(prompts.shown.back().text.contains(QStringLiteral("closed@example.test"))) << prompts.shown.back().text.toStdString();
    EXPECT_FALSE(prompts.shown.back().text.contains(QStringLiteral("alice@")));
    // Python's email package reads the subject, body and file name as typed.
    MailboxSnapshot box;
    ASSERT_TRUE(LoadMailboxIndexLocked("alice", box));
    const std::string copy = home.File("alice.eml");
    ASSERT_TRUE(ScrambleCopyFile(*GetMailFilePath("alice", box.Records.back().FileNumber), copy, MailStoreKey("alice")));
    EXPECT_EQ(RunPython("import email, email.policy, sys; m = email.message_from_binary_file(open(sys.argv[1], \"rb\"), "
                        "policy=email.policy.default); got = (m[\"subject\"], m.get_body().get_content(), "
                        "[p.get_filename() for p in m.iter_attachments()]); assert got == (\"Gr\\u00fc\\u00dfe\", "
                        "\"Gr\\u00fc\\u00dfe an alle\", [\"Bericht Gr\\u00f6\\u00dfe.txt\"]), got",
                        copy),
              0);

    // The last sender is offered next time.
    SendMailDlg again("alice;", Settings(), directory, Accounts(), prompts, chooser);
    EXPECT_EQ(Child<QLineEdit>(&again, "sender")->text(), QStringLiteral("boss@example.test"));
}

TEST_F(MailToolsTest, TransferStatusDeletesOnlyInsideTheQueue) {
    const std::string queue = home.File("smtp");
    MakeFolders(queue);
    WriteFile(home.File("victim"), "keep me");
    WriteFile(JoinPath(queue, "8.ini"), "[Info]\r\nDestAddr=y@remote.test\r\nReplyAddr=a@example.test\r\nMailFile=../victim\r\nTimes=1\r\n");
    TransferStatusDlg dialog(prompts, mail_queue);
    dialog.show();
    QPushButton* retransfer = Child<QPushButton>(&dialog, "retransfer");
    QLabel* count = Child<QLabel>(&dialog, "mailCount");
    EXPECT_FALSE(retransfer->isVisible()) << "only for undelivered mail";
    EXPECT_EQ(count->text(), QStringLiteral("1"));
    EXPECT_EQ(dialog.list()->item(0, 1)->text(), QStringLiteral("a@example.test"));
    EXPECT_EQ(dialog.list()->item(0, 2)->text(), QStringLiteral("y@remote.test"));

    Click(&dialog, "delete");  // nothing selected: nothing happens
    EXPECT_EQ(count->text(), QStringLiteral("1"));
    // A double click re-sends only undelivered mail.
    const QRect cell = dialog.list()->visualItemRect(dialog.list()->item(0, 1));
    QTest::mouseDClick(dialog.list()->viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_EQ(count->text(), QStringLiteral("1"));
    EXPECT_TRUE(FileExists(JoinPath(queue, "8.ini")));
    dialog.list()->selectRow(0);
    prompts.answers = {false, true};  // asked first, as for accounts
    Click(&dialog, "delete");
    EXPECT_EQ(count->text(), QStringLiteral("1"));
    Click(&dialog, "delete");
    EXPECT_TRUE(prompts.Saw(Tr(kTextDeleteMailQuestion)));
    EXPECT_EQ(count->text(), QStringLiteral("0"));
    EXPECT_EQ(ReadFile(home.File("victim")), "keep me");
    EXPECT_FALSE(FileExists(JoinPath(queue, "8.ini")));
    EXPECT_NE(SystemLog().find("] Queued mail 8 from a@example.test to y@remote.test deleted by the administrator\r\n"),
              std::string::npos);

    Click(&dialog, "modeUndelivered");
    EXPECT_EQ(dialog.mode(), TransferMode::kUndelivered);
    EXPECT_TRUE(retransfer->isVisible());
    EXPECT_EQ(count->text(), QStringLiteral("0"));
}

// A parked message sent again from the window reaches a real receiver
// (aiosmtpd) through the sender threads.
TEST_F(MailToolsTest, RetransferReachesTheReceiver) {
    const int port = quorvex::testing::TakeTestPort();
    ASSERT_GT(port, 0);
    quorvex::testing::SmtpPeer peer("127.0.0.1", port, home.File("peer"));
    ASSERT_TRUE(peer.started());
    UpdateSettings([&](CServerSettings& s) {
        s.MailRelayTo = 1;
        s.RelayServer = "127.0.0.1";
        s.RelayPort = port;
        s.DNS = "127.0.0.1";
        s.DNSSecondary = "127.0.0.1";
    });
    const std::string parked = home.File("undelivered");
    MakeFolders(parked);
    WriteFile(JoinPath(parked, "undelivered100.dat"), "From: a@example.test\r\nSubject: parked once\r\n\r\nbody\r\n");
    WriteFile(JoinPath(parked, "100.ini"), "[Info]\r\nDestAddr=far@remote.test\r\nReplyAddr=a@example.test\r\n"
                                           "MailFile=undelivered100.dat\r\nTimes=5\r\nLastResponse=421 closing\r\n");
    ServerRunFlag = 1;
    SenderOptions options;
    options.thread_count = 2;
    options.notices = &notices;
    options.deliver = [](std::string_view recipient, std::string_view sender, const std::string& file, std::string& outcome) {
        auto loopback = outgoing::DeliveryOptionsFromSettings(Settings());
        loopback.fallback_dns_servers.clear();
        return outgoing::DeliverToDomain(recipient, sender, file, outcome, loopback);
    };
    mail_queue.StartSenders(options);

    TransferStatusDlg dialog(prompts, mail_queue);
    dialog.show();
    Click(&dialog, "modeUndelivered");
    ASSERT_EQ(dialog.list()->rowCount(), 1);
    EXPECT_EQ(dialog.list()->item(0, 4)->text(), QStringLiteral("421 closing"));
    dialog.list()->selectRow(0);
    Click(&dialog, "retransfer");
    EXPECT_EQ(dialog.list()->rowCount(), 0);
    const bool arrived = WaitFor([&] { return !peer.Messages().empty(); }, 20000);
    EXPECT_TRUE(mail_queue.StopSenders(std::chrono::seconds(10)));
    ServerRunFlag = 0;
    ASSERT_TRUE(arrived);
    EXPECT_NE(ReadFile(peer.Messages()[0]).find("Subject: parked once"), std::string::npos);
}

TEST_F(MailToolsTest, DeletedUsersAskOnceAndRestore) {
    const std::string mail = home.File("mail");
    for (const char* folder : {"_dave", "_erin", "_frank"}) MakeFolders(JoinPath(mail, folder));
    DeletedUsersDlg dialog(Settings(), Accounts(), prompts);
    dialog.show();
    ASSERT_EQ(dialog.list()->rowCount(), 3);
    Click(&dialog, "delete");  // nothing selected
    EXPECT_TRUE(prompts.shown.empty());
    Click(&dialog, "selectAll");
    Click(&dialog, "delete");  // answered No
    EXPECT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(dialog.list()->rowCount(), 3);

    dialog.list()->clearSelection();
    dialog.list()->selectRow(0);
    Click(&dialog, "restore");
    EXPECT_TRUE(Accounts().Exists("dave"));
    EXPECT_EQ(dialog.list()->rowCount(), 2);

    prompts.answers = {true};
    Click(&dialog, "selectAll");
    Click(&dialog, "delete");
    EXPECT_EQ(dialog.list()->rowCount(), 0);
    EXPECT_FALSE(std::filesystem::exists(JoinPath(mail, "_erin")));
    EXPECT_TRUE(std::filesystem::is_directory(JoinPath(mail, "dave")));
}

TEST_F(MailToolsTest, ReportFilesHoldWhatUsersTypedSafely) {
    ASSERT_TRUE(CreateAccount("alice", [](AccountRecord& r) {
        r.UserName = "<b>=1";
        r.Comment = "x, y \"quoted\"";
    }));
    ASSERT_TRUE(CreateAccount("bob", [](AccountRecord& r) {
        r.UserName = "=HYPERLINK(\"x\")";
        r.Comment = "W\xC3\xB6lfgang Test";
    }));
    ReportDlg dialog({"alice", "bob"}, Settings(), Accounts(), opener, prompts);
    dialog.show();
    QCheckBox* select_all = Child<QCheckBox>(&dialog, "selectAll");
    QTest::mouseClick(select_all, Qt::LeftButton);
    for (const char* name : {"columnAccount", "columnUserName", "columnUsedSpace", "columnTotalSize", "columnMailNumber",
                             "columnLastVisit", "columnAddress", "columnDescription"}) {
        EXPECT_TRUE(Child<QCheckBox>(&dialog, name)->isChecked()) << name;
    }
    Click(&dialog, "formatExcel");
    // A desktop with no program for folders, whose opener fails after the
    // window has gone: the file is named with the reason.
    opener.failure = QStringLiteral("no method available");
    opener.deferred = true;
    Click(&dialog, "ok");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    ASSERT_EQ(opener.paths.size(), 1u);
    EXPECT_EQ(opener.paths[0], QString::fromStdString(home.File("report")));
    opener.Finish();
    EXPECT_TRUE(prompts.Saw(FormatText(Tr(kTextOpenFailedFormat), {QString::fromStdString(home.File("report/report.csv")),
                                                                   QStringLiteral("no method available")})));
    // Python's csv reads 8 fields in every row, the values as typed.
    EXPECT_EQ(RunPython("import csv,sys; rows=list(csv.reader(open(sys.argv[1], newline=\"\"))); "
                        "assert len(rows)==2 and all(len(r)==8 for r in rows), rows; "
                        "assert rows[0][7]==\"x, y \\\"quoted\\\"\" and rows[1][1].startswith(\"\\x27=\"), rows",
                        home.File("report/report.csv")),
              0);

    ReportDlg page({"alice", "bob"}, Settings(), Accounts(), opener, prompts);
    QTest::mouseClick(Child<QCheckBox>(&page, "selectAll"), Qt::LeftButton);
    Click(&page, "ok");  // HTML is the first format
    const std::string html = ReadFile(home.File("report/report.htm"));
    EXPECT_NE(html.find("&lt;b&gt;=1"), std::string::npos);
    EXPECT_EQ(html.find("<b>"), std::string::npos);
    // The page's declared charset is the one its bytes are in.
    EXPECT_EQ(RunPython("import re, sys; page = open(sys.argv[1], \"rb\").read(); "
                        "charset = re.search(rb\"charset=([-\\w]+)\", page).group(1).decode(); "
                        "assert \"W\\u00f6lfgang Test\" in page.decode(charset), charset",
                        home.File("report/report.htm")),
              0);
}

}  // namespace
}  // namespace quorvex::gui::testing
