// A loopback server for simulators of outside peers (an anti-virus POP3
// proxy, a CMPP gateway, SMTP hosts): it listens on 127.0.0.1 on a port of
// the test port allocator and runs the given dialogue on its own thread, for
// the first connection only or for every connection, one after another,
// until it is destroyed. Reads wait at most a few seconds, so a dialogue
// that goes wrong ends the test instead of hanging it.
#pragma once

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "common/UniqueFd.h"
#include "tests/support/TestPorts.h"

namespace quorvex::testing {

class LoopbackPeer {
public:
    using Dialogue = std::function<void(int fd)>;
    enum class Serving { kFirstConnection, kEveryConnection };

    explicit LoopbackPeer(Dialogue dialogue, Serving serving = Serving::kFirstConnection) {
        listen_ = ListenOnTestPort(port_);
        thread_ = std::thread([this, serving, dialogue = std::move(dialogue)] {
            if (serving == Serving::kFirstConnection) {
                pollfd p{listen_.get(), POLLIN, 0};
                if (::poll(&p, 1, 10000) != 1) return;
                UniqueFd client(::accept(listen_.get(), nullptr, nullptr));
                if (!client) return;
                ++connections_;
                dialogue(client.get());
                return;
            }
            while (!stop_) {
                pollfd p{listen_.get(), POLLIN, 0};
                if (::poll(&p, 1, 20) != 1) continue;
                UniqueFd client(::accept(listen_.get(), nullptr, nullptr));
                if (!client) continue;
                ++connections_;
                dialogue(client.get());
            }
        });
    }
    // Serving every connection: stops at once; the first only: waits for
    // its dialogue.
    ~LoopbackPeer() {
        stop_ = true;
        Join();
    }

    void Join() {
        if (thread_.joinable()) thread_.join();
    }
    int port() const { return port_; }
    // Connections accepted so far.
    int connections() const { return connections_; }

    // Reads until `count` bytes arrived; false on close or after 5 s of silence.
    static bool ReadExactly(int fd, std::string& out, std::size_t count) {
        out.clear();
        char block[4096];
        while (out.size() < count) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 5000) != 1) return false;
            const ssize_t n = ::recv(fd, block, std::min(sizeof block, count - out.size()), 0);
            if (n <= 0) return false;
            out.append(block, static_cast<std::size_t>(n));
        }
        return true;
    }
    // Reads one line through its LF.
    static bool ReadLine(int fd, std::string& line) {
        line.clear();
        char c;
        while (true) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 5000) != 1 || ::recv(fd, &c, 1, 0) != 1) return false;
            line.push_back(c);
            if (c == '\n') return true;
        }
    }
    static void Send(int fd, const std::string& bytes) { ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL); }

private:
    UniqueFd listen_;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::thread thread_;
};

}  // namespace quorvex::testing
