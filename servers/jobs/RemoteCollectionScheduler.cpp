// The scheduler's seconds counter and its walk over the account list.
#include "servers/jobs/RemoteCollectionScheduler.h"

#include <condition_variable>
#include <mutex>

#include "common/RunFlag.h"
#include "common/ServerSettings.h"
#include "mailmodel/account/AccountConfig.h"
#include "mailmodel/account/AccountList.h"

namespace quorvex {

int AccountListCollectionAccounts::GetCount() const { return Accounts().GetCount(); }

std::optional<std::string> AccountListCollectionAccounts::GetName(int index) const { return Accounts().GetName(index); }

bool AccountListCollectionAccounts::IsGroup(std::string_view name) const { return Accounts().IsGroup(name) != 0; }

AccountPresence AccountListCollectionAccounts::AccountExists(std::string_view name) const {
    return quorvex::AccountExists(name);
}

std::vector<std::unique_ptr<RemoteCollectionScheduler>> StartCollectionSchedulers(JobTable& jobs, int count) {
    static const AccountListCollectionAccounts accounts;  // stateless: reads the process's list
    std::vector<std::unique_ptr<RemoteCollectionScheduler>> schedulers;
    for (int i = 0; i < count; ++i) {
        schedulers.push_back(std::make_unique<RemoteCollectionScheduler>(jobs, accounts));
        schedulers.back()->Start();
    }
    return schedulers;
}

RemoteCollectionScheduler::RemoteCollectionScheduler(JobTable& jobs, const CollectionAccounts& accounts,
                                                     CollectionSchedule schedule)
    : jobs_(jobs), accounts_(accounts), schedule_(std::move(schedule)) {}

void RemoteCollectionScheduler::Start() {
    if (thread_.joinable()) return;
    thread_ = std::jthread([this](std::stop_token stop) { Run(stop); });
}

void RemoteCollectionScheduler::Stop() {
    if (!thread_.joinable()) return;
    thread_.request_stop();
    thread_.join();
}

bool RemoteCollectionScheduler::AutoReceive() const {
    return schedule_.auto_receive ? schedule_.auto_receive() : Settings()->AutoRecvPOP3 != 0;
}

int RemoteCollectionScheduler::IntervalMinutes() const {
    return schedule_.interval_minutes ? schedule_.interval_minutes() : Settings()->TimeIntervalRecvPOP3;
}

void RemoteCollectionScheduler::Run(std::stop_token stop) {
    std::mutex mutex;
    std::condition_variable_any ticker;  // only a stop request wakes it early
    long long seconds = 0;
    while (!stop.stop_requested() && ServersRunning()) {
        if (seconds == 0 && AutoReceive()) Walk(stop);
        std::unique_lock lock(mutex);
        ticker.wait_for(lock, stop, schedule_.tick, [] { return false; });
        // A walk every interval x 60 + 1 seconds, counted from the end of
        // the previous walk.
        if (++seconds > static_cast<long long>(IntervalMinutes()) * 60) seconds = 0;
    }
}

void RemoteCollectionScheduler::Walk(std::stop_token stop) {
    for (int index = 0; index < accounts_.GetCount(); ++index) {
        if (stop.stop_requested() || !ServersRunning()) return;
        const std::optional<std::string> name = accounts_.GetName(index);
        if (!name || accounts_.IsGroup(*name) || accounts_.AccountExists(*name) != AccountPresence::kListed) continue;
        if (!AutoReceive()) continue;
        JobRequest request;
        request.kind = JOB_REMOTE_POP3;
        request.account = *name;
        const int slot = jobs_.EnqueueJob(request, stop);
        // One collection at a time per scheduler: wait for this one to end.
        if (slot >= 0) jobs_.WaitForCollection(slot, *name, stop);
    }
}

}  // namespace quorvex
