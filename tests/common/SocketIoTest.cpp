// Line reads, sends, the relay and their waits on real socket pairs.
#include "common/net/SocketIo.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <thread>

#include "common/AtomicFile.h"
#include "common/net/TrafficDump.h"
#include "tests/support/NetTestSupport.h"
#include "tests/support/SocketPair.h"
#include "tests/support/TempFolder.h"

namespace quorvex {
namespace {

using namespace std::chrono_literals;
using testing::RunFlagScope;

// Short slices so that idle limits and shutdowns show within milliseconds.
constexpr SocketTimeouts kFast{20, 3};
// Where a peer thread is expected to act, its pauses must not count as
// idleness: on a loaded machine a thread may wait long to be scheduled.
// The limit (30 s) only ends a broken run.
constexpr SocketTimeouts kPatient{20, 1500};

using testing::SocketPair;

TEST(SocketIoTest, LinesComeBackEndingInCrLf) {
    RunFlagScope run;
    struct Case {
        std::string sent;
        std::size_t capacity;
        std::vector<std::pair<LineStatus, std::string>> reads;
    };
    const std::string long_line(5000, 'x');
    const Case cases[] = {
        {"abc\n", kTextLineCapacity, {{LineStatus::kLine, "abc\r\n"}}},
        {"abc\r\n", kTextLineCapacity, {{LineStatus::kLine, "abc\r\n"}}},
        {"abc\r\r\n", kTextLineCapacity, {{LineStatus::kLine, "abc\r\r\n"}}},  // only one CR goes
        {"\n\r\n", kTextLineCapacity, {{LineStatus::kLine, "\r\n"}, {LineStatus::kLine, "\r\n"}}},
        {"one\r\ntwo\r\n", kTextLineCapacity, {{LineStatus::kLine, "one\r\n"}, {LineStatus::kLine, "two\r\n"}}},
        {long_line + "\n", kTextLineCapacity,
         {{LineStatus::kTooLong, std::string(3069, 'x') + "\r\n"}, {LineStatus::kLine, std::string(1931, 'x') + "\r\n"}}},
        {"abcdef\r\n", 6,
         {{LineStatus::kTooLong, "abc\r\n"}, {LineStatus::kTooLong, "def\r\n"}, {LineStatus::kLine, "\r\n"}}},
        {"abc\n", 3, {{LineStatus::kError, ""}}},
        {"abc", kTextLineCapacity, {{LineStatus::kClosed, ""}}},  // no LF before the close
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sent.substr(0, 20));
        SocketPair pair;
        pair.Send(c.sent);
        ::shutdown(pair.theirs.get(), SHUT_WR);
        std::string line;
        for (const auto& [status, text] : c.reads) {
            EXPECT_EQ(ReceiveLine(pair.ours.get(), line, c.capacity, kFast), status);
            EXPECT_EQ(line, text);
        }
    }
}

TEST(SocketIoTest, ALineLeavesWhatFollowsInTheSocket) {
    RunFlagScope run;
    SocketPair pair;
    pair.Send("EHLO x\r\nraw bytes");
    std::string line;
    ASSERT_EQ(ReceiveTextLine(pair.ours.get(), line, kFast), LineStatus::kLine);
    EXPECT_EQ(line, "EHLO x");
    std::string raw;
    ASSERT_EQ(ReceiveWithTimeout(pair.ours.get(), raw, 9, ReceiveMode::kExact, kFast), IoStatus::kOk);
    EXPECT_EQ(raw, "raw bytes");
}

TEST(SocketIoTest, TrickledLineIsAssembled) {
    RunFlagScope run;
    SocketPair pair;
    std::thread writer([&] {
        for (const char c : std::string("HELO trickle\r\n")) pair.Send(std::string(1, c));
    });
    std::string line;
    EXPECT_EQ(ReceiveTextLine(pair.ours.get(), line, kPatient), LineStatus::kLine);
    writer.join();
    EXPECT_EQ(line, "HELO trickle");
}

TEST(SocketIoTest, EndlessLineStaysBoundedInChunks) {
    RunFlagScope run;
    SocketPair pair;
    constexpr std::size_t kTotal = 1 << 20;
    std::thread writer([&] {
        const std::string chunk(4096, 'y');
        for (std::size_t sent = 0; sent < kTotal; sent += chunk.size()) pair.Send(chunk);
        ::shutdown(pair.theirs.get(), SHUT_WR);
    });
    std::size_t received = 0;
    std::string line;
    LineStatus status;
    while ((status = ReceiveLine(pair.ours.get(), line, 1024, kPatient)) == LineStatus::kTooLong) {
        ASSERT_EQ(line.size(), 1023u);
        received += line.size() - 2;
    }
    writer.join();
    EXPECT_EQ(status, LineStatus::kClosed);
    // Everything but an unterminated tail shorter than one chunk arrived.
    EXPECT_GT(received, kTotal - 1021);
}

TEST(SocketIoTest, ReadsGiveUpAfterTheIdleLimit) {
    RunFlagScope run;
    SocketPair pair;
    std::string out;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReceiveWithTimeout(pair.ours.get(), out, 10, ReceiveMode::kNormal, kFast), IoStatus::kTimeout);
    const auto waited = std::chrono::steady_clock::now() - start;
    // More than idle_slices slices of silence end the wait, not fewer.
    EXPECT_GE(waited, 4 * 20ms - 5ms);
    EXPECT_LT(waited, 2s);
    std::string line;
    EXPECT_EQ(ReceiveLine(pair.ours.get(), line, kTextLineCapacity, kFast), LineStatus::kTimeout);
}

