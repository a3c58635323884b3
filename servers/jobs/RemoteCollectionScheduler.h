// Timed collection from the accounts' remote POP3 boxes: with "AutoRecvPOP3"
// on, a scheduler walks the account list and queues one collection job per
// account, one after the other, then waits "TimeIntervalRecvPOP3" minutes
// before the next walk. Several schedulers may walk at once; the job table
// refuses a second job for an account, so each account is collected once.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "mailmodel/account/AccountPresence.h"
#include "servers/jobs/JobTable.h"

namespace quorvex {

// The account list as a scheduler walks it.
class CollectionAccounts {
public:
    virtual ~CollectionAccounts() = default;
    virtual int GetCount() const = 0;
    virtual std::optional<std::string> GetName(int index) const = 0;
    virtual bool IsGroup(std::string_view name) const = 0;
    // AccountExists of the account store.
    virtual AccountPresence AccountExists(std::string_view name) const = 0;
};

// The process's account list (Accounts()) and account store.
class AccountListCollectionAccounts : public CollectionAccounts {
public:
    int GetCount() const override;
    std::optional<std::string> GetName(int index) const override;
    bool IsGroup(std::string_view name) const override;
    AccountPresence AccountExists(std::string_view name) const override;
};

struct CollectionSchedule {
    // "AutoRecvPOP3" and "TimeIntervalRecvPOP3" (minutes) of section "POP3",
    // read live. Empty: the current settings.
    std::function<bool()> auto_receive;
    std::function<int()> interval_minutes;
    // One step of the seconds counter (tests shorten it).
    std::chrono::milliseconds tick{1000};
};

class RemoteCollectionScheduler {
public:
    RemoteCollectionScheduler(JobTable& jobs, const CollectionAccounts& accounts, CollectionSchedule schedule = {});
    ~RemoteCollectionScheduler() { Stop(); }
    RemoteCollectionScheduler(const RemoteCollectionScheduler&) = delete;
    RemoteCollectionScheduler& operator=(const RemoteCollectionScheduler&) = delete;

    // The first walk starts at once; Stop ends the thread within a tick.
    void Start();
    void Stop();

private:
    void Run(std::stop_token stop);
    void Walk(std::stop_token stop);
    bool AutoReceive() const;
    int IntervalMinutes() const;

    JobTable& jobs_;
    const CollectionAccounts& accounts_;
    CollectionSchedule schedule_;
    std::jthread thread_;
};

// Starts `count` schedulers over the process's account list with the
// current settings ("POP3AutoRecvThreadNumber" of them at start-up). They
// stop when the returned objects go.
std::vector<std::unique_ptr<RemoteCollectionScheduler>> StartCollectionSchedulers(JobTable& jobs, int count);

}  // namespace quorvex
