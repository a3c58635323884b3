// The collection scheduler walking a fake account list with a short tick.
#include "servers/jobs/RemoteCollectionScheduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>

#include "common/AccountName.h"
#include "common/AtomicFile.h"
#include "common/Paths.h"
#include "common/ServerSettings.h"
#include "mailmodel/account/AccountList.h"
#include "tests/support/TempFolder.h"
#include "tests/support/NetTestSupport.h"
#include "tests/support/ScopedProcessState.h"

namespace quorvex {
namespace {

using namespace std::chrono_literals;

class FakeAccounts : public CollectionAccounts {
public:
    int GetCount() const override { return static_cast<int>(names_.size()); }
    std::optional<std::string> GetName(int index) const override { return names_.at(static_cast<std::size_t>(index)); }
    bool IsGroup(std::string_view name) const override { return SameName(name, "staff"); }
    AccountPresence AccountExists(std::string_view name) const override {
        return SameName(name, "ghost") ? AccountPresence::kMissing : AccountPresence::kListed;
    }

private:
    std::vector<std::string> names_ = {"alice", "staff", "bob", "ghost", "carol"};
};

struct Collections {
    std::mutex mutex;
    std::vector<std::string> accounts;
    std::atomic<int> running{0};
    std::atomic<int> peak{0};
    std::vector<std::string> Seen() {
        std::lock_guard lock(mutex);
        return accounts;
    }
};

TEST(RemoteCollectionSchedulerTest, WalksAccountsOneAfterAnotherAndRepeats) {
    testing::RunFlagScope run;
    Collections collections;
    JobTable table;
    table.SetHandler(JOB_REMOTE_POP3, [&](Job& job) {
        const int now = ++collections.running;
        if (now > collections.peak) collections.peak = now;
        {
            std::lock_guard lock(collections.mutex);
            collections.accounts.push_back(job.account);
        }
        EXPECT_TRUE(job.client.empty());
        std::this_thread::yield();
        --collections.running;
    });
    table.CreateWorkerThreads();
    FakeAccounts accounts;
    std::atomic<bool> auto_receive{true};
    RemoteCollectionScheduler scheduler(table, accounts,
                                        {[&] { return auto_receive.load(); }, [] { return 1; }, 2ms});
    const auto started = std::chrono::steady_clock::now();
    scheduler.Start();
    ASSERT_TRUE(testing::WaitUntil([&] { return collections.Seen().size() >= 3; }));
    EXPECT_EQ(collections.Seen(), (std::vector<std::string>{"alice", "bob", "carol"}));
    // The next walk comes after 61 ticks.
    ASSERT_TRUE(testing::WaitUntil([&] { return collections.Seen().size() >= 6; }));
    EXPECT_GE(std::chrono::steady_clock::now() - started, 61 * 2ms);
    auto_receive = false;
    scheduler.Stop();
    EXPECT_EQ(collections.peak, 1);
    const auto seen = collections.Seen();
    EXPECT_EQ(std::vector<std::string>(seen.begin() + 3, seen.begin() + 6),
              (std::vector<std::string>{"alice", "bob", "carol"}));
}

TEST(RemoteCollectionSchedulerTest, SwitchedOffOnlyCounts) {
    testing::RunFlagScope run;
    std::atomic<int> collected{0};
    JobTable table;
    table.SetHandler(JOB_REMOTE_POP3, [&](Job&) { ++collected; });
    table.CreateWorkerThreads();
    FakeAccounts accounts;
    std::atomic<int> asked{0};
    RemoteCollectionScheduler scheduler(table, accounts, {[&] {
                                                              ++asked;
                                                              return false;
                                                          },
                                                          [] { return 0; }, 1ms});
    scheduler.Start();
    // With an interval of 0 the counter wraps every other tick and asks again.
    ASSERT_TRUE(testing::WaitUntil([&] { return asked >= 5; }));
    scheduler.Stop();
    EXPECT_EQ(collected, 0);
}

TEST(RemoteCollectionSchedulerTest, WalksTheProcessAccountList) {
    quorvex::testing::ScopedProcessState process_state;
    testing::RunFlagScope run;
    testing::TempFolder home;
    SetProgramFolder(home.path());
    for (const auto& [name, ini] : {std::pair<std::string, std::string>{"alice", ""}, {"staff", "IsGroup=1\r\n"},
                                    {"bob", ""}}) {
        const std::string folder = JoinPath(home.path(), "mail", name);
        ASSERT_TRUE(MakeFolders(folder));
        ASSERT_TRUE(AtomicWriteFile(JoinPath(folder, "maillist.ini"), "[System]\r\nVolume=20\r\n" + ini));
    }
    auto settings = std::make_shared<CServerSettings>();
    settings->AutoRecvPOP3 = 1;
    PublishSettings(settings);
    ASSERT_TRUE(Accounts().Load());
    Collections collections;
    JobTable table;
    table.SetHandler(JOB_REMOTE_POP3, [&](Job& job) {
        std::lock_guard lock(collections.mutex);
        collections.accounts.push_back(job.account);
    });
    table.CreateWorkerThreads();
    auto schedulers = StartCollectionSchedulers(table, 1);
    ASSERT_TRUE(testing::WaitUntil([&] { return collections.Seen().size() >= 2; }));
    schedulers.clear();
    auto seen = collections.Seen();
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::string>{"alice", "bob"}));
}

}  // namespace
}  // namespace quorvex
