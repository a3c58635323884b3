// Connections accepted and handed to a job per second, and the time from a
// client's connect to the start of its (empty) job, on loopback. Prints one
// line: connections/s, median and p99 start latency in microseconds.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "common/RunFlag.h"
#include "servers/jobs/ServerListener.h"
#include "tests/support/TestPorts.h"

namespace {

using Clock = std::chrono::steady_clock;

long long NowNs() { return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count(); }

}  // namespace

int main(int argc, char** argv) {
    const int total = argc > 1 ? std::atoi(argv[1]) : 20000;
    const int clients = argc > 2 ? std::atoi(argv[2]) : 8;
    quorvex::ServerRunFlag = 1;
    // Every client connects from one address: no per-address limit here.
    quorvex::JobTableOptions options;
    options.max_connections_per_ip = [] { return quorvex::kJobSlotCount; };
    options.load_log = [](std::string_view) {};
    quorvex::JobTable table(options);
    // The empty job: tell the client when it started, then end.
    table.SetHandler(quorvex::JOB_SMTP, [](quorvex::Job& job) {
        const long long started = NowNs();
        [[maybe_unused]] const ssize_t sent = ::send(job.socket.get(), &started, sizeof(started), MSG_NOSIGNAL);
    });
    table.CreateWorkerThreads();
    quorvex::CSmtpServer listener(table);
    // A port of the tests' port allocator (below the ephemeral range).
    if (quorvex::testing::OnTestPort([&](int port) { return listener.Start(port, "127.0.0.1"); }) < 0) {
        std::fprintf(stderr, "cannot listen\n");
        return 1;
    }
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<uint16_t>(listener.port()));
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

    std::vector<std::vector<double>> latencies(static_cast<std::size_t>(clients));
    std::atomic<int> failures{0};
    const auto begin = Clock::now();
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            for (int i = c; i < total; i += clients) {
                const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                const long long connecting = NowNs();
                long long started = 0;
                if (::connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof(server)) != 0 ||
                    ::recv(fd, &started, sizeof(started), MSG_WAITALL) != sizeof(started)) {
                    ++failures;
                } else {
                    latencies[static_cast<std::size_t>(c)].push_back(static_cast<double>(started - connecting) / 1000.0);
                }
                ::close(fd);
            }
        });
    }
    for (std::thread& t : threads) t.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    std::vector<double> all;
    for (const auto& chunk : latencies) all.insert(all.end(), chunk.begin(), chunk.end());
    std::sort(all.begin(), all.end());
    const auto at = [&](double q) { return all.empty() ? 0.0 : all[static_cast<std::size_t>(q * (all.size() - 1))]; };
    std::printf("accept+job: %.0f connections/s, start latency median %.1f us, p99 %.1f us (%zu ok, %d failed)\n",
                static_cast<double>(all.size()) / seconds, at(0.5), at(0.99), all.size(), failures.load());
    listener.Stop();
    table.Shutdown();
    return failures == 0 ? 0 : 1;
}
