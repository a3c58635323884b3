// The bounded line reader: command lines whole or discarded, message text
// in marked pieces, and the whole-line deadline on a real socket pair.
#include "common/net/LineReader.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/support/NetTestSupport.h"
#include "tests/support/RecordedActivity.h"
#include "tests/support/SocketPair.h"

namespace quorvex {
namespace {

using namespace std::chrono_literals;
using testing::RunFlagScope;

constexpr std::string_view kTooLong = "<too long>";

// Every command line the bytes give, fed in slices of `slice` bytes.
std::vector<std::string> CommandLines(std::string_view bytes, std::size_t slice) {
    LineBuffer buffer;
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < bytes.size(); at += slice) {
        buffer.Append(bytes.substr(at, slice));
        while (const auto line = buffer.NextLine()) lines.emplace_back(line->too_long ? kTooLong : line->text);
    }
    return lines;
}

TEST(LineBufferTest, CommandLinesAreWholeOrTooLong) {
    const std::string x3068(3068, 'x');
    const std::string x3069(3069, 'x');
    const std::string x3070(3070, 'x');
    struct Case {
        std::string bytes;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"abc\r\n", {"abc"}},
        {"abc\n", {"abc"}},
        {"a\rb\r\n", {"a\rb"}},            // a CR inside the line is text
        {"abc\r\r\n", {"abc\r"}},          // only the CR before the LF goes
        {std::string("a\0b\r\n", 5), {std::string("a\0b", 3)}},
        {x3068 + "\r\n" + x3069 + "\r\n" + x3069 + "\n", {x3068, x3069, x3069}},
        {x3070 + "\r\nNOOP\r\n", {std::string(kTooLong), "NOOP"}},
        {x3070 + "\nNOOP\r\n", {std::string(kTooLong), "NOOP"}},
        {x3069 + "x\r\n", {std::string(kTooLong)}},
        // The tail of a long line never runs as a command of its own.
        {"NOOP " + std::string(5000, 'x') + "HELO evil\r\nSTAT\r\n", {std::string(kTooLong), "STAT"}},
        {std::string(3069, 'j') + "STAT\r\n", {std::string(kTooLong)}},
        {"no line end yet", {}},
        {"\r\n\n", {"", ""}},
    };
    for (const Case& c : cases) {
        for (const std::size_t slice : {c.bytes.size(), std::size_t{1}, std::size_t{7}, std::size_t{3071}}) {
            EXPECT_EQ(CommandLines(c.bytes, std::max<std::size_t>(slice, 1)), c.lines)
                << ::testing::PrintToString(c.bytes.substr(0, 40)) << " in slices of " << slice;
        }
    }
}

TEST(LineBufferTest, DiscardingKeepsMemoryBounded) {
    LineBuffer buffer;
    const std::string block(64 * 1024, 'z');
    for (int i = 0; i < 200; ++i) {  // 12.5 MiB without a line end
        buffer.Append(block);
        EXPECT_FALSE(buffer.NextLine());
        EXPECT_EQ(buffer.Pending(), 0u);
    }
    buffer.Append("tail\r\nQUIT\r\n");
    const auto discarded = buffer.NextLine();
    ASSERT_TRUE(discarded);
    EXPECT_TRUE(discarded->too_long);
    const auto quit = buffer.NextLine();
    ASSERT_TRUE(quit);
    EXPECT_EQ(quit->text, "QUIT");
}

