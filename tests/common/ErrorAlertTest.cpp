// The error log's alert travels over the notice bus, one notice per line
// logged, and stays off when the language file renames the product.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "common/AtomicFile.h"
#include "common/ErrorAlert.h"
#include "common/ErrorLog.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/ServerSettings.h"
#include "support/TempFolder.h"

namespace quorvex {
namespace {

using namespace std::chrono_literals;

class ErrorAlertTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto settings = std::make_shared<CServerSettings>();
        settings->SetProgramFolder(temp_.path());
        settings->Language = "Test";
        PublishSettings(settings);
        bus_.Subscribe([this](const Notice& notice) {
            std::lock_guard lock(mutex_);
            received_.push_back(notice);
            cv_.notify_all();
        });
        InstallErrorAlert(bus_);
    }
    void TearDown() override {
        RemoveErrorAlert();
        bus_.Unsubscribe();
        PublishSettings(std::make_shared<CServerSettings>());
    }

    // Everything received up to a marker posted now: the bus keeps order,
    // so whatever the logging thread posted before is in the list.
    std::vector<Notice> ReceivedSoFar() {
        bus_.Post(NoticeId::WM_SHOW_MESSAGE, "marker");
        std::unique_lock lock(mutex_);
        EXPECT_TRUE(cv_.wait_for(lock, 5s, [&] {
            return !received_.empty() && received_.back().payload == "marker";
        }));
        std::vector<Notice> notices(received_.begin(), received_.end() - 1);
        received_.clear();
        return notices;
    }

    testing::TempFolder temp_;
    NoticeBus bus_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<Notice> received_;
};

TEST_F(ErrorAlertTest, EveryLoggedLineRaisesTheAlert) {
    for (int i = 0; i < 10; ++i) QUORVEX_ERROR_LOG("Buffer overflow");
    const auto notices = ReceivedSoFar();
    ASSERT_EQ(notices.size(), 10u);
    for (const Notice& notice : notices) {
        EXPECT_EQ(notice.id, NoticeId::WM_ERROR_ALERT);
        EXPECT_EQ(notice.payload, kErrorAlertCaption);
    }
}

TEST_F(ErrorAlertTest, RenamedProductSwitchesTheAlertOff) {
    MakeFolders(temp_.File("Language"));
    ASSERT_TRUE(AtomicWriteFile(temp_.File("Language/Test.ini"), "[String]\r\nQuorvexServer=Mail Service\r\n"));
    ProfileFile::ClearCache();
    EXPECT_FALSE(ErrorAlertEnabled());
    QUORVEX_ERROR_LOG("still logged");
    EXPECT_TRUE(ReceivedSoFar().empty());
    std::string log;
    ASSERT_TRUE(ReadWholeFile(temp_.File("log/quorvexlog.txt"), log));
    EXPECT_NE(log.find("still logged"), std::string::npos);

    // A translation that keeps the name keeps the alert.
    ASSERT_TRUE(AtomicWriteFile(temp_.File("Language/Test.ini"), "[String]\r\nQuorvexServer=QuorvexServer Pro\r\n"));
    ProfileFile::ClearCache();
    QUORVEX_ERROR_LOG("again");
    EXPECT_EQ(ReceivedSoFar().size(), 1u);
}

TEST_F(ErrorAlertTest, RemovedAlertRaisesNothing) {
    RemoveErrorAlert();
    QUORVEX_ERROR_LOG("quiet");
    EXPECT_TRUE(ReceivedSoFar().empty());
}

}  // namespace
}  // namespace quorvex
