// Outgoing queue throughput: queues N 4 KiB messages for a receiver on
// loopback (used as the relay), starts the default number of sender
// threads and prints the messages delivered per second.
//   bench_queue <program folder> <receiver port> [messages]
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "common/Paths.h"
#include "common/RunFlag.h"
#include "common/ServerSettings.h"
#include "servers/outgoing/DomainDelivery.h"
#include "servers/queue/OutgoingQueue.h"

int main(int argc, char** argv) {
    using namespace quorvex;
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <folder> <port> [messages]\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    const int port = std::atoi(argv[2]);
    const int messages = argc > 3 ? std::atoi(argv[3]) : 5000;
    MakeFolders(folder);
    SetProgramFolder(folder);
    UpdateSettings([&](CServerSettings& s) {
        s.SetProgramFolder(folder);
        s.LogFilePath = JoinPath(folder, "log");
        s.Dominame = "quorvex.test";
        s.MailRelayTo = 1;
        s.RelayServer = "127.0.0.1";
        s.RelayPort = port;
    });
    const std::string message = JoinPath(folder, "message.eml");
    {
        std::ofstream out(message, std::ios::binary);
        out << "From: bench@quorvex.test\r\nTo: sink@remote.test\r\nSubject: bench\r\n\r\n";
        std::string line(76, 'x');
        for (int written = 70; written < 4096; written += 78) out << line << "\r\n";
    }
    OutgoingQueue queue(folder);
    for (int i = 0; i < messages; ++i) {
        if (queue.Enqueue(message, "sink" + std::to_string(i) + "@remote.test", "bench@quorvex.test") < 0) {
            std::fprintf(stderr, "enqueue failed\n");
            return 1;
        }
    }
    std::atomic<int> delivered{0};
    SenderOptions options;  // the default thread count (20)
    options.deliver = [&](std::string_view r, std::string_view s, const std::string& f, std::string& o) {
        const auto result = outgoing::DeliverToDomain(r, s, f, o);
        if (result == outgoing::kDelivered) ++delivered;
        return result;
    };
    NullNoticeSink notices;
    options.notices = &notices;
    ServerRunFlag = 1;
    const auto start = std::chrono::steady_clock::now();
    queue.StartSenders(options);
    const auto limit = start + std::chrono::minutes(10);
    while (delivered.load() < messages && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    queue.StopSenders();
    ServerRunFlag = 0;
    std::printf("queue delivered %d of %d messages in %.2f s: %.0f messages/s\n", delivered.load(), messages, seconds,
                delivered.load() / seconds);
    return delivered.load() == messages ? 0 : 1;
}
