// Helpers for the network tests: the run flag held up for one test, child
// processes of real servers (dnsmasq, proxies) stopped by their own pid,
// started on ports of the test port allocator (TestPorts.h), and waiting
// for a condition with a deadline.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/RunFlag.h"
#include "common/UniqueFd.h"
#include "tests/support/TestPorts.h"

extern char** environ;

namespace quorvex::testing {

// Sets ServerRunFlag for the life of the object and clears it afterwards.
struct RunFlagScope {
    RunFlagScope() { ServerRunFlag = 1; }
    ~RunFlagScope() { ServerRunFlag = 0; }
};

// Polls `condition` until it holds or the deadline passes.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return condition();
}

// A blocking TCP connection to 127.0.0.1:port (invalid when refused).
inline UniqueFd ConnectLoopback(int port, const char* address = "127.0.0.1") {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, address, &a.sin_addr);
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) return {};
    return fd;
}

// A server program run for one test; stopped (SIGTERM, then SIGKILL) and
// reaped when the object goes. Output goes to /dev/null unless asked.
class ChildProcess {
public:
    explicit ChildProcess(std::vector<std::string> argv) {
        std::vector<char*> args;
        for (std::string& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ChildProcess() { Stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    // True while the process has not exited.
    bool running() {
        if (pid_ <= 0) return false;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        return true;
    }
    void Stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        const bool ended = WaitUntil([this] { return ::waitpid(pid_, nullptr, WNOHANG) == pid_; },
                                     std::chrono::milliseconds(3000));
        if (!ended) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

// How long a started helper server may take to serve: generous, for a
// machine under load; one that exits (a taken port) is noticed at once.
inline constexpr std::chrono::milliseconds kHelperStartLimit{20000};

// Waits until a TCP server accepts on 127.0.0.1:port.
inline bool WaitForTcpServer(int port, ChildProcess& process, const char* address = "127.0.0.1") {
    return WaitUntil([&] { return !process.running() || ConnectLoopback(port, address).valid(); },
                     kHelperStartLimit) &&
           process.running();
}

// Starts a server program on a port of the test port allocator; when the
// program exits because the port was taken, starts it again on another.
// `argv` builds the command line for a port; `ready` tells when the started
// program serves. Null when it never came up.
inline std::unique_ptr<ChildProcess> StartOnTestPort(int& port,
                                                     const std::function<std::vector<std::string>(int)>& argv,
                                                     const std::function<bool(int, ChildProcess&)>& ready) {
    std::unique_ptr<ChildProcess> started;
    port = OnTestPort([&](int p) {
        auto process = std::make_unique<ChildProcess>(argv(p));
        if (!process->started() || !ready(p, *process)) return false;
        started = std::move(process);
        return true;
    });
    return started;
}

// The same for a TCP server, ready once it accepts.
inline std::unique_ptr<ChildProcess> StartTcpServer(int& port, const std::function<std::vector<std::string>(int)>& argv) {
    return StartOnTestPort(port, argv, [](int p, ChildProcess& process) { return WaitForTcpServer(p, process); });
}

}  // namespace quorvex::testing
