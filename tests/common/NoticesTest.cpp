// The notice bus: names, ordered delivery on the bus's thread, posting that
// never waits for a slow receiver, bounded waits, and the visit payload.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "common/Notices.h"

namespace quorvex {
namespace {

using namespace std::chrono_literals;

// Collects what a subscriber received and lets the test wait for a count.
class Received {
public:
    void Add(const Notice& notice) {
        std::lock_guard lock(mutex_);
        notices_.push_back(notice);
        cv_.notify_all();
    }
    bool WaitFor(std::size_t count, std::chrono::milliseconds deadline = 5s) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, deadline, [&] { return notices_.size() >= count; });
    }
    std::vector<Notice> Snapshot() {
        std::lock_guard lock(mutex_);
        return notices_;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<Notice> notices_;
};

TEST(Notices, NamesAndIdsAreOneTable) {
    const NoticeId ids[] = {NoticeId::WM_UPDATE_PARAM,      NoticeId::WM_UPDATE_USER_COUNT, NoticeId::WM_SHOW_MESSAGE,
                            NoticeId::WM_NOTIFYICON,        NoticeId::WM_RESIZE_SPLITTER,   NoticeId::WM_UPDATE_ACCOUNT,
                            NoticeId::WM_NEW_ACCOUNT,       NoticeId::WM_DELETE_ACCOUNT,    NoticeId::WM_UPDATE_ACCOUNT_EX,
                            NoticeId::WM_ERROR_ALERT};
    for (NoticeId id : ids) {
        const std::string_view name = NoticeName(id);
        ASSERT_TRUE(name.starts_with("QuorvexServer WM_")) << static_cast<int>(id);
        EXPECT_EQ(NoticeIdFromName(name), id);
    }
    EXPECT_EQ(NoticeName(NoticeId::WM_UPDATE_ACCOUNT_EX), "QuorvexServer WM_UPDATE_ACCOUNT_EX");
    EXPECT_EQ(NoticeIdFromName("QuorvexServer WM_SHOW_MESSAGE"), NoticeId::WM_SHOW_MESSAGE);
    EXPECT_FALSE(NoticeIdFromName("quorvexserver wm_show_message"));
    EXPECT_FALSE(NoticeIdFromName("QuorvexServer WM_UNKNOWN"));
}

TEST(Notices, DeliversInOrderOnTheBusThread) {
    NoticeBus bus;
    Received received;
    std::atomic<bool> on_caller_thread{false};
    const auto caller = std::this_thread::get_id();
    bus.Subscribe([&](const Notice& notice) {
        if (std::this_thread::get_id() == caller) on_caller_thread = true;
        received.Add(notice);
    });
    constexpr int kCount = 500;
    for (int i = 0; i < kCount; ++i) bus.Post(NoticeId::WM_SHOW_MESSAGE, "line " + std::to_string(i));
    ASSERT_TRUE(received.WaitFor(kCount));
    const auto got = received.Snapshot();
    for (int i = 0; i < kCount; ++i) EXPECT_EQ(got[i].payload, "line " + std::to_string(i));
    EXPECT_FALSE(on_caller_thread);
}

TEST(Notices, PostNeverWaitsForABlockedReceiver) {
    NoticeBus bus;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    Received received;
    bus.Subscribe([&](const Notice& notice) {
        released.wait();
        received.Add(notice);
    });
    // The receiver is stuck on the first notice; posting goes on regardless,
    // and a bounded wait gives up.
    for (int i = 0; i < 1000; ++i) bus.Post(NoticeId::WM_UPDATE_ACCOUNT, "bob");
    EXPECT_FALSE(bus.PostAndWait(NoticeId::WM_NEW_ACCOUNT, "carol", 20ms));
    release.set_value();
    ASSERT_TRUE(received.WaitFor(1001));
    EXPECT_EQ(received.Snapshot().back().payload, "carol");
}

TEST(Notices, PostAndWaitReturnsOnceHandled) {
    NoticeBus bus;
    std::atomic<int> handled{0};
    bus.Subscribe([&](const Notice&) { ++handled; });
    EXPECT_TRUE(bus.PostAndWait(NoticeId::WM_NEW_ACCOUNT, "alice", 5s));
    EXPECT_EQ(handled.load(), 1);

    // From inside the handler it cannot wait for itself.
    std::promise<bool> inner;
    bus.Subscribe([&](const Notice& notice) {
        if (notice.payload == "outer") inner.set_value(bus.PostAndWait(NoticeId::WM_UPDATE_ACCOUNT, "inner", 5s));
    });
    auto inner_result = inner.get_future();
    bus.Post(NoticeId::WM_UPDATE_ACCOUNT, "outer");
    ASSERT_EQ(inner_result.wait_for(5s), std::future_status::ready);
    EXPECT_FALSE(inner_result.get());
}

TEST(Notices, WithoutSubscriberNothingQueuesOrWaits) {
    NoticeBus bus;
    bus.Post(NoticeId::WM_SHOW_MESSAGE, "lost");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(bus.PostAndWait(NoticeId::WM_NEW_ACCOUNT, "nobody", 10s));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);

