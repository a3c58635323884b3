// Cancelling a queued item from the transfer status window: only a bare
// message file name of the queue folder is deleted, and an attempt in
// progress ends as "removed by admin" without leaving a record behind.
#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <mutex>

#include "common/Paths.h"
#include "common/RunFlag.h"
#include "servers/queue/OutgoingQueue.h"
#include "servers/queue/QueueItemRemoval.h"
#include "tests/support/TempFolder.h"

namespace quorvex {
namespace {

using namespace std::chrono_literals;

class TextSink final : public NoticeSink {
public:
    void Post(NoticeId, std::string_view payload) override {
        std::lock_guard guard(lock);
        texts.emplace_back(payload);
    }
    bool PostAndWait(NoticeId id, std::string_view payload, std::chrono::milliseconds) override {
        Post(id, payload);
        return true;
    }
    bool Saw(std::string_view end) {
        std::lock_guard guard(lock);
        for (const std::string& text : texts) {
            if (text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0) return true;
        }
        return false;
    }
    std::mutex lock;
    std::vector<std::string> texts;
};

// Each test has a queue of its own folder: no process state to set or reset.
class QueueItemRemovalTest : public ::testing::Test {
protected:
    void Write(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
    testing::TempFolder folder;
    OutgoingQueue queue{folder.path()};
};

TEST_F(QueueItemRemovalTest, OnlyBareNamesInsideTheQueue) {
    const std::pair<const char*, bool> names[] = {{"mail1.dat", true}, {"", false},       {".", false},
                                                  {"..", false},       {"../x", false},   {"a/b", false},
                                                  {"..mail", true}};
    for (const auto& [name, bare] : names) EXPECT_EQ(IsBareQueueFileName(name), bare) << name;

    MakeFolders(queue.folder());
    Write(folder.File("victim"), "keep");
    for (const auto& [id, file] : std::vector<std::pair<int, std::string>>{{3, "../victim"}, {4, ""}, {5, ".."}}) {
        Write(queue.RecordPath(id), "[Info]\r\nDestAddr=x@remote.test\r\nMailFile=" + file + "\r\n");
        EXPECT_TRUE(queue.CancelQueuedItem(id)) << id;
        EXPECT_FALSE(FileExists(queue.RecordPath(id))) << id;
    }
    EXPECT_TRUE(FileExists(folder.File("victim")));
    EXPECT_FALSE(queue.CancelQueuedItem(3)) << "nothing left to remove";
    EXPECT_FALSE(queue.CancelQueuedItem(0));
}

TEST_F(QueueItemRemovalTest, AnAttemptInProgressEndsAsRemovedByAdmin) {
    const std::string message = folder.File("m.eml");
    Write(message, "Subject: s\r\n\r\nbody\r\n");
    std::mutex lock;
    std::condition_variable changed;
    bool delivering = false;
    bool release = false;
    TextSink notices;
    SenderOptions options;
    options.thread_count = 1;
    options.notices = &notices;
    options.retry_interval_ms = 60000;
    options.deliver = [&](std::string_view, std::string_view, const std::string&, std::string& outcome) {
        std::unique_lock guard(lock);
        delivering = true;
        changed.notify_all();
        changed.wait_for(guard, 10s, [&] { return release; });
        outcome = "451 try later";
        return outgoing::kFailedTemporary;
    };
    ServerRunFlag = 1;
    const int id = queue.Enqueue(message, "far@remote.test", "a@quorvex.test");
    ASSERT_GT(id, 0);
    queue.StartSenders(options);
    {
        std::unique_lock guard(lock);
        ASSERT_TRUE(changed.wait_for(guard, 10s, [&] { return delivering; }));
    }
    EXPECT_TRUE(queue.CancelQueuedItem(id));
    {
        std::lock_guard guard(lock);
        release = true;
    }
    changed.notify_all();
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!notices.Saw("FAILED: removed by admin") && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(queue.StopSenders(10s));
    ServerRunFlag = 0;
    EXPECT_TRUE(notices.Saw("FAILED: removed by admin"));
    EXPECT_FALSE(queue.HasQueuedMail());
    EXPECT_FALSE(FileExists(queue.RecordPath(id))) << "no record comes back";
    EXPECT_FALSE(FileExists(queue.MessagePath(id)));
}

}  // namespace
}  // namespace quorvex
