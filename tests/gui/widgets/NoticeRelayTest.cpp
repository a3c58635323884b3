// The notice relay and the log pane: notices from many threads reach the
// window on its own thread in the order each thread posted them; only the
// kinds a window acts on pass; the log pane takes lines from any thread and
// never grows past its cap.
#include <QThread>
#include <atomic>
#include <map>
#include <thread>

#include "GuiTestSupport.h"
#include "gui/notices/NoticeRelay.h"
#include "gui/views/ServerLogView.h"
#include "servers/logs/ServerLogs.h"

namespace quorvex::gui::testing {
namespace {

class Recorder final : public NoticeReceiver {
public:
    void OnNotice(const Notice& notice) override {
        if (QThread::currentThread() != qApp->thread()) off_thread = true;
        notices.push_back(notice);
    }
    std::vector<Notice> notices;
    bool off_thread = false;
};

TEST(NoticeRelay, ManyThreadsInOrderOnTheGuiThread) {
    NoticeBus bus;
    NoticeRelay relay(bus);
    Recorder frame, view;
    relay.AddReceiver(&frame);
    relay.AddReceiver(&view);
    constexpr int kThreads = 4, kEach = 1000;
    {
        std::vector<std::jthread> posters;
        for (int t = 0; t < kThreads; ++t) {
            posters.emplace_back([&bus, t] {
                for (int i = 0; i < kEach; ++i) bus.Post(NoticeId::WM_SHOW_MESSAGE, std::to_string(t) + " " + std::to_string(i));
            });
        }
    }
    ASSERT_TRUE(WaitFor([&] { return view.notices.size() == kThreads * kEach; }, 20000));
    EXPECT_FALSE(frame.off_thread || view.off_thread);
    std::map<int, int> next;
    for (std::size_t i = 0; i < view.notices.size(); ++i) {
        EXPECT_EQ(frame.notices[i].payload, view.notices[i].payload) << "the frame first, the views in the same order";
        const std::string& payload = view.notices[i].payload;
        const int thread = std::stoi(payload.substr(0, payload.find(' ')));
        const int number = std::stoi(payload.substr(payload.find(' ') + 1));
        ASSERT_EQ(number, next[thread]++) << payload;
    }
    EXPECT_EQ(relay.dropped(), 0u);
}

TEST(NoticeRelay, OnlyTheWindowsKindsPassAndPayloadsAreBounded) {
    NoticeBus bus;
    bus.Post(NoticeId::WM_SHOW_MESSAGE, "before any window");  // nobody listens: dropped
    NoticeRelay relay(bus);
    Recorder frame;
    relay.AddReceiver(&frame);
    bus.Post(NoticeId::WM_RESIZE_SPLITTER, "");
    bus.Post(NoticeId::WM_SHOW_MESSAGE, std::string(100000, 'x'));
    bus.Post(NoticeId::WM_NEW_ACCOUNT, "alice");
    ASSERT_TRUE(WaitFor([&] { return frame.notices.size() == 2; }));
    EXPECT_EQ(frame.notices[0].payload.size(), kMaxNoticePayload);
    EXPECT_EQ(frame.notices[1].id, NoticeId::WM_NEW_ACCOUNT);
    QTest::qWait(50);
    EXPECT_EQ(frame.notices.size(), 2u);
}

TEST(NoticeRelay, LogLinesAreHandledOnTheDeliveryThreadInOrder) {
    NoticeBus bus;
    NoticeRelay relay(bus);
    Recorder frame;
    relay.AddReceiver(&frame);
    std::mutex mutex;
    std::vector<std::string> lines;
    bool on_gui_thread = false;
    relay.HandleOnDeliveryThread(NoticeId::WM_SHOW_MESSAGE, [&](const Notice& notice) {
        std::lock_guard lock(mutex);
        if (QThread::currentThread() == qApp->thread()) on_gui_thread = true;
        lines.push_back(notice.payload);
    });
    for (int i = 0; i < 100; ++i) bus.Post(NoticeId::WM_SHOW_MESSAGE, std::to_string(i));
    bus.Post(NoticeId::WM_NEW_ACCOUNT, "alice");
    ASSERT_TRUE(WaitFor([&] { return frame.notices.size() == 1; }));
    std::lock_guard lock(mutex);
    ASSERT_EQ(lines.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(lines[i], std::to_string(i));
    EXPECT_FALSE(on_gui_thread);
    EXPECT_EQ(frame.notices[0].id, NoticeId::WM_NEW_ACCOUNT) << "the window gets only the others";
}

TEST(ServerLogPane, LinesFromWorkersAndTheCap) {
    TempFolder folder;
    ServerLogView pane;
    pane.InstallAsSystemLogDisplay();
    const LogSettings settings{folder.File("log"), 100000};
    {
        std::vector<std::jthread> writers;
        for (int t = 0; t < 4; ++t) {
            writers.emplace_back([&settings, t] {
                for (int i = 0; i < 200; ++i) WriteSystemLog(settings, "worker " + std::to_string(t) + " line " + std::to_string(i));
            });
        }
    }
    ASSERT_TRUE(WaitFor([&] { return pane.toPlainText().contains(QStringLiteral("worker 3 line 199")); }));
    // Past the cap the pane starts afresh with the next line.
    pane.setPlainText(QString(kMaxLogPaneCharacters + 10, QLatin1Char('y')));
    WriteSystemLog(settings, "after the cap");
    ASSERT_TRUE(WaitFor([&] { return pane.toPlainText().contains(QStringLiteral("after the cap")); }));
    EXPECT_FALSE(pane.toPlainText().contains(QLatin1Char('y')));
    EXPECT_EQ(pane.toPlainText().count(QLatin1Char('\n')), 0);
}

}  // namespace
}  // namespace quorvex::gui::testing
