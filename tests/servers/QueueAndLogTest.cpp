// The queue's enqueue operation and the daily counted logs.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <regex>
#include <set>

#include "app/ServerSmtpServices.h"
#include "common/AtomicFile.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "servers/address/AddressRules.h"
#include "servers/logs/DailyLog.h"
#include "servers/logs/MainLog.h"
#include "servers/logs/ServerLogs.h"
#include "servers/queue/OutgoingQueue.h"
#include "servers/queue/RetryPolicy.h"
#include "servers/support/SmtpTestFiles.h"
#include "support/FileStepFaults.h"
#include "support/TempFolder.h"

namespace quorvex {
namespace {

using testing::Slurp;
using testing::TempFolder;

class QueueTest : public ::testing::Test {
protected:
    void SetUp() override { std::ofstream(message, std::ios::binary) << "Subject: q\r\n\r\n\x80\xff body\r\n"; }
    TempFolder folder;
    OutgoingQueue queue{folder.path()};
    std::string message = folder.File("in.dat");
};

TEST_F(QueueTest, WritesRecordAndCopy) {
    const testing::StepTrace steps =
        testing::TraceSteps([&] { EXPECT_EQ(queue.Enqueue(message, "y@elsewhere.org", "x@example.test"), 1); });
    EXPECT_LT(testing::StepAt(steps, fs::Step::kSync, "mail1.dat"), testing::StepAt(steps, fs::Step::kRename, "1.ini"));
    EXPECT_EQ(queue.Enqueue(message, "z@elsewhere.org", ""), 2);
    const std::string record = queue.RecordPath(1);
    EXPECT_EQ(ReadProfileString(record, "Info", "DestAddr"), "y@elsewhere.org");
    EXPECT_EQ(ReadProfileString(record, "Info", "ReplyAddr"), "x@example.test");
    EXPECT_EQ(ReadProfileString(record, "Info", "MailFile"), "mail1.dat");
    EXPECT_EQ(ReadProfileString(record, "Info", "Times"), "0");
    EXPECT_EQ(ReadProfileString(record, "Info", "BeginTime").size(), 19u);
    EXPECT_EQ(Slurp(JoinPath(folder.path(), "smtp", "mail2.dat")), Slurp(message));
    EXPECT_EQ(queue.PendingRange().low, 1);
    EXPECT_EQ(queue.PendingRange().high, 2);
    // A retry copies the whole record and only renames the message file.
    ProfileFile(record).WriteString("Info", "Times", "3");
    const std::string copy_from = record;
    EXPECT_EQ(queue.Enqueue(message, "ignored", "ignored", &copy_from), 3);
    EXPECT_EQ(ReadProfileString(queue.RecordPath(3), "Info", "DestAddr"), "y@elsewhere.org");
    EXPECT_EQ(ReadProfileString(queue.RecordPath(3), "Info", "Times"), "3");
    EXPECT_EQ(ReadProfileString(queue.RecordPath(3), "Info", "MailFile"), "mail3.dat");
}

TEST_F(QueueTest, RefusesWhatWouldBreakTheRecord) {
    EXPECT_EQ(queue.Enqueue(message, "y@else\r\n[Info]\r\nMailFile=x", "s"), -1);
    EXPECT_EQ(queue.Enqueue(message, "y@elsewhere.org", "s\n"), -1);
    EXPECT_EQ(queue.Enqueue(folder.File("missing.dat"), "y@elsewhere.org", "s"), -1);
    EXPECT_EQ(queue.StageItem(message, "y@else\r\n[Info]\r\nMailFile=x", "s"), -1);
    EXPECT_EQ(queue.StageItem(folder.File("missing.dat"), "y@elsewhere.org", "s"), -1);
    EXPECT_EQ(queue.PublishItem(99, "y@elsewhere.org", "s"), -1);
    EXPECT_EQ(queue.PublishItem(queue.StageItem(message, "y@elsewhere.org", "s"), "y@else\r\n[Info]", "s"), -1);
    // Nothing half-made stays behind.
    for (const auto& entry : std::filesystem::directory_iterator(queue.folder())) {
        if (entry.path().filename() != "index.ini") ADD_FAILURE() << entry.path();  // the counters stay
    }
    EXPECT_EQ(queue.PendingRange().low, -1);
}

// A staged copy is no item: no record names it and no sender sees it
// until it is published; one never published goes, at start-up too.
TEST_F(QueueTest, StagedCopiesReachTheSendersOnlyWhenPublished) {
    const int first = queue.StageItem(message, "y@elsewhere.org", "x@example.test");
    const int second = queue.StageItem(message, "z@elsewhere.org", "");
    const int left = queue.StageItem(message, "w@elsewhere.org", "");
    ASSERT_GT(first, 0);
    ASSERT_GT(second, 0);
    EXPECT_EQ(Slurp(queue.StagedPath(first)), Slurp(message));
    EXPECT_FALSE(queue.HasQueuedMail());
    EXPECT_EQ(queue.PendingRange().low, -1);
    EXPECT_EQ(queue.PublishItem(second, "z@elsewhere.org", ""), 1);
    EXPECT_EQ(ReadProfileString(queue.RecordPath(1), "Info", "DestAddr"), "z@elsewhere.org");
    EXPECT_EQ(Slurp(queue.MessagePath(1)), Slurp(message));
    EXPECT_FALSE(FileExists(queue.StagedPath(second)));
    EXPECT_EQ(queue.PendingRange().low, 1);
    queue.DropStagedItem(first);
    EXPECT_FALSE(FileExists(queue.StagedPath(first)));
    EXPECT_EQ(queue.RemoveStagedItems(), 1);
    EXPECT_FALSE(FileExists(queue.StagedPath(left)));
    EXPECT_TRUE(FileExists(queue.RecordPath(1)));
}

// How often an item is tried: a temporary failure until "MaxTries"
// attempts in all, a permanent one once.
TEST(RetryPolicy, TriesAndReportRoutes) {
    using outgoing::DeliveryResult;
    struct Case {
        DeliveryResult result;
        int times;
        int max_tries;
        bool retry;
    } cases[] = {
        {DeliveryResult::kFailedTemporary, 1, 3, true},    {DeliveryResult::kFailedTemporary, 2, 3, true},
        {DeliveryResult::kFailedTemporary, 3, 3, false},   {DeliveryResult::kFailedTemporary, 19, 20, true},
        {DeliveryResult::kFailedTemporary, 20, 20, false}, {DeliveryResult::kFailedTemporary, 1, 0, false},
        {DeliveryResult::kFailedPermanent, 1, 20, false},  {DeliveryResult::kFailedPermanent, 1, 1000, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ShouldRetry(c.result, c.times, c.max_tries), c.retry)
            << static_cast<int>(c.result) << " " << c.times << "/" << c.max_tries;
    }
    // A report, or mail without a sender, is never answered with a report.
    EXPECT_EQ(RouteOfReport("", ADDRESS_LOCAL_ACCOUNT), ReportRoute::kNoReport);
    EXPECT_EQ(RouteOfReport("MAILER-DAEMON@quorvex.test", ADDRESS_REMOTE), ReportRoute::kNoReport);
    EXPECT_EQ(RouteOfReport("alice@quorvex.test", ADDRESS_LOCAL_ACCOUNT), ReportRoute::kLocalMailbox);
    EXPECT_EQ(RouteOfReport("bob@remote.test", ADDRESS_REMOTE), ReportRoute::kOutgoing);
    EXPECT_EQ(RouteOfReport("ghost@quorvex.test", ADDRESS_LOCAL_UNKNOWN), ReportRoute::kPark);
}

TEST(DailyLog, CountsLinesAndStopsAtTheLimit) {
    TempFolder folder;
    DailyLog log("smtplog");
    const std::time_t now = std::time(nullptr);
    const std::string logs = folder.File("log");
    EXPECT_EQ(log.Append(logs, 3, "one\r\n", now), DailyLog::Result::kWritten);
    const std::string path = log.PathFor(logs, now);
    EXPECT_EQ(ReadProfileInt(path, "System", "Index", 0), 2);
    EXPECT_EQ(log.Append(logs, 3, "two\r\n", now), DailyLog::Result::kWritten);
    EXPECT_EQ(log.Append(logs, 3, "three\r\n", now), DailyLog::Result::kWritten);
    EXPECT_EQ(log.Append(logs, 3, "four\r\n", now), DailyLog::Result::kFull);
    EXPECT_EQ(Slurp(path), "[System]\r\nIndex=0000000004\r\none\r\ntwo\r\nthree\r\n");
    EXPECT_EQ(ReadProfileInt(path, "System", "Index", 0), 4);
    // A file whose counter another writer formatted its own way.
    std::ofstream(path, std::ios::binary | std::ios::trunc) << "[System]\r\nIndex=3\r\nold\r\n";
    ProfileFile::ClearCache();
    EXPECT_EQ(log.Append(logs, 3, "x\r\n", now), DailyLog::Result::kWritten);
    EXPECT_EQ(Slurp(path), "[System]\r\nIndex=4\r\nold\r\nx\r\n");
    // A log with a note ends the full file with it, once.
    DailyLog noted("smtplog", [](const std::string&, int n, std::time_t) { return "full at " + std::to_string(n); });
    EXPECT_EQ(noted.Append(logs, 3, "y\r\n", now), DailyLog::Result::kLimitReached);
    EXPECT_EQ(noted.Append(logs, 3, "z\r\n", now), DailyLog::Result::kFull);
    EXPECT_EQ(Slurp(path), "[System]\r\nIndex=5\r\nold\r\nx\r\nfull at 3");
}

// The day's file stays open between lines; another writer of the same
// file, or its removal, is noticed before the next line.
TEST(DailyLog, NoticesOtherWritersAndARemovedFile) {
    TempFolder folder;
    const std::time_t now = std::time(nullptr);
    const std::string logs = folder.File("log");
    DailyLog first("smtplog");
    DailyLog second("smtplog");
    EXPECT_EQ(first.Append(logs, 10, "a\r\n", now), DailyLog::Result::kWritten);
    EXPECT_EQ(second.Append(logs, 10, "b\r\n", now), DailyLog::Result::kWritten);
    EXPECT_EQ(first.Append(logs, 10, "c\r\n", now), DailyLog::Result::kWritten);
    const std::string path = first.PathFor(logs, now);
    EXPECT_EQ(Slurp(path), "[System]\r\nIndex=0000000004\r\na\r\nb\r\nc\r\n");
    std::filesystem::remove(path);
    EXPECT_EQ(first.Append(logs, 10, "d\r\n", now), DailyLog::Result::kWritten);
    EXPECT_EQ(Slurp(path), "[System]\r\nIndex=0000000002\r\nd\r\n");
}

// At start-up only the spool files of received messages and auto-replies
// go: never a queued item, a collected message or anything else.
TEST(SpoolLeftovers, OnlyTemporaryMessageFilesAreRemoved) {
    TempFolder folder;
    const std::vector<std::string> removed = {"temp_smtp_12.dat", "temp_auto_reply_3.dat"};
    std::set<std::string> kept = {"temp_smtp_.dat", "temp_smtp_1x.dat", "temp_pop3_4.dat", "mail1.dat",
                                  "mail1.ini",      "index.ini",        "temp_smtp_5.dat.ini"};
    for (const auto& name : removed) std::ofstream(folder.File(name)) << "x";
    for (const auto& name : kept) std::ofstream(folder.File(name)) << "x";
    std::filesystem::create_directory(folder.File("temp_smtp_6.dat"));
    kept.insert("temp_smtp_6.dat");
    EXPECT_EQ(smtp::RemoveLeftoverSpoolFiles(folder.path()), 2);
    std::set<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) left.insert(entry.path().filename());
    EXPECT_EQ(left, kept);
}

class RecordingSink : public NoticeSink {
public:
    void Post(NoticeId id, std::string_view payload) override {
        if (id == NoticeId::WM_SHOW_MESSAGE) posted.emplace_back(payload);
    }
    bool PostAndWait(NoticeId, std::string_view, std::chrono::milliseconds) override { return false; }
    std::vector<std::string> posted;
};

TEST(ServerLogs, SmtpAndSystemLogLines) {
    TempFolder folder;
    const LogSettings settings{folder.File("log"), 1};
    const LogSettings smtp_settings{folder.File("smtp"), 1};
    RecordingSink sink;
    WriteSmtpLog(smtp_settings, "10.0.0.1", "mail from a to b successfully", sink);
    WriteSmtpLog(smtp_settings, "WebMail", "second", sink);
    EXPECT_EQ(sink.posted, (std::vector<std::string>{"SMTP 10.0.0.1 mail from a to b successfully",
                                                     "SMTP LOG File Overflow", "SMTP WebMail second"}));
    const std::time_t now = std::time(nullptr);
    const std::string smtp_path = DailyLog("smtplog").PathFor(smtp_settings.folder, now);
    const std::string smtp = Slurp(smtp_path);
    EXPECT_NE(smtp.find(" 10.0.0.1 mail from a to b successfully\r\n"), std::string::npos);
    EXPECT_EQ(smtp.find("second"), std::string::npos);
    // The file ends with a note that it is full and where to look; the
    // system log says so too.
    EXPECT_TRUE(smtp.ends_with(" QuorvexServer " + std::string(BaseName(smtp_path)) +
                               " is full ([Log] MaxLogLine=1 lines a day): further lines of this day are not "
                               "written to it. Failed logins and login locks still go to standard error and to "
                               "the system log.\r\n"))
        << smtp;
    const std::string reported = Slurp(DailyLog("syslog").PathFor(smtp_settings.folder, now));
    EXPECT_NE(reported.find("] The SMTP log " + smtp_path + " is full ([Log] MaxLogLine=1"), std::string::npos);

    std::vector<std::string> shown;
    SetSystemLogDisplay([&](const std::string& line) { shown.push_back(line); });
    // A subject with line breaks of its own cannot forge further lines.
    WriteSystemLog(settings, "[Email] Subject: hi\r\n[2001-01-01 00:00:00] forged\x01 From: a@b");
    WriteSystemLog(settings, "later");
    SetSystemLogDisplay(nullptr);
    ASSERT_EQ(shown.size(), 2u);
    {
        // A line cut at the bound still ends in CR LF.
        std::vector<std::string> long_line;
        SetSystemLogDisplay([&](const std::string& line) { long_line.push_back(line); });
        WriteSystemLog(LogSettings{folder.File("log2"), 10}, std::string(5000, 'z'));
        SetSystemLogDisplay(nullptr);
        ASSERT_EQ(long_line.size(), 1u);
        EXPECT_EQ(long_line[0].size(), kMaxSystemLogLine - 1);
        EXPECT_EQ(long_line[0].substr(long_line[0].size() - 3), "z\r\n");
    }
    EXPECT_EQ(shown[0].substr(0, 1), "[");
    EXPECT_EQ(shown[0].substr(21), " [Email] Subject: hi\\r\\n[2001-01-01 00:00:00] forged\\x01 From: a@b\r\n");
    EXPECT_NE(shown[1].find("] later\r\n["), std::string::npos);
    EXPECT_NE(shown[1].find("] SYS LOG File Overflow\r\n"), std::string::npos);
    const std::string sys = Slurp(DailyLog("syslog").PathFor(settings.folder, now));
    EXPECT_NE(sys.find("[Email] Subject"), std::string::npos);
    EXPECT_EQ(sys.find("later"), std::string::npos);
    // With the system log of its folder full, an SMTP log's note promises
    // standard error only.
    WriteSmtpLog(settings, "10.0.0.2", "first", sink);
    WriteSmtpLog(settings, "10.0.0.2", "second", sink);
    const std::string full = Slurp(DailyLog("smtplog").PathFor(settings.folder, now));
    EXPECT_TRUE(full.ends_with("Failed logins and login locks still go to standard error.\r\n")) << full;
}

// A notice sink that writes another SMTP log line from a second thread
// while it is posting: that only finishes when the writer that posts does
// not hold the log's lock.
class ReenteringSink : public NoticeSink {
public:
    explicit ReenteringSink(const LogSettings& settings) : settings_(settings) {}
    void Post(NoticeId, std::string_view payload) override {
        if (payload.find("reentered") != std::string_view::npos) return;
        auto other = std::async(std::launch::async, [this] {
            NullNoticeSink quiet;
            WriteSmtpLog(settings_, "10.0.0.2", "reentered", quiet);
        });
        finished_in_time.push_back(other.wait_for(std::chrono::seconds(30)) == std::future_status::ready);
        pending_.push_back(std::move(other));
    }
    bool PostAndWait(NoticeId, std::string_view, std::chrono::milliseconds) override { return false; }
    std::vector<bool> finished_in_time;

private:
    const LogSettings& settings_;
    std::vector<std::future<void>> pending_;  // joined when the sink goes
};

TEST(ServerLogs, SmtpLogNoticesAreSentWithoutTheLock) {
    TempFolder folder;
    const LogSettings settings{folder.File("log"), 2};
    ReenteringSink sink(settings);
    WriteSmtpLog(settings, "10.0.0.1", "first", sink);   // one line, one notice
    WriteSmtpLog(settings, "10.0.0.1", "second", sink);  // full: overflow notice and line notice
    EXPECT_EQ(sink.finished_in_time, (std::vector<bool>{true, true, true}));
}

TEST(ServerLogs, MainLogLinesAndRestart) {
    TempFolder folder;
    const std::string logs = folder.File("log");  // missing: created by the first line
    WriteMainLog(logs, DatabaseErrorLine(0x80040e14, "42S02: no such table"));
    WriteMainLog(logs, "second");
    const std::string path = JoinPath(logs, "quorvexlog.txt");
    const std::string text = Slurp(path);
    EXPECT_TRUE(std::regex_match(text, std::regex("\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d "
                                                   "Error number: 80040e14\t42S02: no such table\r\n"
                                                   "\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d second\r\n")))
        << text;
    EXPECT_EQ(DatabaseErrorLine(0, "x"), "Error number: 0\tx");
    // A file of exactly the limit is appended to; one byte more is restarted.
    for (const long long size : {kMainLogRestartBytes, kMainLogRestartBytes + 1}) {
        SCOPED_TRACE(size);
        std::filesystem::resize_file(path, static_cast<std::uintmax_t>(size));
        WriteMainLog(logs, "after");
        const auto now = std::filesystem::file_size(path);
        if (size == kMainLogRestartBytes) {
            EXPECT_GT(now, static_cast<std::uintmax_t>(size));
        } else {
            EXPECT_LT(now, 100u);
            EXPECT_NE(Slurp(path).find(" after\r\n"), std::string::npos);
        }
    }
}

}  // namespace
}  // namespace quorvex
