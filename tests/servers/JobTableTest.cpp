// The job table's admission rules and workers, with jobs that hold their
// slot until the test lets them go.
#include "servers/jobs/JobTable.h"

#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <fstream>
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

// True while thread `tid` of this process sleeps in a futex wait (on a
// condition variable or a mutex), as its /proc entry shows.
bool SleepsInFutexWait(pid_t tid) {
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long number = -1;
    return static_cast<bool>(in >> number) && number == SYS_futex;
}

JobRequest Request(JobKind kind, const char* address = "192.0.2.1", std::string account = {}) {
    JobRequest request;
    request.kind = kind;
    request.client = *PeerAddress::FromNumeric(address, 40000);
    request.account = std::move(account);
    return request;
}

struct TableFixture : ::testing::Test {
    RunFlagScope run;
    // Above a full table of one address, unless a test lowers it.
    std::atomic<int> limit{1000};
    std::vector<std::string> errors;
    std::mutex errors_mutex;
    Gate gate;
    JobTable table{Options()};
    JobTableOptions Options() {
        JobTableOptions options;
        options.max_connections_per_ip = [this] { return limit.load(); };
        options.error_log = [this](std::string_view line) {
            std::lock_guard lock(errors_mutex);
            errors.emplace_back(line);
        };
        options.is_web_mail = [](const PeerAddress&) { return false; };
        options.load_log = [](std::string_view) {};
        return options;
    }
    TableFixture() {
        for (int kind = 0; kind < kJobKindCount; ++kind) table.SetHandler(static_cast<JobKind>(kind), gate.Handler());
        table.CreateWorkerThreads();
    }
    ~TableFixture() override { gate.Open(); }
};

// One address holds at most the limit of SMTP, POP3 and account-server
// jobs together; a web-mail front end's POP3 and account-server jobs (it
// connects for all its users) and remote collections do not count.
TEST_F(TableFixture, PerAddressLimitCoversEveryService) {
    struct Case {
        int setting;
        bool web_mail;
        std::vector<JobKind> requests;  // in order, from 192.0.2.1
        int admitted;
    };
    const std::vector<JobKind> mixed{JOB_SMTP, JOB_POP3, JOB_ACCOUNT_SERVER, JOB_POP3, JOB_SMTP, JOB_POP3};
    const std::vector<JobKind> many_pop3(60, JOB_POP3);
    const std::vector<JobKind> many_smtp(60, JOB_SMTP);
    const Case cases[] = {
        {3, false, mixed, 3},
        {0, false, mixed, 1},
        {-1, false, many_pop3, kDefaultConnectionsPerAddress},
        {-1, true, many_pop3, 60},
        {-1, true, many_smtp, kDefaultConnectionsPerAddress},
        {2, true, mixed, 6},  // both SMTP jobs within the limit, the rest exempt
        {1, true, mixed, 5},  // the second SMTP job refused
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.setting << (c.web_mail ? " web-mail" : ""));
        Gate hold;  // outlives the table, whose workers run its jobs
        JobTableOptions options;
        options.max_connections_per_ip = [&] { return c.setting; };
        options.is_web_mail = [&](const PeerAddress& peer) { return c.web_mail && peer.HostText() == "192.0.2.1"; };
        JobTable local(options);
        for (int kind = 0; kind < kJobKindCount; ++kind) local.SetHandler(static_cast<JobKind>(kind), hold.Handler());
        local.CreateWorkerThreads();
        int admitted = 0;
        for (const JobKind kind : c.requests) {
            JobRequest request = Request(kind, "192.0.2.1");
            if (local.EnqueueJob(request) >= 0) ++admitted;
        }
        EXPECT_EQ(admitted, c.admitted);
        // Another address, and a collection, still pass.
        JobRequest other = Request(JOB_POP3, "192.0.2.2");
        EXPECT_GE(local.EnqueueJob(other), 0);
        JobRequest collection = Request(JOB_REMOTE_POP3, "192.0.2.1", "alice");
        EXPECT_GE(local.EnqueueJob(collection), 0);
        hold.Open();
    }
}

