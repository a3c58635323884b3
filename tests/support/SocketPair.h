// A connected pair of Unix stream sockets for the socket tests: `ours` is
// handed to the code under test, the test plays the peer on `theirs`.
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <string>
#include <string_view>

#include "common/UniqueFd.h"

namespace quorvex::testing {

struct SocketPair {
    SocketPair() {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        ours.reset(fds[0]);
        theirs.reset(fds[1]);
    }
    // Sends all of `bytes` as the peer.
    void Send(std::string_view bytes) const {
        EXPECT_EQ(::send(theirs.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
    }
    // Everything the code under test sent so far.
    std::string Drain() const {
        std::string all;
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::recv(theirs.get(), buffer, sizeof(buffer), MSG_DONTWAIT);
            if (n <= 0) return all;
            all.append(buffer, static_cast<std::size_t>(n));
        }
    }
    UniqueFd ours;
    UniqueFd theirs;
};

}  // namespace quorvex::testing
