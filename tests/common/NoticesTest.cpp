// The notice bus: names, ordered delivery on the bus's thread, posting that
// never waits for a slow receiver, bounded waits, and the visit payload.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
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

// Waits (yielding, never sleeping a fixed time) until `condition` holds;
// false when the deadline passed first.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds deadline = 10s) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::yield();
    }
    return true;
}

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

// In every test the bus is declared after what its handler uses, so it is
// destroyed (and its handler finished) before any of that goes away.

TEST(Notices, DeliversInOrderOnTheBusThread) {
    Received received;
    std::atomic<bool> on_caller_thread{false};
    const auto caller = std::this_thread::get_id();
    NoticeBus bus;
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
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    Received received;
    NoticeBus bus;
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
    std::atomic<int> handled{0};
    std::promise<bool> inner;
    NoticeBus bus;
    bus.Subscribe([&](const Notice&) { ++handled; });
    EXPECT_TRUE(bus.PostAndWait(NoticeId::WM_NEW_ACCOUNT, "alice", 5s));
    EXPECT_EQ(handled.load(), 1);

    // From inside the handler it cannot wait for itself.
    bus.Subscribe([&](const Notice& notice) {
        if (notice.payload == "outer") inner.set_value(bus.PostAndWait(NoticeId::WM_UPDATE_ACCOUNT, "inner", 5s));
    });
    auto inner_result = inner.get_future();
    bus.Post(NoticeId::WM_UPDATE_ACCOUNT, "outer");
    ASSERT_EQ(inner_result.wait_for(5s), std::future_status::ready);
    EXPECT_FALSE(inner_result.get());
}

TEST(Notices, WithoutSubscriberNothingQueuesOrWaits) {
    Received received;
    NoticeBus bus;
    bus.Post(NoticeId::WM_SHOW_MESSAGE, "lost");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(bus.PostAndWait(NoticeId::WM_NEW_ACCOUNT, "nobody", 10s));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);

    bus.Subscribe([&](const Notice& notice) { received.Add(notice); });
    bus.Post(NoticeId::WM_SHOW_MESSAGE, "seen");
    ASSERT_TRUE(received.WaitFor(1));
    EXPECT_EQ(received.Snapshot().front().payload, "seen");
}

TEST(Notices, UnsubscribeWaitsForTheRunningHandlerAndDropsTheRest) {
    std::promise<void> entered, release;
    auto released = release.get_future().share();
    std::atomic<int> calls{0};
    NoticeBus bus;
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
    // Once the handler is gone, Unsubscribe still waits for the running one.
    EXPECT_TRUE(WaitUntil([&] { return !bus.subscribed(); }));
    EXPECT_EQ(unsubscribed.wait_for(0ms), std::future_status::timeout);
    release.set_value();
    ASSERT_EQ(unsubscribed.wait_for(5s), std::future_status::ready);
    bus.Post(NoticeId::WM_SHOW_MESSAGE, "third");
    EXPECT_EQ(calls.load(), 1);
}

TEST(Notices, FullQueueDropsAndCounts) {
    std::promise<void> entered, release;
    auto released = release.get_future().share();
    Received received;
    NoticeBus bus;
    bus.Subscribe([&](const Notice& notice) {
        if (notice.payload == "blocker") {
            entered.set_value();
            released.wait();
        }
        received.Add(notice);
    });
    // The first notice is taken off the queue and holds the handler; every
    // later one queues until the queue is full.
    bus.Post(NoticeId::WM_SHOW_MESSAGE, "blocker");
    entered.get_future().wait();
    for (std::size_t i = 0; i < NoticeBus::kMaxPendingNotices + 5; ++i) bus.Post(NoticeId::WM_SHOW_MESSAGE, "x");
    EXPECT_EQ(bus.dropped(), 5u);
    EXPECT_FALSE(bus.PostAndWait(NoticeId::WM_SHOW_MESSAGE, "no room", 1h));  // dropped at once, no wait
    EXPECT_EQ(bus.dropped(), 6u);
    release.set_value();
    // Room again once the handler has drained the queue.
    ASSERT_TRUE(received.WaitFor(1 + NoticeBus::kMaxPendingNotices, 120s));
    EXPECT_TRUE(bus.PostAndWait(NoticeId::WM_SHOW_MESSAGE, "last", 60s));
    const auto got = received.Snapshot();
    ASSERT_EQ(got.size(), NoticeBus::kMaxPendingNotices + 2);
    EXPECT_EQ(got.back().payload, "last");
    EXPECT_EQ(bus.dropped(), 6u);
}

TEST(Notices, DestroyingTheBusDropsQueuedNoticesAndWaitsForTheHandler) {
    std::promise<void> entered, release;
    auto released = release.get_future().share();
    std::atomic<int> calls{0};
    auto bus = std::make_unique<NoticeBus>();
    bus->Subscribe([&](const Notice&) {
        if (calls++ == 0) {
            entered.set_value();
            released.wait();
        }
    });
    for (int i = 0; i < 10; ++i) bus->Post(NoticeId::WM_SHOW_MESSAGE, "queued");
    entered.get_future().wait();
    NoticeBus* const raw = bus.get();
    auto destroyed = std::async(std::launch::async, [&] { bus.reset(); });
    // The destructor has dropped the handler and the queue, and cannot end
    // while the handler runs, so the bus is still there to be asked.
    EXPECT_TRUE(WaitUntil([&] { return !raw->subscribed(); }));
    EXPECT_EQ(destroyed.wait_for(0ms), std::future_status::timeout);
    release.set_value();
    ASSERT_EQ(destroyed.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(calls.load(), 1);
}

TEST(Notices, HandlerExceptionDoesNotStopDelivery) {
    Received received;
    NoticeBus bus;
    bus.Subscribe([&](const Notice& notice) {
        if (notice.payload == "bad") throw std::runtime_error("receiver failed");
        if (notice.payload == "odd") throw 42;
        received.Add(notice);
    });
    bus.Post(NoticeId::WM_SHOW_MESSAGE, "bad");
    bus.Post(NoticeId::WM_SHOW_MESSAGE, "odd");
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
