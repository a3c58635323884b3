// The error log: its line format, the restart at 64 KiB, the fallback when
// its path is too long, concurrent writers and the alert hook.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <thread>

#include "common/AtomicFile.h"
#include "common/BoundedString.h"
#include "common/ErrorLog.h"
#include "common/Paths.h"
#include "common/ServerSettings.h"
#include "support/TempFolder.h"

namespace quorvex {
namespace {

using testing::TempFolder;

class ErrorLogTest : public ::testing::Test {
protected:
    void SetUp() override { UseLogFolder(temp_.File("log")); }
    void TearDown() override {
        SetErrorLogAlertHook(nullptr);
        PublishSettings(std::make_shared<CServerSettings>());
    }

    void UseLogFolder(const std::string& folder) {
        auto settings = std::make_shared<CServerSettings>();
        settings->SetProgramFolder(temp_.path());
        settings->LogFilePath = folder;
        PublishSettings(settings);
    }
    std::string LogPath() const { return temp_.File("log/quorvexlog.txt"); }
    std::string LogText() const {
        std::string text;
        ReadWholeFile(LogPath(), text);
        return text;
    }

    TempFolder temp_;
};

TEST_F(ErrorLogTest, WritesOneLinePerCallWithTimeFileAndLine) {
    WriteErrorLog("/src/quorvex/servers/SmtpServer.cpp", 321, "Buffer overflow");
    WriteErrorLog("C:\\build\\Tips.cpp", 7, "");
    const std::regex line(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d SmtpServer\.cpp\(321\): Buffer overflow\r\n)"
                          R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d Tips\.cpp\(7\): \r\n)");
    EXPECT_TRUE(std::regex_match(LogText(), line)) << LogText();
}

TEST_F(ErrorLogTest, CutsAnOverlongPrefixButKeepsTheWholeText) {
    const std::string long_name(5000, 'n');
    const std::string text(6000, 't');
    WriteErrorLog(long_name, 1, text);
    const std::string log = LogText();
    ASSERT_EQ(log.size(), kMaxErrorLogPrefixLength + text.size() + 2);
    EXPECT_EQ(log.substr(kMaxErrorLogPrefixLength), text + "\r\n");
}

TEST_F(ErrorLogTest, RestartsOnlyAFileLargerThan64KiB) {
    struct Case {
        std::size_t existing;
        bool restarted;
    } cases[] = {{65536, false}, {65537, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.existing);
        std::filesystem::create_directories(temp_.File("log"));
        std::ofstream(LogPath(), std::ios::binary | std::ios::trunc) << std::string(c.existing, 'x');
        WriteErrorLog("a.cpp", 1, "next");
        const std::string log = LogText();
        EXPECT_EQ(log.size() <= 100, c.restarted) << log.size();
        EXPECT_TRUE(log.ends_with("a.cpp(1): next\r\n"));
    }
}

TEST_F(ErrorLogTest, AFixedFileReplacesTheSettingsFolder) {
    SetErrorLogFile(temp_.File("lib/comlog.txt"));
    WriteErrorLog("Pop3.cpp", 3, "component");
    SetErrorLogFile("");
    WriteErrorLog("Pop3.cpp", 4, "server");
    std::string component;
    ReadWholeFile(temp_.File("lib/comlog.txt"), component);
    EXPECT_TRUE(component.ends_with("Pop3.cpp(3): component\r\n")) << component;
    EXPECT_TRUE(LogText().ends_with("Pop3.cpp(4): server\r\n")) << LogText();
}

TEST_F(ErrorLogTest, CreatesAMissingLogFolder) {
    UseLogFolder(temp_.File("log"));
    ASSERT_FALSE(std::filesystem::exists(temp_.File("log")));
    QUORVEX_ERROR_LOG("first");
    EXPECT_NE(LogText().find("ErrorLogTest.cpp("), std::string::npos);
    EXPECT_EQ((std::filesystem::status(temp_.File("log")).permissions() & std::filesystem::perms::others_write),
              std::filesystem::perms::none);
}

TEST_F(ErrorLogTest, SendsLinesToStandardErrorWhenThePathIsTooLong) {
    const std::string part(100, 'd');
    const std::string deep = JoinPath(temp_.path(), part, part, part);
    UseLogFolder(deep);
    int alerts = 0;
    SetErrorLogAlertHook([&](std::string_view) { ++alerts; });
    ::testing::internal::CaptureStderr();
    WriteErrorLog("a.cpp", 9, "lost?");
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("a.cpp(9): lost?"), std::string::npos) << err;
    EXPECT_FALSE(std::filesystem::exists(deep));
    EXPECT_EQ(alerts, 0);
}

TEST_F(ErrorLogTest, ConcurrentWritersNeitherInterleaveNorLoseLines) {
    constexpr int kThreads = 8;
    constexpr int kLines = 100;  // stays below the restart size
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) {
                WriteErrorLog("w.cpp", t, "thread " + std::to_string(t) + " line " + std::to_string(i));
            }
        });
    }
    for (auto& thread : threads) thread.join();
    const std::string log = LogText();
    ASSERT_LT(log.size(), static_cast<std::size_t>(kErrorLogRestartBytes));
    std::set<std::string> seen;
    const std::regex line(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d w\.cpp\((\d+)\): (thread \1 line \d+))");
    std::size_t start = 0;
    while (start < log.size()) {
        const std::size_t end = log.find("\r\n", start);
        ASSERT_NE(end, std::string::npos);
        std::smatch match;
        const std::string one = log.substr(start, end - start);
        ASSERT_TRUE(std::regex_match(one, match, line)) << one;
        seen.insert(match[2]);
        start = end + 2;
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kLines));
}

TEST_F(ErrorLogTest, AlertFollowsEveryWrittenLineButNeverALostOneOrItsOwn) {
    std::vector<std::string> alerts;
    SetErrorLogAlertHook([&](std::string_view text) {
        alerts.emplace_back(text);
        QUORVEX_ERROR_LOG("logged by the alert itself");
    });
    QUORVEX_ERROR_LOG("one");
    QUORVEX_ERROR_LOG("two");
    EXPECT_EQ(alerts, (std::vector<std::string>{"one", "two"}));
    EXPECT_NE(LogText().find("logged by the alert itself"), std::string::npos);

    // A log folder that cannot exist (a file is in its place) loses the line.
    std::ofstream(temp_.File("blocker")) << "x";
    UseLogFolder(temp_.File("blocker/log"));
    QUORVEX_ERROR_LOG("three");
    EXPECT_EQ(alerts.size(), 2u);
}

TEST_F(ErrorLogTest, BoundedCallsLogTheirCutWithTheCallersLine) {
    char small[4];
    const int line = __LINE__ + 1;
    EXPECT_FALSE(QUORVEX_BOUNDED(CopyStringBounded(small, "too long")));
    EXPECT_TRUE(QUORVEX_BOUNDED(CopyStringBounded(small, "ok")));
    EXPECT_NE(LogText().find("ErrorLogTest.cpp(" + std::to_string(line) + "): Buffer overflow\r\n"), std::string::npos)
        << LogText();
}

}  // namespace
}  // namespace quorvex