TEST(SocketIoTest, ExactModeWaitsForEveryChunk) {
    RunFlagScope run;
    SocketPair pair;
    std::thread writer([&] {
        pair.Send("12345");
        pair.Send("67890");
    });
    std::string out;
    EXPECT_EQ(ReceiveWithTimeout(pair.ours.get(), out, 10, ReceiveMode::kExact, kPatient), IoStatus::kOk);
    writer.join();
    EXPECT_EQ(out, "1234567890");
    pair.Send("ab");
    ::shutdown(pair.theirs.get(), SHUT_WR);
    EXPECT_EQ(ReceiveWithTimeout(pair.ours.get(), out, 5, ReceiveMode::kExact, kFast), IoStatus::kClosed);
    EXPECT_EQ(out, "ab");
}

TEST(SocketIoTest, PeekLeavesTheBytes) {
    RunFlagScope run;
    SocketPair pair;
    pair.Send("peeked");
    std::string out;
    ASSERT_EQ(ReceiveWithTimeout(pair.ours.get(), out, 100, ReceiveMode::kPeek, kFast), IoStatus::kOk);
    EXPECT_EQ(out, "peeked");
    ASSERT_EQ(ReceiveWithTimeout(pair.ours.get(), out, 100, ReceiveMode::kNormal, kFast), IoStatus::kOk);
    EXPECT_EQ(out, "peeked");
}

TEST(SocketIoTest, ClearingTheRunFlagEndsEveryWaitWithinASlice) {
    RunFlagScope run;
    SocketPair read_pair, send_pair, relay_a, relay_b;
    // Fill the send socket so that SendBuffer has to wait for the peer.
    const std::string block(1 << 16, 'z');
    while (::send(send_pair.ours.get(), block.data(), block.size(), MSG_DONTWAIT) > 0) {
    }
    const SocketTimeouts slices{100, 1000};
    LineStatus line_status{};
    bool sent = true;
    int relay = -1;
    std::thread reader([&] {
        std::string line;
        line_status = ReceiveLine(read_pair.ours.get(), line, kTextLineCapacity, slices);
    });
    std::thread sender([&] { sent = SendBuffer(send_pair.ours.get(), block, slices); });
    std::thread relayer([&] { relay = RelayBetweenSockets(relay_a.ours.get(), relay_b.ours.get(), slices); });
    std::this_thread::yield();
    const auto cleared = std::chrono::steady_clock::now();
    ServerRunFlag = 0;
    reader.join();
    sender.join();
    relayer.join();
    // Each wait would otherwise last 100 s; a loaded machine may take a
    // while to schedule the three threads, hence the margin over a slice.
    EXPECT_LT(std::chrono::steady_clock::now() - cleared, 5s);
    EXPECT_EQ(line_status, LineStatus::kStopped);
    EXPECT_FALSE(sent);
    EXPECT_EQ(relay, kRelayStopped);
    // A reply the socket takes at once still goes out while stopping.
    ASSERT_TRUE(SendText(read_pair.ours.get(), "250 stored\r\n"));
    char reply[32] = {};
    EXPECT_EQ(::recv(read_pair.theirs.get(), reply, sizeof reply, 0), 12);
}