    Received received;
    bus.Subscribe([&](const Notice& notice) { received.Add(notice); });
    bus.Post(NoticeId::WM_SHOW_MESSAGE, "seen");
    ASSERT_TRUE(received.WaitFor(1));
    EXPECT_EQ(received.Snapshot().front().payload, "seen");
}

TEST(Notices, UnsubscribeWaitsForTheRunningHandlerAndDropsTheRest) {
    NoticeBus bus;
    std::promise<void> entered, release;
    auto released = release.get_future().share();
    std::atomic<int> calls{0};
    bus.Subscribe([&](const Notice&) {
        if (calls++ == 0) {
            entered.set_value();
            released.wait();
        }
    });
    bus.Post(NoticeId::WM_SHOW_MESSAGE, "first");
    bus.Post(NoticeId::WM_SHOW_MESSAGE, "second");
    entered.get_future().wait();
    auto unsubscribed = std::async(std::launch::async, [&] { bus.Unsubscribe(); });
    EXPECT_EQ(unsubscribed.wait_for(50ms), std::future_status::timeout);  // still inside the handler
    release.set_value();
    ASSERT_EQ(unsubscribed.wait_for(5s), std::future_status::ready);
    bus.Post(NoticeId::WM_SHOW_MESSAGE, "third");
    EXPECT_EQ(calls.load(), 1);
}

TEST(Notices, FullQueueDropsAndCounts) {
    // Declared before the bus: the handler may still be returning from its
    // wait when the test body ends, and the bus's end joins it.
    std::promise<void> entered, release;
    auto released = release.get_future().share();
    std::atomic<bool> first{true};
    NoticeBus bus;
    bus.Subscribe([&](const Notice&) {
        if (first.exchange(false)) {
            entered.set_value();
            released.wait();
        }
    });
    bus.Post(NoticeId::WM_SHOW_MESSAGE, "blocker");
    entered.get_future().wait();
    for (std::size_t i = 0; i < NoticeBus::kMaxPendingNotices + 5; ++i) bus.Post(NoticeId::WM_SHOW_MESSAGE, "x");
    EXPECT_EQ(bus.dropped(), 5u);
    release.set_value();
}

TEST(Notices, HandlerExceptionDoesNotStopDelivery) {
    NoticeBus bus;
    Received received;
    bus.Subscribe([&](const Notice& notice) {
        if (notice.payload == "bad") throw std::runtime_error("receiver failed");
        received.Add(notice);
    });
    bus.Post(NoticeId::WM_SHOW_MESSAGE, "bad");
    bus.Post(NoticeId::WM_SHOW_MESSAGE, "good");
    ASSERT_TRUE(received.WaitFor(1));
    EXPECT_EQ(received.Snapshot().front().payload, "good");
}

TEST(Notices, AccountVisitPayload) {
    const AccountVisit visit{"bob@example.test", 12, 3456789012LL, "2024/02/29 23:59:58"};
    const std::string text = FormatAccountVisit(visit);
    EXPECT_EQ(text, "bob@example.test 12 3456789012 2024/02/29 23:59:58");
    const auto parsed = ParseAccountVisit(text);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->account, visit.account);
    EXPECT_EQ(parsed->message_count, 12);
    EXPECT_EQ(parsed->mailbox_bytes, 3456789012LL);
    EXPECT_EQ(parsed->visit_time, visit.visit_time);

    for (const char* bad : {"", "bob", "bob 1 2", "bob x 2 2024/01/01 00:00:00", "bob 1 2y 2024/01/01 00:00:00",
                            " 1 2 2024/01/01 00:00:00"}) {
        EXPECT_FALSE(ParseAccountVisit(bad)) << bad;
    }
}

}  // namespace
}  // namespace quorvex
