// The mail tools with 10,000 accounts (offscreen platform):
//   bench_mailtools [ACCOUNTS]
// Prints: the send-mail window's job to "All" (messages stored per second
// and the GUI thread's longest stall while it runs), the same number of
// messages delivered one by one through the SMTP server's local delivery
// on one and on four threads (the rates to match), and the time of the report export in
// each of its four formats (rows read and file written). Aims: at least
// the local-delivery rate, under 100 ms, each export under 2 s.
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <thread>

#include "app/ServerSmtpServices.h"
#include "common/Notices.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/ServerSettings.h"
#include "gui/QuietServices.h"
#include "gui/dialogs/SendMailDlg.h"
#include "gui/logic/UserReport.h"
#include "mailmodel/account/AccountList.h"
#include "mailmodel/compose/MessageGenerator.h"
#include "mailmodel/store/MailStore.h"
#include "servers/delivery/LocalDelivery.h"
#include "support/TempFolder.h"
#include "BenchAccounts.h"

namespace {

using namespace quorvex;
using namespace quorvex::gui;

double PerSecond(int count, qint64 ms) { return ms > 0 ? count * 1000.0 / static_cast<double>(ms) : 0.0; }

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const int accounts = argc > 1 ? std::atoi(argv[1]) : 10000;
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    quorvex::testing::TempFolder home;
    bench::MakeBenchAccounts(home, accounts, [](std::ostream& ini, int i) {
        ini << "[System]\r\nPassword=x\r\nMax=1\r\nUserName=User, \"" << i << "\"\r\nComment=<i>desk</i> " << i
            << "\r\nTimeStamp=2026/01/01 00:00:00\r\n";
    });

    QuietGui quiet;
    NullNoticeSink notices;
    OutgoingQueue queue(home.path());
    smtp::ServerSmtpServices directory(notices, queue);

    // The SMTP server's own local delivery of the message, one by one.
    QElapsedTimer clock;
    const std::string message = home.File("one.eml");
    compose::CMessageGenerator().GenerateMail(message.c_str(), "A notice to everybody.\n", "mail from administrator", "",
                                              "", "admin@example.test", "x@example.test", nullptr, nullptr, nullptr, 0, 0);
    clock.restart();
    int delivered = 0;
    for (int i = 0; i < accounts; ++i) {
        if (DeliverToRecipient(directory, nullptr, "Bench", "user" + std::to_string(i) + "@example.test",
                               "admin@example.test", message, nullptr, 1)) {
            ++delivered;
        }
    }
    const qint64 local_ms = clock.elapsed();
    // And on four threads, as parallel SMTP sessions deliver.
    clock.restart();
    std::atomic<int> next{0};
    std::atomic<int> delivered_parallel{0};
    {
        std::vector<std::jthread> sessions;
        for (int t = 0; t < 4; ++t) {
            sessions.emplace_back([&] {
                for (int i = next++; i < accounts; i = next++) {
                    if (DeliverToRecipient(directory, nullptr, "Bench", "user" + std::to_string(i) + "@example.test",
                                           "admin@example.test", message, nullptr, 1)) {
                        ++delivered_parallel;
                    }
                }
            });
        }
    }
    const qint64 parallel_ms = clock.elapsed();

    // The send-mail window to "All".
    SendMailDlg dialog("All", Settings(), directory, Accounts(), quiet.prompts, quiet.files);
    dialog.show();
    dialog.findChild<QPlainTextEdit*>(QStringLiteral("text"))->setPlainText(QStringLiteral("A notice to everybody.\n"));
    qint64 longest_gap = 0;
    QElapsedTimer gap;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { longest_gap = std::max(longest_gap, gap.restart()); });
    bool finished = false;
    QObject::connect(&dialog, &SendMailDlg::SendFinished, [&] { finished = true; });
    clock.restart();
    gap.start();
    ticker.start(1);
    dialog.findChild<QPushButton*>(QStringLiteral("send"))->click();
    while (!finished) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const qint64 send_ms = clock.elapsed();
    ticker.stop();

    // The report in each format.
    std::vector<std::string> names = Accounts().Names();
    ReportOptions options;
    options.columns.fill(true);
    options.titles = {"Account", "User Name", "Used Space(K)", "Total Size(M)", "Mail Number", "Last Visit Time",
                      "E-mail hot linkage", "Description"};
    options.domain = "example.test";
    options.page_template = "<html>%s %s<table>%s</table></html>\n";
    const char* format_names[] = {"HTML", "INI", "CSV", "Text"};
    qint64 export_ms[4] = {};
    for (int f = 0; f < 4; ++f) {
        options.format = static_cast<ReportFormat>(f);
        clock.restart();
        WriteReport(home.File("report"), options, LoadReportRows(names, RowTexts{}, Accounts()));
        export_ms[f] = clock.elapsed();
    }

    std::printf("send to All: %d accounts in %lld ms = %.0f messages/s\n", accounts, static_cast<long long>(send_ms),
                PerSecond(accounts, send_ms));
    std::printf("longest GUI stall while sending: %lld ms (aim < 100)\n", static_cast<long long>(longest_gap));
    std::printf("local delivery (SMTP server's path, one thread): %d in %lld ms = %.0f messages/s\n", delivered,
                static_cast<long long>(local_ms), PerSecond(delivered, local_ms));
    std::printf("local delivery on four threads: %d in %lld ms = %.0f messages/s\n", delivered_parallel.load(),
                static_cast<long long>(parallel_ms), PerSecond(delivered_parallel, parallel_ms));
    for (int f = 0; f < 4; ++f) {
        std::printf("export %s: %lld ms (aim < 2000)\n", format_names[f], static_cast<long long>(export_ms[f]));
    }
    return 0;
}
