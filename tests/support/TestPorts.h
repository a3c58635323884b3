// The one port allocator of the tests. Every test, and every helper server a
// test starts (dnsmasq, Dovecot, proxies, Apache, the program itself), takes
// its ports here, never from a bind to port 0 that is closed and reused.
//
// Ports come from below the kernel's ephemeral range, so no outgoing
// connection or port-0 bind of another process can be handed one of them.
// A cursor in a state file shared by every test process (C++ and Python,
// tests/e2e/support/test_ports.py) and guarded by flock hands each port out
// once per pass over the range; a port is handed out only when nothing holds
// it for TCP or UDP at that moment.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "common/UniqueFd.h"

namespace quorvex::testing {

// [first, last] of the ports tests may use: from 10000 up to the port below
// the ephemeral range (/proc/sys/net/ipv4/ip_local_port_range).
inline std::pair<int, int> TestPortRange() {
    int ephemeral_low = 32768;
    std::ifstream in("/proc/sys/net/ipv4/ip_local_port_range");
    if (!(in >> ephemeral_low)) ephemeral_low = 32768;
    const int first = ephemeral_low > 12000 ? 10000 : 1024;
    return {first, ephemeral_low - 1};
}

// True when `port` can be bound on every address for both TCP and UDP.
inline bool PortIsFree(int port) {
    for (int type : {SOCK_STREAM, SOCK_DGRAM}) {
        UniqueFd fd(::socket(AF_INET, type | SOCK_CLOEXEC, 0));
        if (!fd.valid()) return false;
        const int on = 1;
        if (type == SOCK_STREAM) ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_ANY);
        a.sin_port = htons(static_cast<uint16_t>(port));
        if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) return false;
    }
    return true;
}

inline std::string TestPortStateFile() {
    const char* path = std::getenv("QUORVEX_TEST_PORT_FILE");
    return path && *path ? path : "/tmp/quorvex-test-ports";
}

// `count` ports, each free for TCP and UDP when handed out and handed out to
// no other test process of this pass over the range. Empty when the range
// holds no free port at all.
inline std::vector<int> TakeTestPorts(int count) {
    const auto [first, last] = TestPortRange();
    std::vector<int> ports;
    UniqueFd state(::open(TestPortStateFile().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    if (!state.valid() || ::flock(state.get(), LOCK_EX) != 0) return ports;
    char text[32] = {};
    const ssize_t n = ::pread(state.get(), text, sizeof(text) - 1, 0);
    int cursor = n > 0 ? std::atoi(text) : first;
    if (cursor < first || cursor > last) cursor = first;
    for (int tried = 0; tried <= last - first && static_cast<int>(ports.size()) < count; ++tried) {
        const int port = cursor;
        cursor = cursor == last ? first : cursor + 1;
        if (PortIsFree(port)) ports.push_back(port);
    }
    const int length = std::snprintf(text, sizeof(text), "%d\n", cursor);
    if (::ftruncate(state.get(), 0) == 0 && ::pwrite(state.get(), text, length, 0) == length) {
        // the cursor moved on; the lock goes with the descriptor
    }
    if (static_cast<int>(ports.size()) < count) ports.clear();
    return ports;
}

// One port of TakeTestPorts; -1 when none is free.
inline int TakeTestPort() {
    const std::vector<int> ports = TakeTestPorts(1);
    return ports.empty() ? -1 : ports.front();
}

// Tries a start on ports of the test port allocator: `start` gets a port
// and answers whether it serves there. When something else took the port in
// between, the next try goes to another one. -1 when no try came up.
inline int OnTestPort(const std::function<bool(int)>& start, int attempts = 5) {
    for (int attempt = 0; attempt < attempts; ++attempt) {
        const int port = TakeTestPort();
        if (port > 0 && start(port)) return port;
    }
    return -1;
}

// A TCP socket listening on 127.0.0.1 at a port of the allocator (another
// one when something took the port in between); `port` receives it.
// Invalid when no try succeeded.
inline UniqueFd ListenOnTestPort(int& port, int backlog = 8) {
    UniqueFd listening;
    port = OnTestPort([&](int p) {
        UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const int on = 1;
        ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(p));
        if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 || ::listen(fd.get(), backlog) != 0) {
            return false;
        }
        listening = std::move(fd);
        return true;
    });
    return listening;
}

}  // namespace quorvex::testing