// The idle limit drops while the table is busy and comes back once the
// load has fallen below the calm mark; each change is logged once.
TEST(JobTableTest, BusyTableShortensTheIdleLimit) {
    RunFlagScope run;
    std::mutex mutex;
    std::vector<std::string> lines;
    std::vector<long long> limits_seen;  // what each job saw as its limit
    JobTableOptions options;
    options.max_connections_per_ip = [] { return kJobSlotCount; };
    options.idle_limit = 6000ms;
    options.busy_idle_limit = 1000ms;
    options.busy_slots = 4;
    options.calm_slots = 2;
    options.load_log = [&](std::string_view line) {
        std::lock_guard lock(mutex);
        lines.emplace_back(line);
    };
    std::vector<std::unique_ptr<Gate>> gates;
    for (int i = 0; i < 5; ++i) gates.push_back(std::make_unique<Gate>());
    JobTable table(options);
    std::atomic<int> next_gate{0};
    table.SetHandler(JOB_SMTP, [&](Job& job) {
        {
            std::lock_guard lock(mutex);
            limits_seen.push_back(job.idle_limit().count());
        }
        Job copy;
        gates[static_cast<std::size_t>(next_gate++)]->Handler()(copy);
        // Still running when the load changes: the job sees the table's limit now.
        std::lock_guard lock(mutex);
        limits_seen.push_back(job.idle_limit().count());
    });
    table.CreateWorkerThreads();
    const auto enqueue = [&] {
        JobRequest request = Request(JOB_SMTP);
        ASSERT_GE(table.EnqueueJob(request), 0);
    };
    for (int i = 0; i < 3; ++i) enqueue();
    ASSERT_TRUE(WaitUntil([&] { return table.ActiveJobCount() == 3; }));
    EXPECT_EQ(table.CurrentIdleLimit(), 6000ms);
    enqueue();
    EXPECT_EQ(table.CurrentIdleLimit(), 1000ms);
    ASSERT_TRUE(WaitUntil([&] { return table.ActiveJobCount() == 4; }));
    gates[0]->Open();  // three busy: still above the calm mark
    ASSERT_TRUE(WaitUntil([&] { return table.ActiveJobCount() == 3; }));
    EXPECT_EQ(table.CurrentIdleLimit(), 1000ms);
    gates[1]->Open();
    gates[2]->Open();
    ASSERT_TRUE(WaitUntil([&] { return table.ActiveJobCount() == 1; }));
    EXPECT_EQ(table.CurrentIdleLimit(), 6000ms);
    gates[3]->Open();
    ASSERT_TRUE(WaitUntil([&] { return table.ActiveJobCount() == 0; }));
    table.Shutdown();
    std::lock_guard lock(mutex);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "server busy: 4 of 100 job slots in use; idle clients are dropped after 1 s");
    EXPECT_EQ(lines[1], "server load normal again: 1 of 100 job slots in use; idle limit 6 s");
    // Each job saw 6 s or 1 s, whatever the load was at that moment; the
    // first job, released while the table was busy, saw the short limit.
    EXPECT_EQ(limits_seen.size(), 8u);
    EXPECT_TRUE(std::find(limits_seen.begin(), limits_seen.end(), 1000) != limits_seen.end());
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
    std::atomic<pid_t> late_thread{0};
    std::thread late([&] {
        late_thread = ::gettid();
        JobRequest request = Request(JOB_POP3);
        slot = table.EnqueueJob(request);
    });
    // The late caller has either come back (wrong: the table is full) or
    // gone to sleep waiting for a slot.
    ASSERT_TRUE(WaitUntil([&] { return slot != -2 || (late_thread != 0 && SleepsInFutexWait(late_thread)); }));
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
    JobTableOptions options;
    options.error_log = [&](std::string_view line) {
        std::lock_guard lock(mutex);
        errors.emplace_back(line);
    };
    JobTable table(options);
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