TEST(LineBufferTest, MessageTextComesInMarkedPieces) {
    struct Piece {
        std::string text;
        LineEnd end;
        bool continuation;
        bool operator==(const Piece&) const = default;
    };
    const std::string b5000(5000, 'b');
    const std::string c3069(3069, 'c');
    struct Case {
        std::string bytes;
        std::vector<Piece> pieces;
    };
    const Case cases[] = {
        {"one\r\ntwo\n.\r\n",
         {{"one", LineEnd::kCrLf, false}, {"two", LineEnd::kBareLf, false}, {".", LineEnd::kCrLf, false}}},
        {b5000 + "\r\n",
         {{b5000.substr(0, 3069), LineEnd::kCut, false}, {b5000.substr(3069), LineEnd::kCrLf, true}}},
        // The rest of a cut line is marked: its dot does not begin a line.
        {c3069 + ".b\r\n", {{c3069, LineEnd::kCut, false}, {".b", LineEnd::kCrLf, true}}},
        {c3069 + "\r\n", {{c3069, LineEnd::kCrLf, false}}},
        {c3069 + "c\n", {{c3069, LineEnd::kCut, false}, {"c", LineEnd::kBareLf, true}}},
    };
    for (const Case& c : cases) {
        for (const std::size_t slice : {c.bytes.size(), std::size_t{1}}) {
            LineBuffer buffer;
            std::vector<Piece> pieces;
            for (std::size_t at = 0; at < c.bytes.size(); at += slice) {
                buffer.Append(std::string_view(c.bytes).substr(at, slice));
                while (const auto piece = buffer.NextPiece())
                    pieces.push_back({std::string(piece->text), piece->end, piece->continuation});
            }
            EXPECT_TRUE(pieces == c.pieces) << ::testing::PrintToString(c.bytes.substr(0, 40)) << " slice " << slice;
        }
    }
}

using testing::SocketPair;

// A client that sends a byte now and then does not keep its line alive: the
// line must be whole within the limit counted from when it was awaited.
TEST(LineReaderTest, AWholeLineMustArriveWithinTheIdleLimit) {
    RunFlagScope run;
    SocketPair pair;
    std::atomic<long long> limit_ms{400};
    LineReader reader(pair.ours.get(), SocketTimeouts{20, 1000}, [&] { return std::chrono::milliseconds(limit_ms.load()); });
    testing::RecordedActivity activity;
    reader.set_activity(activity);

    pair.Send("HELO a\r\nNOOP\r\n");
    std::string_view line;
    ASSERT_EQ(reader.ReadLine(line), LineStatus::kLine);
    EXPECT_EQ(line, "HELO a");
    ASSERT_EQ(reader.ReadLine(line), LineStatus::kLine);
    EXPECT_EQ(line, "NOOP");
    EXPECT_TRUE(activity.waits.empty());  // the lines were there: no wait

    std::atomic<bool> stop{false};
    std::thread trickler([&] {
        while (!stop) {
            pair.Send("x");
            std::this_thread::sleep_for(30ms);  // a slow client's pace
        }
    });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(reader.ReadLine(line), LineStatus::kTimeout);
    const auto waited = std::chrono::steady_clock::now() - started;
    stop = true;
    trickler.join();
    EXPECT_GE(waited, 390ms);
    EXPECT_LT(waited, 2000ms);
    // Waiting for the client while it was silent, and no longer after.
    ASSERT_FALSE(activity.waits.empty());
    EXPECT_TRUE(activity.waits.front());
    EXPECT_FALSE(activity.waits.back());

    // A limit that drops while a line is awaited applies at once.
    SocketPair second;
    limit_ms = 60000;
    LineReader busy(second.ours.get(), SocketTimeouts{20, 1000}, [&] { return std::chrono::milliseconds(limit_ms.load()); });
    std::thread drop([&] {
        second.Send("partial");
        limit_ms = 100;
    });
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(busy.ReadLine(line), LineStatus::kTimeout);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 5000ms);
    drop.join();
}

TEST(LineReaderTest, EndsOfTheConnection) {
    RunFlagScope run;
    std::string_view line;
    {
        SocketPair pair;
        LineReader reader(pair.ours.get(), SocketTimeouts{20, 1000});
        pair.Send("QUIT\r\nunfinished");
        pair.theirs.reset();
        ASSERT_EQ(reader.ReadLine(line), LineStatus::kLine);
        EXPECT_EQ(line, "QUIT");
        EXPECT_EQ(reader.ReadLine(line), LineStatus::kClosed);  // the unfinished line is not handed out
        EXPECT_EQ(reader.buffer().TakePending(), "unfinished");
    }
    {
        SocketPair pair;
        LineReader reader(pair.ours.get(), SocketTimeouts{20, 1000});
        pair.Send(std::string(4000, 'y') + "\r\n");
        EXPECT_EQ(reader.ReadLine(line), LineStatus::kTooLong);
        EXPECT_TRUE(line.empty());
        ServerRunFlag = 0;
        EXPECT_EQ(reader.ReadLine(line), LineStatus::kStopped);
    }
}

}  // namespace
}  // namespace quorvex
