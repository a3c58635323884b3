// The component's reads over a socket pair: reply lines cut exactly as the
// servers' own reader cuts them, and message data written without its
// dot-stuffing, line for line, however the bytes arrive.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <thread>

#include "common/RunFlag.h"
#include "common/net/SocketIo.h"
#include "support/TempFolder.h"
#include "webcom/net/ServerConnection.h"
#include "webcom/net/ReplyText.h"
#include "webcom/pop3/MessageData.h"

namespace quorvex::webcom {
namespace {

using testing::TempFolder;

constexpr SocketTimeouts kQuick{50, 100};

class SocketPairTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_run_flag_ = ServerRunFlag.exchange(1);
        Pair();
    }
    // A fresh connection and peer.
    void Pair(std::chrono::milliseconds line_deadline = kLineDeadline) {
        int fds[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        connection.Adopt(UniqueFd(fds[0]), kQuick, line_deadline);
        peer.reset(fds[1]);
    }
    void TearDown() override { ServerRunFlag = saved_run_flag_; }

    void Send(const std::string& bytes) { ASSERT_TRUE(SendBuffer(peer.get(), bytes)); }
    // Sends byte by byte from another thread, so every read sees a piece.
    std::thread Trickle(std::string bytes) {
        return std::thread([this, bytes = std::move(bytes)] {
            for (const char c : bytes) SendBuffer(peer.get(), std::string_view(&c, 1));
        });
    }

    ServerConnection connection;
    UniqueFd peer;

private:
    int saved_run_flag_ = 0;
};

TEST_F(SocketPairTest, ReplyLinesAreCutLikeTheServersReaderCutsThem) {
    const std::string input = "+OK a\r\n-ERR b\n" + std::string(3067, 'x') + "\r\n" + std::string(3068, 'y') + "\r\n" +
                              std::string(5000, 'z') + "\r\nlast\r\n";
    // The servers' reader on the same bytes.
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    UniqueFd reader(fds[0]), writer(fds[1]);
    ASSERT_TRUE(SendBuffer(writer.get(), input));
    writer.reset();
    std::vector<std::string> expected;
    std::string line;
    while (HasLine(ReceiveTextLine(reader.get(), line, kQuick))) expected.push_back(line);
    ASSERT_EQ(expected.size(), 8u);

    Send(input);
    peer.reset();
    std::vector<std::string> got;
    while (connection.ReadLine(line)) got.push_back(line);
    EXPECT_EQ(got, expected);
    EXPECT_FALSE(connection.IsOpen());  // the closed peer ended the connection
}

struct DataCase {
    const char* name;
    std::string wire;         // what the server sends after its "+OK" line
    std::string message;      // what mail.eml must hold
    std::string header;       // what Head.txt must hold
    pop3::CopyLimits limits = {};
    // Past a limit the files hold no more than it allows of the two above.
    pop3::CopyResult result = pop3::CopyResult::kComplete;
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class MessageDataTest : public SocketPairTest, public ::testing::WithParamInterface<bool> {};

TEST_P(MessageDataTest, StuffingIsUndoneAndLinesStayWhole) {
    const bool trickle = GetParam();
    const std::string long_line(10000, 'L');
    const DataCase cases[] = {
        {"plain", "Subject: x\r\nFrom: a@b\r\n\r\nbody\r\n.\r\n", "Subject: x\r\nFrom: a@b\r\n\r\nbody\r\n",
         "Subject: x\r\nFrom: a@b\r\n"},
        {"stuffed", "S: y\r\n\r\n..\r\n..x\r\n...\r\n.\r\n", "S: y\r\n\r\n.\r\n.x\r\n..\r\n", "S: y\r\n"},
        {"long line", "H: z\r\n\r\n" + long_line + "\r\n.\r\n", "H: z\r\n\r\n" + long_line + "\r\n", "H: z\r\n"},
        {"bare LF and CR", "H: w\n\nx\ry\n.\n", "H: w\r\n\r\nx\ry\r\n", "H: w\r\n"},
        {"no body", "H: v\r\n.\r\n", "H: v\r\n", "H: v\r\n"},
        {"exactly at both limits", "H: u\r\n\r\nbody\r\n.\r\n", "H: u\r\n\r\nbody\r\n", "H: u\r\n", {14, 6}},
        {"data over its limit", "H: t\r\n\r\nbody\r\n.\r\n", "H: t\r\n\r\nbody\r\n", "H: t\r\n", {13, 6},
         pop3::CopyResult::kTooLarge},
        {"header over its limit", "H: s\r\nH: s\r\n\r\nb\r\n.\r\n", "H: s\r\nH: s\r\n\r\nb\r\n",
         "H: s\r\nH: s\r\n", {100, 11}, pop3::CopyResult::kTooLarge},
        {"one endless line", long_line + long_line, long_line + long_line, long_line + long_line, {9000, 9000},
         pop3::CopyResult::kTooLarge},
    };
    TempFolder folder;
    for (const DataCase& c : cases) {
        std::thread sender;
        if (trickle) sender = Trickle(c.wire + "+OK next\r\n");
        else Send(c.wire + "+OK next\r\n");
        pop3::OutputFile mail, head;
        ASSERT_TRUE(mail.Create(folder.File("mail.eml")));
        ASSERT_TRUE(head.Create(folder.File("Head.txt")));
        EXPECT_EQ(pop3::CopyMessageData(connection, &mail, &head, c.limits), c.result) << c.name;
        EXPECT_TRUE(mail.Finish());
        EXPECT_TRUE(head.Finish());
        const std::string message = ReadAll(folder.File("mail.eml")), header = ReadAll(folder.File("Head.txt"));
        if (c.result == pop3::CopyResult::kComplete) {
            std::string next;
            EXPECT_TRUE(connection.ReadLine(next)) << c.name;
            EXPECT_EQ(next, "+OK next") << c.name;  // the data ended exactly at its "." line
            EXPECT_EQ(message, c.message) << c.name;
            EXPECT_EQ(header, c.header) << c.name;
        } else {
            EXPECT_FALSE(connection.IsOpen()) << c.name;  // the rest is never taken for replies
            EXPECT_LE(message.size(), c.limits.data) << c.name;
            EXPECT_TRUE(c.message.starts_with(message)) << c.name;
            EXPECT_LE(header.size(), c.limits.header) << c.name;
            EXPECT_TRUE(c.header.starts_with(header)) << c.name;
        }
        if (sender.joinable()) sender.join();
        if (!connection.IsOpen()) Pair();
    }
}

INSTANTIATE_TEST_SUITE_P(Arrival, MessageDataTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "ByteByByte" : "AtOnce"; });

TEST_F(SocketPairTest, DataCutShortFailsAndDrainingKeepsTheDialogue) {
    Send("a\r\n..b\r\n.\r\n+OK after\r\n");
    EXPECT_EQ(pop3::CopyMessageData(connection, nullptr, nullptr), pop3::CopyResult::kComplete);
    std::string line;
    ASSERT_TRUE(connection.ReadLine(line));
    EXPECT_EQ(line, "+OK after");

    Send("partial line without end");
    peer.reset();
    TempFolder folder;
    pop3::OutputFile mail;
    ASSERT_TRUE(mail.Create(folder.File("mail.eml")));
    EXPECT_EQ(pop3::CopyMessageData(connection, &mail, nullptr), pop3::CopyResult::kConnectionFailed);
    EXPECT_FALSE(connection.IsOpen());
    EXPECT_NE(connection.LastError(), 0);
}

TEST_F(SocketPairTest, ALineMustEndWithinItsDeadlineHoweverItsBytesTrickle) {
    using namespace std::chrono_literals;
    for (const bool data : {false, true}) {  // a data line (RETR) or a reply line
        for (const bool ends : {true, false}) {
            SCOPED_TRACE(std::string(data ? "data" : "reply") + (ends ? " line in time" : " line never ending"));
            Pair(ends ? 2000ms : 300ms);
            // A byte every 10 ms: a whole line, or 10 s of bytes without an end.
            std::atomic<bool> stop{false};
            std::thread trickler([&] {
                const std::string bytes = ends ? "+OK fine\r\n" : std::string(1000, 'x');
                for (std::size_t i = 0; i < bytes.size() && !stop; ++i, std::this_thread::sleep_for(10ms))
                    SendBuffer(peer.get(), std::string_view(&bytes[i], 1));
            });
            const auto start = std::chrono::steady_clock::now();
            std::string line;
            std::string_view piece;
            bool read = false, line_end = false;
            if (!data) read = connection.ReadLine(line);
            while (data && !line_end && (read = connection.NextDataPiece(piece, line_end))) {
            }
            const auto took = std::chrono::steady_clock::now() - start;
            stop = true;
            trickler.join();
            EXPECT_EQ(read, ends);
            if (!ends) {
                EXPECT_EQ(connection.LastError(), ETIMEDOUT);
                EXPECT_LT(took, 1300ms);
            }
        }
    }
}

TEST_F(SocketPairTest, SentDataMustBeTakenWithinTheDeadlineHoweverTheServerReads) {
    using namespace std::chrono_literals;
    for (const bool trickle : {false, true}) {  // a server that reads, or one that takes a byte now and then
        SCOPED_TRACE(trickle ? "trickling reader" : "reader");
        Pair(300ms);
        std::atomic<bool> stop{false};
        const auto start = std::chrono::steady_clock::now();
        std::thread reader([&] {  // for 3 s at most, so a sender without a deadline cannot hang the test
            char block[65536];
            while (!stop && std::chrono::steady_clock::now() - start < 3s &&
                   ::recv(peer.get(), block, trickle ? 1 : sizeof block, MSG_DONTWAIT) != 0)
                std::this_thread::sleep_for(trickle ? 10ms : 1ms);
        });
        const bool sent = connection.SendData(std::string(1 << 20, 'x'));
        const auto took = std::chrono::steady_clock::now() - start;
        stop = true;
        reader.join();
        EXPECT_EQ(sent, !trickle);
        if (trickle) {
            EXPECT_EQ(connection.LastError(), ETIMEDOUT);
            EXPECT_LT(took, 1300ms);
        }
    }
}

TEST_F(SocketPairTest, OnlyLinesThatMayBeSentGoOut) {
    EXPECT_TRUE(connection.SendCommand("STAT"));
    EXPECT_FALSE(connection.SendCommand("DELE 1\r\nDELE 2"));
    EXPECT_FALSE(connection.SendCommand(std::string(kTextLineCapacity, 'x')));
    EXPECT_TRUE(connection.SendCommand("NOOP"));
    std::string line;
    ASSERT_EQ(ReceiveTextLine(peer.get(), line, kQuick), LineStatus::kLine);
    EXPECT_EQ(line, "STAT");
    ASSERT_EQ(ReceiveTextLine(peer.get(), line, kQuick), LineStatus::kLine);
    EXPECT_EQ(line, "NOOP");
}

}  // namespace
}  // namespace quorvex::webcom
