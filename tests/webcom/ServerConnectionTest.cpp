// The component's reads over a socket pair: reply lines cut exactly as the
// servers' own reader cuts them, and message data written without its
// dot-stuffing, line for line, however the bytes arrive.
#include <gtest/gtest.h>
#include <sys/socket.h>

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
        int fds[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        connection.Adopt(UniqueFd(fds[0]), kQuick);
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
    };
    TempFolder folder;
    for (const DataCase& c : cases) {
        std::thread sender;
        if (trickle) sender = Trickle(c.wire + "+OK next\r\n");
        else Send(c.wire + "+OK next\r\n");
        pop3::OutputFile mail, head;
        ASSERT_TRUE(mail.Create(folder.File("mail.eml")));
        ASSERT_TRUE(head.Create(folder.File("Head.txt")));
        EXPECT_TRUE(pop3::CopyMessageData(connection, &mail, &head)) << c.name;
        EXPECT_TRUE(mail.Finish());
        EXPECT_TRUE(head.Finish());
        std::string next;
        EXPECT_TRUE(connection.ReadLine(next)) << c.name;
        EXPECT_EQ(next, "+OK next") << c.name;  // the data ended exactly at its "." line
        if (sender.joinable()) sender.join();
        EXPECT_EQ(ReadAll(folder.File("mail.eml")), c.message) << c.name;
        EXPECT_EQ(ReadAll(folder.File("Head.txt")), c.header) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Arrival, MessageDataTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "ByteByByte" : "AtOnce"; });

TEST_F(SocketPairTest, DataCutShortFailsAndDrainingKeepsTheDialogue) {
    Send("a\r\n..b\r\n.\r\n+OK after\r\n");
    EXPECT_TRUE(pop3::CopyMessageData(connection, nullptr, nullptr));
    std::string line;
    ASSERT_TRUE(connection.ReadLine(line));
    EXPECT_EQ(line, "+OK after");

    Send("partial line without end");
    peer.reset();
    TempFolder folder;
    pop3::OutputFile mail;
    ASSERT_TRUE(mail.Create(folder.File("mail.eml")));
    EXPECT_FALSE(pop3::CopyMessageData(connection, &mail, nullptr));
    EXPECT_FALSE(connection.IsOpen());
    EXPECT_NE(connection.LastError(), 0);
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
