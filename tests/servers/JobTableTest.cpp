// The job table's admission rules and workers, with jobs that hold their
// slot until the test lets them go.
#include "servers/jobs/JobTable.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
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
#include "tests/support/SocketPair.h"

namespace quorvex {
namespace {

using namespace std::chrono_literals;
using testing::RunFlagScope;
using testing::SocketPair;
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
// connects for all its users) and remote collections do not count. The
// limit counts the connection's own address, whichever client a front
// end's session speaks for.
TEST_F(TableFixture, PerAddressLimitCoversEveryService) {
    struct Case {
        int setting;
        bool web_mail;
        std::vector<JobKind> requests;  // in order
        int admitted;
        std::vector<const char*> from = {"192.0.2.1"};  // taken in turn
        bool forwards = false;  // each job speaks for a client of its own
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
        {2, false, mixed, 2, {"2001:db8:1:2::1", "2001:db8:1:2:ff::9"}},  // one /64, one client
        {1, true, many_smtp, 1, {"192.0.2.1"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.setting << (c.web_mail ? " web-mail" : ""));
        Gate hold;  // outlives the table, whose workers run its jobs
        JobTableOptions options;
        options.max_connections_per_ip = [&] { return c.setting; };
        options.is_web_mail = [&](const PeerAddress& peer) { return c.web_mail && peer.HostText() == "192.0.2.1"; };
        JobTable local(options);
        const JobHandler gate = hold.Handler();
        for (int kind = 0; kind < kJobKindCount; ++kind) {
            local.SetHandler(static_cast<JobKind>(kind), [&c, gate](Job& job) {
                if (c.forwards) job.activity->ForwardedClient("198.51.100." + std::to_string(job.slot + 1));
                gate(job);
            });
        }
        local.CreateWorkerThreads();
        int admitted = 0;
        std::vector<UniqueFd> peers;
        for (std::size_t i = 0; i < c.requests.size(); ++i) {
            JobRequest request = Request(c.requests[i], c.from[i % c.from.size()]);
            if (c.forwards) {
                SocketPair pair;
                request.socket = std::move(pair.ours);
                peers.push_back(std::move(pair.theirs));
            }
            const int slot = local.EnqueueJob(request);
            if (slot < 0) continue;
            ++admitted;
            if (c.forwards) {
                EXPECT_TRUE(WaitUntil([&] { return local.Slot(slot).key.starts_with("198.51.100."); }));
            }
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

// A collection (unlike a connection) waits for a slot of a full table.
TEST_F(TableFixture, FullTableWaitsForTheLowestFreedSlot) {
    for (int i = 0; i < kJobSlotCount; ++i) {
        JobRequest request = Request(JOB_REMOTE_POP3, "192.0.2.1", "a" + std::to_string(i));
        ASSERT_EQ(table.EnqueueJob(request), i);  // the lowest free slot wins
    }
    ASSERT_TRUE(WaitUntil([&] { return table.ActiveJobCount() == kJobSlotCount; }));
    std::atomic<int> slot{-2};
    std::atomic<pid_t> late_thread{0};
    std::thread late([&] {
        late_thread = ::gettid();
        JobRequest request = Request(JOB_REMOTE_POP3, "192.0.2.1", "late");
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
        JobRequest request = Request(JOB_REMOTE_POP3, "192.0.2.1", "a" + std::to_string(i));
        ASSERT_GE(table.EnqueueJob(request), 0);
    }
    std::stop_source stop;
    std::atomic<int> stopped_result{-2};
    std::thread by_token([&] {
        JobRequest request = Request(JOB_REMOTE_POP3, "192.0.2.1", "by token");
        stopped_result = table.EnqueueJob(request, stop.get_token());
    });
    stop.request_stop();
    by_token.join();
    EXPECT_EQ(stopped_result, -1);

    std::atomic<int> flag_result{-2};
    std::thread by_flag([&] {
        JobRequest request = Request(JOB_REMOTE_POP3, "192.0.2.1", "by flag");
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

// Connections whose jobs wait for their clients as sessions do, on a clock
// the test sets: "p" is progress, "f<text>" names a forwarded client, "P"
// a reply of kTransferFloor bytes that the client takes; the job answers
// each with a byte once it is waiting again. Stall: the job answers, then
// blocks in the send of a reply its client never reads.
class LoadTable {
public:
    explicit LoadTable(JobTableOptions options) {
        options.clock = [this] { return LoadClock::time_point(LoadClock::duration(now_.load())); };
        options.max_connections_per_ip = [] { return kJobSlotCount; };
        options.is_web_mail = [](const PeerAddress& peer) { return peer.HostText() == "192.0.2.80"; };
        options.load_log = [this](std::string_view line) {
            std::lock_guard lock(mutex_);
            lines_.emplace_back(line);
        };
        table_ = std::make_unique<JobTable>(std::move(options));
        for (const JobKind kind : {JOB_SMTP, JOB_POP3}) table_->SetHandler(kind, [](Job& job) { Serve(job); });
        table_->CreateWorkerThreads();
    }
    ~LoadTable() {
        clients_.clear();  // each job sees its client go and ends
        table_->Shutdown();
    }
    void At(LoadClock::duration t) { now_ = t.count(); }
    // The client's number, or -1 when refused (`refusal` says why).
    int Connect(const char* address, JobRefusal* refusal = nullptr) {
        SocketPair pair;
        JobRequest request = Request(JOB_POP3, address);
        request.socket = std::move(pair.ours);
        slots_.push_back(table_->EnqueueJob(request));
        if (refusal) *refusal = request.refusal;
        if (slots_.back() < 0) {
            EXPECT_TRUE(request.socket.valid());  // still the caller's
            slots_.pop_back();
            return -1;
        }
        clients_.push_back(std::move(pair.theirs));
        Ack(static_cast<int>(clients_.size()) - 1);
        return static_cast<int>(clients_.size()) - 1;
    }
    void Tell(int client, std::string_view text) {
        ASSERT_EQ(::send(clients_[client].get(), text.data(), text.size(), MSG_NOSIGNAL), ssize_t(text.size()));
        Ack(client);
    }
    // Returns once more than the floor waits unread before the client.
    void Stall(int client) {
        Tell(client, "S");
        ASSERT_TRUE(WaitUntil([&] {
            int unread = 0;
            return ::ioctl(clients_[client].get(), FIONREAD, &unread) == 0 && unread > int{kTransferFloor};
        }));
    }
    void Watch() { table_->WatchSlots(); }
    // The client goes; returns once its job has ended.
    void Leave(int client) {
        ::shutdown(clients_[client].get(), SHUT_WR);
        char byte;
        ASSERT_TRUE(WaitUntil([&] { return ::recv(clients_[client].get(), &byte, 1, MSG_DONTWAIT) == 0; }));
    }
    // The clients whose connection the table has closed.
    std::vector<int> Closed() {
        std::vector<int> closed;
        for (std::size_t i = 0; i < clients_.size(); ++i) {
            static char unread[1 << 16];
            ssize_t got = 0;
            while ((got = ::recv(clients_[i].get(), unread, sizeof unread, MSG_DONTWAIT)) > 0) {
            }
            if (got == 0) closed.push_back(static_cast<int>(i));
        }
        return closed;
    }
    std::string KeyOf(int client) { return table_->Slot(slots_[client]).key; }
    int LinesWith(std::string_view text) {
        std::lock_guard lock(mutex_);
        return static_cast<int>(std::count_if(lines_.begin(), lines_.end(),
                                              [&](const std::string& line) { return line.find(text) != line.npos; }));
    }

private:
    static void Serve(Job& job) {
        const int fd = job.socket.get();
        const auto answer = [&] {
            job.activity->Waiting(true);
            ::send(fd, "k", 1, MSG_NOSIGNAL);
        };
        answer();
        char buffer[256];
        for (;;) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) return;
            job.activity->Waiting(false);
            const std::string_view got(buffer, static_cast<std::size_t>(n));
            if (got == "p") job.activity->Progress();
            if (got == "P") SendBuffer(fd, std::string(kTransferFloor, 'x'), kDefaultSocketTimeouts, *job.activity);
            if (got == "S") {
                ::send(fd, "k", 1, MSG_NOSIGNAL);
                SendBuffer(fd, std::string(std::size_t{4} << 20, 'x'), kDefaultSocketTimeouts, *job.activity);
                continue;
            }
            if (got.starts_with('f')) job.activity->ForwardedClient(got.substr(1));
            answer();
        }
    }
    // Takes what the job sent, through its answer.
    void Ack(int client) {
        for (char byte = 0; byte != 'k';) {
            pollfd p{clients_[client].get(), POLLIN, 0};
            ASSERT_EQ(::poll(&p, 1, 5000), 1);
            ASSERT_EQ(::recv(clients_[client].get(), &byte, 1, 0), 1);
        }
    }

    RunFlagScope run_;
    std::atomic<LoadClock::rep> now_{0};
    std::mutex mutex_;
    std::vector<std::string> lines_;
    std::unique_ptr<JobTable> table_;
    std::vector<int> slots_;
    std::vector<UniqueFd> clients_;
};

// Busy from four slots, a share of two: who is closed, and how often the
// share is reported.
TEST(JobTableLoad, BusyTableKeepsItsSlotsForClientsAtWork) {
    const char* a = "192.0.2.1";
    const char* b = "192.0.2.2";
    const char* web = "192.0.2.80";
    struct Case {
        const char* name;
        std::function<void(LoadTable&)> script;
        std::vector<int> closed;
        int share_lines;
    };
    const Case cases[] = {
        {"without load an address may hold more, and idle sessions stay", [&](LoadTable& t) {
             for (int i = 0; i < 3; ++i) t.Connect(a);
             t.At(12s);
             t.Watch();
         },
         {}, 0},
        {"beyond its share under load the longest-held goes at once, and again for each new one, in one episode",
         [&](LoadTable& t) {
             for (int i = 0; i < 3; ++i) t.At(i * 1s), t.Connect(a);
             t.Connect(b);
             t.At(20s);
             for (const int client : {1, 2, 3}) t.Tell(client, "p");
             t.Connect(a);
         },
         {0, 1}, 1},
        {"beyond its share a session at a real client's pace stays, until that pace is over",
         [&](LoadTable& t) {
             for (int i = 0; i < 3; ++i) t.At(i * 1s), t.Connect(a);
             t.Tell(0, "P");
             t.Connect(b);
             EXPECT_EQ(t.Closed(), std::vector<int>{1});
             t.At(13s), t.Connect(a);  // its bytes have left the window
         },
         {0, 1}, 1},
        {"beyond its share a session blocked in a send is judged by the bytes its client took",
         [&](LoadTable& t) {
             for (int i = 0; i < 3; ++i) t.At(i * 1s), t.Connect(a);
             t.Stall(0);
             t.Connect(b);
         },
         {0}, 1},
        {"an IPv6 client counts by its /64 network",
         [&](LoadTable& t) {
             for (const char* address : {"2001:db8:1:2::1", "2001:db8:1:2:ff::9", "2001:db8:1:2::3"}) t.Connect(address);
             t.Connect(web), t.Tell(3, "f2001:db8:9:9::1");
             EXPECT_EQ(t.KeyOf(1), "2001:db8:1:2::/64");
             EXPECT_EQ(t.KeyOf(3), "2001:db8:9:9::/64");
         },
         {0}, 1},
        {"under load a reader at the floor is never closed for want of progress",
         [&](LoadTable& t) {
             for (const char* address : {a, b, "192.0.2.3", "192.0.2.4"}) t.Connect(address);
             t.At(12s);
             t.Tell(0, "P");
             t.Watch();
         },
         {1, 2, 3}, 0},
        {"under load a session without progress for 10 s is closed",
         [&](LoadTable& t) {
             for (const char* address : {a, b, "192.0.2.3", "192.0.2.4"}) t.Connect(address);
             t.At(5s);
             t.Tell(0, "p");
             t.At(12s);
             t.Watch();
         },
         {1, 2, 3}, 0},
        {"an address held to its share has its idle sessions closed after the load",
         [&](LoadTable& t) {
             for (int i = 0; i < 3; ++i) t.Connect(a);
             t.Connect(b);
             t.At(10s);
             t.Tell(2, "p");
             t.Leave(3);  // the table is calm again
             t.At(12s);
             t.Watch();
         },
         {0, 1, 3}, 1},
        {"no session outlasts the deadline", [&](LoadTable& t) {
             t.Connect(a);
             t.At(29min);
             t.Tell(0, "p");
             t.At(30min);
             t.Watch();
         },
         {0}, 0},
        {"a web-mail session counts against the client it names",
         [&](LoadTable& t) {
             for (int i = 0; i < 3; ++i) t.At(i * 1s), t.Connect(web);
             t.Tell(0, "f10.9.9.1");
             t.Tell(1, "f 10.9.9.2\t");
             t.Connect(b);
             EXPECT_EQ(t.KeyOf(0), "10.9.9.1");
             EXPECT_EQ(t.KeyOf(1), "10.9.9.2");
             EXPECT_EQ(t.KeyOf(2), web);
         },
         {}, 0},
        {"only a web-mail front end names a client, and only by an address",
         [&](LoadTable& t) {
             for (int i = 0; i < 3; ++i) t.At(i * 1s), t.Connect(a);
             t.Tell(0, "f10.9.9.1");
             EXPECT_EQ(t.KeyOf(0), a);
             t.At(3s), t.Connect(web), t.Tell(3, "fbob");
             t.At(4s), t.Connect(web), t.Tell(4, "f10.9.9.300");
             t.At(5s), t.Connect(web);
         },
         {0, 3}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JobTableOptions options;
        options.busy_slots = 4;
        options.calm_slots = 3;
        options.address_share = 2;
        LoadTable table(options);
        c.script(table);
        EXPECT_EQ(table.Closed(), c.closed);
        EXPECT_EQ(table.LinesWith(" slots under load; its sessions beyond 2 are closed"), c.share_lines);
    }
}

// A full table closes the session idle longest for a new connection of an
// address that holds fewer slots; when none has been idle long enough, or
// the newcomer's address lost a session for load, the connection is
// refused at once. Each is reported once.
TEST(JobTableLoad, FullTableMakesRoomOrRefusesAtOnce) {
    LoadTable table(JobTableOptions{});
    for (int i = 0; i < kJobSlotCount; ++i) {
        const std::string address = "192.0.2." + std::to_string(1 + i % 50);
        ASSERT_EQ(table.Connect(address.c_str()), i);
    }
    table.At(1s);
    table.Tell(1, "p");
    JobRefusal refusal = JobRefusal::kNone;
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(table.Connect("198.51.100.1", &refusal), -1);
    EXPECT_EQ(refusal, JobRefusal::kBusy);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s);  // at once, not after a wait
    table.At(4s);
    const int newcomer = table.Connect("198.51.100.1", &refusal);
    ASSERT_GE(newcomer, 0);
    EXPECT_EQ(table.Connect("198.51.100.2"), kJobSlotCount + 1);
    EXPECT_EQ(table.Closed(), (std::vector<int>{0, 2}));
    // 192.0.2.1, whose session made room, holds none after these two go,
    // yet makes no room.
    table.Leave(newcomer);
    table.Leave(50);
    ASSERT_GE(table.Connect("198.51.100.3"), 0);
    ASSERT_GE(table.Connect("198.51.100.4"), 0);
    EXPECT_EQ(table.Connect("192.0.2.1", &refusal), -1);
    EXPECT_EQ(table.Connect("198.51.100.5"), kJobSlotCount + 4);
    EXPECT_EQ(table.LinesWith("no idle session may make room; new connections are refused (first 198.51.100.1)"), 1);
    EXPECT_EQ(table.LinesWith("the session idle longest is closed for each new connection (first 192.0.2.1, idle 4 s"), 1);
}

}  // namespace
}  // namespace quorvex
