// The POP3 session over a real socket pair: commands arriving a byte at a
// time or all at once give the same replies, and a message body goes out
// whole between its status line and its end line.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/time.h>

#include <future>
#include <thread>

#include "servers/pop3/Pop3Connection.h"
#include "tests/servers/support/Pop3FakeServices.h"
#include "tests/support/NetTestSupport.h"
#include "tests/support/RecordedActivity.h"
#include "tests/support/TempFolder.h"

namespace quorvex::pop3 {
namespace {

// Runs a session on one end of a socket pair, writes `input` to the other
// end in pieces of `piece` bytes, and returns everything the server sent.
// The session reports every byte either way to its slot.
std::string Converse(testing::FakeServices& services, const std::string& input, std::size_t piece) {
    int ends[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
    UniqueFd server(ends[0]), client(ends[1]);
    testing::RecordedActivity activity;
    Pop3ConnectionOptions options;
    options.activity = &activity;
    std::thread session([&] {
        RunPop3Connection(server.get(), ConnectionClient("192.0.2.1"), services, Pop3SessionSettings{}, options);
    });
    for (std::size_t at = 0; at < input.size(); at += piece) {
        const std::string chunk = input.substr(at, piece);
        EXPECT_EQ(::send(client.get(), chunk.data(), chunk.size(), MSG_NOSIGNAL), static_cast<ssize_t>(chunk.size()));
    }
    // A reply that never ends fails the test instead of hanging it.
    const timeval deadline{10, 0};
    ::setsockopt(client.get(), SOL_SOCKET, SO_RCVTIMEO, &deadline, sizeof deadline);
    std::string received;
    char block[4096];
    for (ssize_t n; (n = ::recv(client.get(), block, sizeof block, 0)) > 0;) {
        received.append(block, static_cast<std::size_t>(n));
        if (received.size() >= 9 && received.compare(received.size() - 9, 9, "+OK bye\r\n") == 0) break;
    }
    session.join();
    EXPECT_EQ(activity.received, input.size());
    EXPECT_EQ(activity.sent, received.size());
    return received;
}

// Runs `check` with bob's one message stored scrambled (copied through the
// session) and plain (handed to the kernel straight from the file).
template <typename Check>
void ForEachStoreKind(const std::string& message, Check check) {
    testing::RunFlagScope running;
    testing::TempFolder folder;
    for (const std::uint8_t key : {std::uint8_t{0x3C}, std::uint8_t{0}}) {
        SCOPED_TRACE(int(key));
        testing::FakeServices services(folder.path());
        services.key = key;
        services.accounts["bob"] = {"secret"};
        services.AddMessage(0, message, 1);
        check(services);
    }
}

TEST(Pop3ConnectionTest, TrickleAndPipelinedInputGiveTheSameReplies) {
    ForEachStoreKind("Subject: x\r\n\r\n" + std::string(300000, 'b') + "\r\n", [](testing::FakeServices& services) {
        const std::string input = "USER bob\r\nPASS secret\nSTAT\r\nRETR 1\r\nNOOP\r\nQUIT\r\n";
        const std::string expected = "+OK QuorvexServer 5.3 POP3 Service Ready\r\n+OK welcome here\r\n+OK \r\n"
                                     "+OK 1 300016\r\n+OK 300016 octets\r\nSubject: x\r\n\r\n" +
                                     std::string(300000, 'b') + "\r\n.\r\n+OK noop\r\n+OK bye\r\n";
        EXPECT_EQ(Converse(services, input, 1), expected);
        EXPECT_EQ(Converse(services, input, input.size()), expected);
        EXPECT_EQ(Converse(services, input, 7), expected);
    });
}

TEST(Pop3ConnectionTest, AClientThatStopsReadingIsLetGoAfterTheSilenceLimit) {
    ForEachStoreKind(std::string(8 << 20, 'b') + "\r\n", [](testing::FakeServices& services) {
        int ends[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
        UniqueFd server(ends[0]), client(ends[1]);
        Pop3ConnectionOptions options;
        options.timeouts = {20, 5};
        std::promise<void> ended;
        std::thread session([&] {
            RunPop3Connection(server.get(), ConnectionClient("192.0.2.1"), services, Pop3SessionSettings{}, options);
            ended.set_value();
        });
        const std::string input = "USER bob\r\nPASS secret\r\nRETR 1\r\n";
        EXPECT_EQ(::send(client.get(), input.data(), input.size(), MSG_NOSIGNAL), static_cast<ssize_t>(input.size()));
        const bool let_go = ended.get_future().wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        ::shutdown(client.get(), SHUT_RDWR);  // ends a session that still waits, so the test cannot hang
        session.join();
        EXPECT_TRUE(let_go);
    });
}

}  // namespace
}  // namespace quorvex::pop3