TEST(SocketIoTest, SendGivesUpOnAPeerThatStopsReading) {
    RunFlagScope run;
    SocketPair pair;
    const std::string block(1 << 20, 'z');  // far more than the socket buffers hold
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(SendBuffer(pair.ours.get(), block, kFast));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    // A reading peer gets the whole block, however slowly it reads.
    SocketPair reading;
    std::string received;
    std::thread reader([&] {
        std::string chunk;
        while (received.size() < block.size() &&
               ReceiveWithTimeout(reading.theirs.get(), chunk, 65536, ReceiveMode::kNormal, kPatient) == IoStatus::kOk) {
            received += chunk;
        }
    });
    EXPECT_TRUE(SendBuffer(reading.ours.get(), block, kPatient));
    reader.join();
    EXPECT_EQ(received.size(), block.size());
}

TEST(SocketIoTest, SendLineCutsAtTheOldBufferSize) {
    RunFlagScope run;
    struct Case {
        std::size_t length;
        bool crlf;
        std::string tail;  // what the peer sees at the end
        std::size_t sent;
    };
    const Case cases[] = {
        {4094, true, "x\r\n", 4096},
        {4095, true, "x\r", 4096},  // the LF no longer fits
        {5000, false, "x", 5000},   // without CR LF nothing is cut
    };
    for (const Case& c : cases) {
        SocketPair pair;
        ASSERT_TRUE(SendLine(pair.ours.get(), std::string(c.length, 'x'), c.crlf));
        const std::string got = pair.Drain();
        EXPECT_EQ(got.size(), c.sent);
        EXPECT_EQ(got.substr(got.size() - c.tail.size()), c.tail);
    }
}

TEST(SocketIoTest, TrafficDumpRecordsEveryBlock) {
    RunFlagScope run;
    testing::TempFolder folder;
    const std::string dump = folder.File("log.dat");
    SetTrafficDump(true, dump);
    SocketPair pair;
    ASSERT_TRUE(SendLine(pair.ours.get(), "QUIT"));
    pair.Send("+OK bye\r\n");
    std::string line;
    ASSERT_EQ(ReceiveLine(pair.ours.get(), line, kTextLineCapacity, kFast), LineStatus::kLine);
    SetTrafficDump(false);
    ASSERT_TRUE(SendLine(pair.ours.get(), "not dumped"));
    std::string text;
    ASSERT_TRUE(ReadWholeFile(dump, text));
    const std::string separator(kTrafficDumpSeparator);
    EXPECT_EQ(text, "QUIT\r\n" + separator + "+OK bye\r\n" + separator);
}

TEST(SocketIoTest, RelayCopiesBothWaysUntilOneSideCloses) {
    RunFlagScope run;
    SocketPair a, b;
    int result = -1;
    std::thread relay([&] { result = RelayBetweenSockets(a.ours.get(), b.ours.get(), kPatient); });
    a.Send("to b");
    std::string got;
    ASSERT_EQ(ReceiveWithTimeout(b.theirs.get(), got, 4, ReceiveMode::kExact, kPatient), IoStatus::kOk);
    EXPECT_EQ(got, "to b");
    b.Send("to a");
    ASSERT_EQ(ReceiveWithTimeout(a.theirs.get(), got, 4, ReceiveMode::kExact, kPatient), IoStatus::kOk);
    EXPECT_EQ(got, "to a");
    a.theirs.reset();
    relay.join();
    EXPECT_EQ(result, kRelayClosed);
}

TEST(SocketIoTest, RelayReportsAFailedSend) {
    RunFlagScope run;
    SocketPair a, b;
    b.theirs.reset();  // nobody reads what goes to b
    ::shutdown(b.ours.get(), SHUT_WR);
    a.Send("lost");
    EXPECT_EQ(RelayBetweenSockets(a.ours.get(), b.ours.get(), kFast), kRelaySendAFailed);
}

TEST(SocketIoTest, RelayEndsAfterTheIdleLimit) {
    RunFlagScope run;
    SocketPair a, b;
    EXPECT_EQ(RelayBetweenSockets(a.ours.get(), b.ours.get(), kFast), kRelayClosed);
}

}  // namespace
}  // namespace quorvex
