// Listeners and the job table together, with many real TCP connections on
// loopback: the 100-job ceiling, a full table's refusal at once, the
// per-address limit, and shutdown ending every blocked session.
#include "servers/jobs/ServerListener.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "common/net/SocketIo.h"
#include "tests/support/NetTestSupport.h"

namespace quorvex {
namespace {

using namespace std::chrono_literals;
using testing::ConnectLoopback;
using testing::RunFlagScope;
using testing::WaitUntil;

constexpr SocketTimeouts kClientWait{50, 200};

// Greets, then holds its slot until the test opens the gate.
class HeldSessions {
public:
    JobHandler Handler() {
        return [this](Job& job) {
            const int now = ++running_;
            int seen = peak_.load();
            while (now > seen && !peak_.compare_exchange_weak(seen, now)) {
            }
            SendLine(job.socket.get(), "220 hello " + job.client.HostText());
            {
                std::unique_lock lock(mutex_);
                opened_.wait(lock, [this] { return open_; });
            }
            --running_;
        };
    }
    void Open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        opened_.notify_all();
    }
    int running() const { return running_; }
    int peak() const { return peak_; }

private:
    std::atomic<int> running_{0};
    std::atomic<int> peak_{0};
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

// What a client gets: the greeting line, or nothing before the close.
std::string Greeting(const UniqueFd& fd) {
    std::string line;
    if (ReceiveTextLine(fd.get(), line, kClientWait) != LineStatus::kLine) return "<closed>";
    return line;
}

// Sessions that are busy (not waiting for their clients) are never closed
// to make room: the connections beyond them are refused at once, with a
// reply, not left in the listen backlog.
TEST(ServerListenerTest, ThreeHundredConnectionsAtMostHundredJobsTheRestRefusedAtOnce) {
    RunFlagScope run;
    HeldSessions sessions;
    JobTableOptions options;
    options.max_connections_per_ip = [] { return 1000; };  // all come from one address
    options.address_share = kJobSlotCount;
    JobTable table(options);
    table.SetHandler(JOB_POP3, sessions.Handler());
    table.CreateWorkerThreads();
    CPop3Server listener(table);
    ASSERT_TRUE(testing::OnTestPort([&](int port) { return listener.Start(port, "127.0.0.1"); }) > 0);
    ASSERT_GT(listener.port(), 0);

    std::vector<UniqueFd> clients;
    for (int i = 0; i < 300; ++i) {
        clients.push_back(ConnectLoopback(listener.port()));
        ASSERT_TRUE(clients.back().valid()) << i;
    }
    ASSERT_TRUE(WaitUntil([&] { return sessions.running() == kJobSlotCount; }));
    EXPECT_EQ(table.ActiveJobCount(), kJobSlotCount);
    int greeted = 0;
    int refused = 0;
    for (const UniqueFd& client : clients) {
        const std::string line = Greeting(client) + "\r\n";
        greeted += line == "220 hello 127.0.0.1\r\n";
        refused += line == kPop3BusyReply;
    }
    EXPECT_EQ(greeted, kJobSlotCount);
    EXPECT_EQ(refused, 300 - kJobSlotCount);
    sessions.Open();
    EXPECT_EQ(sessions.peak(), kJobSlotCount);
    table.Shutdown();
}

TEST(ServerListenerTest, PerAddressLimitClosesTheSurplusConnections) {
    RunFlagScope run;
    HeldSessions sessions;
    std::atomic<bool> web_mail{false};
    JobTableOptions options;
    options.max_connections_per_ip = [] { return 5; };
    options.is_web_mail = [&](const PeerAddress&) { return web_mail.load(); };
    JobTable table(options);
    table.SetHandler(JOB_SMTP, sessions.Handler());
    table.SetHandler(JOB_POP3, sessions.Handler());
    table.CreateWorkerThreads();
    CSmtpServer smtp(table);
    CPop3Server pop3(table);
    ASSERT_TRUE(testing::OnTestPort([&](int port) { return smtp.Start(port, "127.0.0.1"); }) > 0);
    ASSERT_TRUE(testing::OnTestPort([&](int port) { return pop3.Start(port, "127.0.0.1"); }) > 0);

    std::vector<UniqueFd> smtp_clients;
    for (int i = 0; i < 20; ++i) {
        smtp_clients.push_back(ConnectLoopback(smtp.port()));
        // One at a time, so that the first five are the ones admitted.
        if (i < 5) {
            ASSERT_EQ(Greeting(smtp_clients.back()), "220 hello 127.0.0.1");
        }
    }
    int closed = 0;
    for (int i = 5; i < 20; ++i) closed += Greeting(smtp_clients[i]) == "<closed>";
    EXPECT_EQ(closed, 15);
    // The address has used its limit on every service.
    EXPECT_EQ(Greeting(ConnectLoopback(pop3.port())), "<closed>");
    // A web-mail front end's POP3 connections are not limited.
    web_mail = true;
    std::vector<UniqueFd> pop3_clients;
    for (int i = 0; i < 10; ++i) pop3_clients.push_back(ConnectLoopback(pop3.port()));
    int greeted = 0;
    for (const UniqueFd& client : pop3_clients) greeted += Greeting(client) == "220 hello 127.0.0.1";
    EXPECT_EQ(greeted, 10);
    sessions.Open();
}

TEST(ServerListenerTest, StartStopAndPortReuse) {
    RunFlagScope run;
    JobTable table;
    table.CreateWorkerThreads();
    CAccountServer first(table);
    ASSERT_TRUE(testing::OnTestPort([&](int port) { return first.Start(port, "127.0.0.1"); }) > 0);
    const int port = first.port();
    CAccountServer second(table);
    EXPECT_FALSE(second.Start(port, "127.0.0.1"));  // in use
    EXPECT_FALSE(second.listening());
    EXPECT_FALSE(CSmtpServer(table).Start(port, "not-an-address"));
    first.Stop();
    first.Stop();  // a second stop does nothing
    EXPECT_FALSE(ConnectLoopback(port).valid());
    EXPECT_TRUE(second.Start(port, "127.0.0.1"));  // free again
    EXPECT_TRUE(ConnectLoopback(port).valid());
}

TEST(ServerListenerTest, ShutdownEndsEveryBlockedSessionWithinASecond) {
    RunFlagScope run;
    JobTable table;
    std::atomic<int> waiting{0};
    std::atomic<int> ended{0};
    table.SetHandler(JOB_SMTP, [&](Job& job) {
        ++waiting;
        std::string line;
        ReceiveTextLine(job.socket.get(), line);  // production slices: one second
        ++ended;
    });
    table.CreateWorkerThreads();
    CSmtpServer listener(table);
    ASSERT_TRUE(testing::OnTestPort([&](int port) { return listener.Start(port, "127.0.0.1"); }) > 0);
    std::vector<UniqueFd> clients;
    for (int i = 0; i < 50; ++i) clients.push_back(ConnectLoopback(listener.port()));
    ASSERT_TRUE(WaitUntil([&] { return waiting == 50; }));
    const auto cleared = std::chrono::steady_clock::now();
    ServerRunFlag = 0;
    ASSERT_TRUE(WaitUntil([&] { return ended == 50; }, 3s));
    EXPECT_LT(std::chrono::steady_clock::now() - cleared, 1500ms);
    // Every client sees its connection closed.
    int closed = 0;
    for (const UniqueFd& client : clients) {
        char byte;
        closed += ::recv(client.get(), &byte, 1, 0) == 0;
    }
    EXPECT_EQ(closed, 50);
    listener.Stop();
    table.Shutdown();
}

TEST(ServerListenerTest, Ipv6PeerAddressIsKept) {
    RunFlagScope run;
    UniqueFd probe(::socket(AF_INET6, SOCK_STREAM, 0));
    sockaddr_in6 loop{};
    loop.sin6_family = AF_INET6;
    loop.sin6_addr = in6addr_loopback;
    if (!probe || ::bind(probe.get(), reinterpret_cast<sockaddr*>(&loop), sizeof(loop)) != 0) {
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    probe.reset();
    HeldSessions sessions;
    JobTable table;
    table.SetHandler(JOB_POP3, sessions.Handler());
    table.CreateWorkerThreads();
    CPop3Server listener(table);
    ASSERT_TRUE(testing::OnTestPort([&](int port) { return listener.Start(port, "::1"); }) > 0);
    UniqueFd client(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
    loop.sin6_port = htons(static_cast<uint16_t>(listener.port()));
    ASSERT_EQ(::connect(client.get(), reinterpret_cast<sockaddr*>(&loop), sizeof(loop)), 0);
    EXPECT_EQ(Greeting(client), "220 hello ::1");
    sessions.Open();
}

}  // namespace
}  // namespace quorvex
