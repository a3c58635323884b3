// One address that opens hundreds of connections and keeps each alive with a
// byte now and then, against the three real servers (listeners, job table,
// the sessions of the running program) on loopback, with the idle limit
// shortened from a minute to three seconds so that the test stays short.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/ServerWiring.h"
#include "common/Notices.h"
#include "common/UniqueFd.h"
#include "servers/jobs/ServerListener.h"
#include "tests/app/AppFixture.h"
#include "tests/support/NetTestSupport.h"
#include "tests/support/TestPorts.h"

namespace quorvex {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A non-blocking TCP connection from `source` to 127.0.0.1:port.
UniqueFd ConnectFrom(const char* source, int port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_in from{};
    from.sin_family = AF_INET;
    ::inet_pton(AF_INET, source, &from.sin_addr);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) return {};
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    ::connect(fd.get(), reinterpret_cast<sockaddr*>(&to), sizeof to);
    return fd;
}

// The first line the server sends, within `limit`; empty when it closed first.
std::string FirstLine(int fd, std::chrono::milliseconds limit) {
    std::string text;
    const auto deadline = Clock::now() + limit;
    while (text.find("\r\n") == std::string::npos && Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        char block[512];
        const ssize_t n = ::recv(fd, block, sizeof block, 0);
        if (n <= 0) return {};
        text.append(block, static_cast<std::size_t>(n));
    }
    return text.substr(0, text.find("\r\n"));
}

class TricklingClientsTest : public testing::AppFolderTest {};

TEST_F(TricklingClientsTest, OneAddressCannotLockEveryoneOut) {
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    if (files.rlim_cur < 4096) {
        files.rlim_cur = std::min<rlim_t>(4096, files.rlim_max);
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
    UseConfig("[System]\r\nDominame=example.test\r\n[WebMail]\r\nIP=127.0.0.1;127.0.0.2\r\n");
    testing::RunFlagScope run;
    NullNoticeSink notices;
    JobTableOptions options;
    options.idle_limit = 3000ms;  // a minute in the program
    options.busy_idle_limit = 1000ms;
    options.load_log = [](std::string_view) {};
    JobTable jobs(options);
    app::ServerWiring wiring(jobs, notices, home_.path());
    wiring.InstallJobHandlers();
    jobs.CreateWorkerThreads();
    const std::vector<int> ports = testing::TakeTestPorts(3);
    ASSERT_EQ(ports.size(), 3u);
    CSmtpServer smtp(jobs);
    CPop3Server pop3(jobs);
    CAccountServer admin(jobs);
    ASSERT_TRUE(smtp.Start(ports[0], "127.0.0.1"));
    ASSERT_TRUE(pop3.Start(ports[1], "127.0.0.1"));
    ASSERT_TRUE(admin.Start(ports[2], "127.0.0.1"));

    // 300 POP3 and 300 SMTP connections from one address, each sent a byte
    // (never a line end) every 200 ms.
    std::vector<UniqueFd> attackers;
    for (int i = 0; i < 600; ++i) {
        attackers.push_back(ConnectFrom("127.0.0.3", i < 300 ? pop3.port() : smtp.port()));
        ASSERT_TRUE(attackers.back().valid()) << i;
    }
    std::vector<std::atomic<bool>> ended(attackers.size());
    std::atomic<bool> stop{false};
    std::thread trickler([&] {
        while (!stop) {
            for (std::size_t i = 0; i < attackers.size(); ++i)
                if (!ended[i]) ::send(attackers[i].get(), "x", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
            std::this_thread::sleep_for(200ms);  // the attacker's pace
        }
    });
    const auto started = Clock::now();

    // A client of another address is served at once by all three servers.
    const UniqueFd smtp_client = ConnectFrom("127.0.0.2", smtp.port());
    EXPECT_EQ(FirstLine(smtp_client.get(), 5000ms).substr(0, 4), "220 ");
    const UniqueFd pop3_client = ConnectFrom("127.0.0.2", pop3.port());
    EXPECT_EQ(FirstLine(pop3_client.get(), 5000ms).substr(0, 3), "+OK");
    const UniqueFd admin_client = ConnectFrom("127.0.0.2", admin.port());
    testing::WaitUntil([&] {
        pollfd p{admin_client.get(), POLLOUT, 0};
        return ::poll(&p, 1, 0) == 1;
    });
    ASSERT_EQ(::send(admin_client.get(), "LOGIN#nobody#x\r\n", 16, MSG_NOSIGNAL), 16);
    EXPECT_EQ(FirstLine(admin_client.get(), 5000ms), "-ERR no such user");
    EXPECT_LT(Clock::now() - started, 5000ms);

    // Every trickling connection ends: the surplus at once, the admitted
    // ones at the idle limit, though their bytes keep coming.
    int greeted = 0;
    int closed = 0;
    const auto deadline = Clock::now() + 20s;
    std::vector<bool> saw_greeting(attackers.size());
    while (closed < static_cast<int>(attackers.size()) && Clock::now() < deadline) {
        std::vector<pollfd> waits;
        std::vector<std::size_t> which;
        for (std::size_t i = 0; i < attackers.size(); ++i) {
            if (ended[i]) continue;
            waits.push_back({attackers[i].get(), POLLIN, 0});
            which.push_back(i);
        }
        if (::poll(waits.data(), waits.size(), 100) <= 0) continue;
        for (std::size_t k = 0; k < waits.size(); ++k) {
            if (waits[k].revents == 0) continue;
            char block[512];
            const ssize_t n = ::recv(waits[k].fd, block, sizeof block, MSG_DONTWAIT);
            const std::size_t i = which[k];
            if (n > 0) {
                if (!saw_greeting[i]) ++greeted;
                saw_greeting[i] = true;
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                ended[i] = true;
                ++closed;
            }
        }
    }
    const auto all_gone = Clock::now() - started;
    stop = true;
    trickler.join();
    EXPECT_EQ(closed, 600);
    EXPECT_EQ(greeted, kDefaultConnectionsPerAddress);  // "MaxConnectionPerIP" unset
    // Within the idle limit of their one unfinished line, and a little.
    EXPECT_LT(all_gone, 3000ms + 4000ms);

    smtp.Stop();
    pop3.Stop();
    admin.Stop();
    jobs.Shutdown();
}

}  // namespace
}  // namespace quorvex
