// The window with the real servers in this process: a message sent with
// Python's smtplib and a POP3 login with poplib show in the account's row
// (mail count, last visit) and in the log pane and the day's system log,
// while four threads post a thousand notices each.
#include <QPlainTextEdit>
#include <thread>

#include "common/PasswordDigest.h"
#include "gui/frame/MainFrame.h"
#include "gui/views/AccountListView.h"
#include "gui/views/ServerLogView.h"
#include "LiveServersFixture.h"

namespace quorvex::gui::testing {
namespace {

using LiveServersTest = LiveServersFixture;

TEST_F(LiveServersTest, MailAndVisitsShowInTheRowAndTheLog) {
    ASSERT_TRUE(CreateAccount("alice", [](AccountRecord& r) { r.Password = HashAccountPassword("secret", 1); }));
    ASSERT_TRUE(WriteAccountTimeStamp("alice", "2001/01/01 00:00:00"));  // a visit long ago
    MainFrame frame(services, nullptr, ProcessNoticeBus());
    frame.show();
    frame.account_view()->OnRefreshUserList();
    AccountTableModel* model = frame.account_view()->model();
    ASSERT_EQ(model->rowCount(), 1);
    EXPECT_EQ(model->CellAt(0, kColumnMailNumber), QStringLiteral("1"));  // the welcome message
    const QString first_visit = model->CellAt(0, kColumnLastVisit);
    ASSERT_EQ(first_visit, QStringLiteral("2001/01/01 00:00:00"));

    // A burst of notices from four threads while the real clients run.
    std::vector<std::jthread> burst;
    for (int t = 0; t < 4; ++t) {
        burst.emplace_back([t] {
            for (int i = 0; i < 1000; ++i) {
                ProcessNoticeBus().Post(NoticeId::WM_SHOW_MESSAGE, "burst " + std::to_string(t) + " " + std::to_string(i));
            }
        });
    }
    const std::string smtp = std::to_string(smtp_port_);
    const std::string pop3 = std::to_string(pop3_port_);
    ASSERT_EQ(RunPython("import smtplib; s=smtplib.SMTP(\"127.0.0.1\"," + smtp +
                        "); s.sendmail(\"x@remote.test\",[\"alice@example.test\"],\"Subject: hi\\r\\n\\r\\nbody\\r\\n\"); s.quit()"),
              0);
    ASSERT_EQ(RunPython("import poplib; p=poplib.POP3(\"127.0.0.1\"," + pop3 +
                        "); p.user(\"alice\"); p.pass_(\"secret\"); p.list(); p.quit()"),
              0);
    burst.clear();

    QElapsedTimer elapsed;
    elapsed.start();
    ASSERT_TRUE(WaitFor([&] {
        return model->CellAt(0, kColumnMailNumber) == QStringLiteral("2") &&
               model->CellAt(0, kColumnLastVisit) != first_visit;
    }, 5000)) << model->CellAt(0, kColumnMailNumber).toStdString() << " " << model->CellAt(0, kColumnLastVisit).toStdString();
    EXPECT_LT(elapsed.elapsed(), 5000);
    // Every line reaches the day's system log, and the pane shows the
    // system log's lines as they are written (it keeps only the latest
    // 64 KiB).
    auto syslog = [&] {
        std::string text;
        for (const auto& entry : std::filesystem::directory_iterator(home.File("log"))) {
            if (entry.path().filename().string().rfind("syslog", 0) == 0) text += ReadFile(entry.path().string());
        }
        return text;
    };
    ASSERT_TRUE(WaitFor([&] {
        const std::string text = syslog();
        for (int t = 0; t < 4; ++t) {
            if (text.find("burst " + std::to_string(t) + " 999\r\n") == std::string::npos) return false;
        }
        // The SMTP session's log line (a loopback client is the web-mail
        // front end of the default settings).
        return text.find("] SMTP WebMail ") != std::string::npos;
    }, 10000));
    const std::string text = syslog();
    const std::size_t last = text.rfind("\r\n", text.size() - 3);
    const QString last_line = QString::fromStdString(text.substr(last + 2, text.size() - last - 4));
    ASSERT_TRUE(WaitFor([&] { return frame.log_view()->toPlainText().endsWith(last_line); })) << last_line.toStdString();
}

}  // namespace
}  // namespace quorvex::gui::testing
