// The job table's admission rules and workers, with jobs that hold their
// slot until the test lets them go.
#include "servers/jobs/JobTable.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "tests/support/NetTestSupport.h"

namespace quorvex {
namespace {

using namespace std::chrono_literals;
using testing::RunFlagScope;
using testing::WaitUntil;

// Jobs that block until released, and a record of what ran.
class Gate {
public:
    JobHandler Handler() {
        return [this](Job& job) {
            std::unique_lock lock(mutex_);
            started_.push_back(job.slot);
            accounts_.push_back(job.account);
            ++running_;
            changed_.notify_all();
            changed_.wait(lock, [this] { return open_; });
            --running_;
        };
    }
    void Open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    int running() {
        std::lock_guard lock(mutex_);
        return running_;
    }
    std::size_t started() {
        std::lock_guard lock(mutex_);
        return started_.size();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
    int running_ = 0;
    std::vector<int> started_;
    std::vector<std::string> accounts_;
};

JobRequest Request(JobKind kind, const char* address = "192.0.2.1", std::string account = {}) {
    JobRequest request;
    request.kind = kind;
    request.client = *PeerAddress::FromNumeric(address, 40000);
    request.account = std::move(account);
    return request;
}

struct TableFixture : ::testing::Test {
    RunFlagScope run;
    std::atomic<int> limit{-1};
    std::vector<std::string> errors;
    std::mutex errors_mutex;
    Gate gate;
    JobTable table{JobTableOptions{[this] { return limit.load(); },
                                   [this](std::string_view line) {
                                       std::lock_guard lock(errors_mutex);
                                       errors.emplace_back(line);
                                   }}};
    TableFixture() {
        for (int kind = 0; kind < kJobKindCount; ++kind) table.SetHandler(static_cast<JobKind>(kind), gate.Handler());
        table.CreateWorkerThreads();
    }
    ~TableFixture() override { gate.Open(); }
};

TEST_F(TableFixture, PerAddressLimitAppliesToSmtpOnly) {
    struct Case {
        int limit;
        int admitted;
    };
    for (const Case c : {Case{2, 2}, Case{0, 1}, Case{-1, 7}}) {
        SCOPED_TRACE(c.limit);
        Gate hold;  // outlives the table, whose workers run its jobs
        JobTable local{JobTableOptions{[&] { return c.limit; }, {}}};
        for (int kind = 0; kind < kJobKindCount; ++kind) local.SetHandler(static_cast<JobKind>(kind), hold.Handler());
        local.CreateWorkerThreads();
        int admitted = 0;
        for (int i = 0; i < 7; ++i) {
            JobRequest request = Request(JOB_SMTP, "192.0.2.1");
            if (local.EnqueueJob(request) >= 0) ++admitted;
        }
        EXPECT_EQ(admitted, c.admitted);
        // Another address, and POP3 and account-server jobs of the same one, pass.
        JobRequest other = Request(JOB_SMTP, "192.0.2.2");
        EXPECT_GE(local.EnqueueJob(other), 0);
        JobRequest pop3 = Request(JOB_POP3, "192.0.2.1");
        EXPECT_GE(local.EnqueueJob(pop3), 0);
        JobRequest admin = Request(JOB_ACCOUNT_SERVER, "192.0.2.1");
        EXPECT_GE(local.EnqueueJob(admin), 0);
        hold.Open();
    }
}

TEST_F(TableFixture, RefusedRequestKeepsItsSocket) {
    limit = 1;
    JobRequest first = Request(JOB_SMTP);
    first.socket.reset(::dup(0));
    ASSERT_GE(table.EnqueueJob(first), 0);
    EXPECT_FALSE(first.socket.valid());  // moved into the table
    JobRequest second = Request(JOB_SMTP);
    second.socket.reset(::dup(0));
    EXPECT_EQ(table.EnqueueJob(second), -1);
    EXPECT_TRUE(second.socket.valid());  // still the caller's to close
}

TEST_F(TableFixture, OneCollectionPerAccount) {
    JobRequest first = Request(JOB_REMOTE_POP3, "192.0.2.1", "Alice");
    const int slot = table.EnqueueJob(first);
    ASSERT_GE(slot, 0);
    const JobTable::SlotView view = table.Slot(slot);
    EXPECT_TRUE(view.busy);
    EXPECT_EQ(view.account, "Alice");
    EXPECT_TRUE(view.client.empty());  // a collection has no client address
    JobRequest again = Request(JOB_REMOTE_POP3, "192.0.2.1", "alice");
    EXPECT_EQ(table.EnqueueJob(again), -1);
    JobRequest other = Request(JOB_REMOTE_POP3, "192.0.2.1", "bob");
    EXPECT_GE(table.EnqueueJob(other), 0);
    std::atomic<bool> finished{false};
    std::thread waiter([&] { finished = table.WaitForCollection(slot, "ALICE"); });
    ASSERT_TRUE(WaitUntil([&] { return gate.running() == 2; }));
    EXPECT_FALSE(finished);
    gate.Open();
    waiter.join();
    EXPECT_TRUE(finished);
    ASSERT_TRUE(WaitUntil([&] { return !table.Slot(slot).busy; }));
    EXPECT_EQ(table.Slot(slot).account, "");
    JobRequest later = Request(JOB_REMOTE_POP3, "192.0.2.1", "alice");
    EXPECT_GE(table.EnqueueJob(later), 0);
}

TEST_F(TableFixture, FullTableWaitsForTheLowestFreedSlot) {
    for (int i = 0; i < kJobSlotCount; ++i) {
        JobRequest request = Request(JOB_POP3);
        ASSERT_EQ(table.EnqueueJob(request), i);  // the lowest free slot wins
    }
    ASSERT_TRUE(WaitUntil([&] { return table.ActiveJobCount() == kJobSlotCount; }));
    std::atomic<int> slot{-2};
    std::thread late([&] {
        JobRequest request = Request(JOB_POP3);
        slot = table.EnqueueJob(request);
    });
    EXPECT_EQ(slot, -2);
    const auto opened = std::chrono::steady_clock::now();
    gate.Open();
    late.join();
    EXPECT_LT(std::chrono::steady_clock::now() - opened, 500ms);  // woken, not found by a timer
    EXPECT_GE(slot, 0);
    EXPECT_LT(slot, kJobSlotCount);
    EXPECT_TRUE(WaitUntil([&] { return gate.started() == std::size_t{kJobSlotCount + 1}; }));
    EXPECT_TRUE(WaitUntil([&] { return table.ActiveJobCount() == 0; }));
}

TEST_F(TableFixture, WaitingEnqueueEndsWithTheRunFlagOrAStop) {
    for (int i = 0; i < kJobSlotCount; ++i) {
        JobRequest request = Request(JOB_POP3);
        ASSERT_GE(table.EnqueueJob(request), 0);
    }
    std::stop_source stop;
    std::atomic<int> stopped_result{-2};
    std::thread by_token([&] {
        JobRequest request = Request(JOB_POP3);
        stopped_result = table.EnqueueJob(request, stop.get_token());
    });
    stop.request_stop();
    by_token.join();
    EXPECT_EQ(stopped_result, -1);

    std::atomic<int> flag_result{-2};
    std::thread by_flag([&] {
        JobRequest request = Request(JOB_POP3);
        flag_result = table.EnqueueJob(request);
    });
    const auto cleared = std::chrono::steady_clock::now();
    ServerRunFlag = 0;
    by_flag.join();
    EXPECT_EQ(flag_result, -1);
    EXPECT_LT(std::chrono::steady_clock::now() - cleared, 1500ms);
}

TEST(JobTableTest, ThrowingJobIsLoggedAndTheSlotServedAgain) {
    RunFlagScope run;
    std::mutex mutex;
    std::vector<std::string> errors;
    JobTable table{JobTableOptions{{}, [&](std::string_view line) {
                                       std::lock_guard lock(mutex);
                                       errors.emplace_back(line);
                                   }}};
    std::atomic<int> runs{0};
    table.SetHandler(JOB_SMTP, [&](Job&) {
        if (runs++ == 0) throw std::runtime_error("session broke");
    });
    table.CreateWorkerThreads();
    JobRequest first = Request(JOB_SMTP);
    ASSERT_EQ(table.EnqueueJob(first), 0);
    ASSERT_TRUE(WaitUntil([&] { return runs == 1 && !table.Slot(0).busy; }));
    JobRequest second = Request(JOB_SMTP);
    ASSERT_EQ(table.EnqueueJob(second), 0);  // slot 0 is free and its worker alive
    ASSERT_TRUE(WaitUntil([&] { return runs == 2 && !table.Slot(0).busy; }));
    std::lock_guard lock(mutex);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("session broke"), std::string::npos);
}

}  // namespace
}  // namespace quorvex
