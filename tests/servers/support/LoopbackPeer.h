// A one-connection loopback server for simulators of outside peers (an
// anti-virus POP3 proxy, a CMPP gateway): it listens on 127.0.0.1 on a port
// of the test port allocator and runs the given dialogue on its own thread for the first
// connection. Reads wait at most a few seconds, so a dialogue that goes
// wrong ends the test instead of hanging it.
#pragma once

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <thread>

#include "common/UniqueFd.h"
#include "tests/support/TestPorts.h"

namespace quorvex::testing {

class LoopbackPeer {
public:
    using Dialogue = std::function<void(int fd)>;

    explicit LoopbackPeer(Dialogue dialogue) {
        listen_ = ListenOnTestPort(port_, 1);
        thread_ = std::thread([this, dialogue = std::move(dialogue)] {
            pollfd p{listen_.get(), POLLIN, 0};
            if (::poll(&p, 1, 10000) != 1) return;
            UniqueFd client(::accept(listen_.get(), nullptr, nullptr));
            if (client) dialogue(client.get());
        });
    }
    ~LoopbackPeer() { Join(); }

    void Join() {
        if (thread_.joinable()) thread_.join();
    }
    int port() const { return port_; }

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
    std::thread thread_;
};

}  // namespace quorvex::testing
