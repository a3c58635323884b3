// The daily POP3 log: the line counter inside the file, the daily limit,
// the "WebMail" source and the notices.
#include <gtest/gtest.h>

#include "common/AtomicFile.h"
#include "servers/pop3/Pop3Log.h"
#include "tests/support/TempFolder.h"

namespace quorvex::pop3 {
namespace {

class Pop3LogTest : public ::testing::Test {
protected:
    Pop3LogTest()
        : log([this] {
              Pop3LogConfig c;
              c.Folder = folder.File("log");
              c.MaxLogLine = max_lines;
              c.IsWebMail = [](std::string_view s) { return s == "10.1.1.1"; };
              c.Notice = [this](std::string_view n) { notices.emplace_back(n); };
              c.Now = [this] { return now; };
              return c;
          }) {}

    std::string File() const { return Pop3Log::FilePath(folder.File("log"), now); }
    std::string Text() const {
        std::string text;
        ReadWholeFile(File(), text);
        return text;
    }

    testing::TempFolder folder;
    int max_lines = 10000;
    std::time_t now = 1700000000;
    std::vector<std::string> notices;
    Pop3Log log;
};

std::string Stamp(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    char b[32];
    std::strftime(b, sizeof b, "%Y/%m/%d %H:%M:%S", &local);
    return b;
}

TEST_F(Pop3LogTest, LinesFollowTheCounterSection) {
    log.Write("192.0.2.1", "bob");
    log.Write("10.1.1.1", "alice");
    EXPECT_EQ(Text(), "[System]\r\nIndex=0000000003\r\n" + Stamp(now) + " 192.0.2.1 bob\r\n" + Stamp(now) +
                          " WebMail alice\r\n");
    EXPECT_EQ(notices, (std::vector<std::string>{"POP3 192.0.2.1 bob", "POP3 WebMail alice"}));
    EXPECT_NE(File().find("pop3log"), std::string::npos);
}

TEST_F(Pop3LogTest, DailyLimitStopsWritingButNotNotices) {
    max_lines = 2;
    log.Write("s", "one");
    log.Write("s", "two");
    log.Write("s", "three");
    const std::string text = Text();
    EXPECT_NE(text.find(" s two\r\n"), std::string::npos);
    EXPECT_EQ(text.find("three"), std::string::npos);
    EXPECT_EQ(notices.back(), "POP3 s three");
    EXPECT_EQ(notices[notices.size() - 2], "POP3 LOG File Overflow");
    // A new day starts a new file.
    now += 24 * 3600;
    log.Write("s", "four");
    EXPECT_NE(Text().find(" s four\r\n"), std::string::npos);
}

}  // namespace
}  // namespace quorvex::pop3
