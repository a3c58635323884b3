// The job table: every accepted connection and every remote-collection run
// becomes a job in one of 100 slots, and slot i is run by worker thread i.
// It enforces three limits: at most 100 jobs at once, at most
// "MaxConnectionPerIP" SMTP jobs per client address, one collection job per
// account. Workers and waiting callers block on condition variables; no
// lock is held while a job runs or while anyone waits.
#pragma once

#include <array>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/UniqueFd.h"
#include "common/net/PeerAddress.h"

namespace quorvex {

enum JobKind : int {
    JOB_SMTP = 0,
    JOB_POP3 = 1,
    JOB_ACCOUNT_SERVER = 2,
    JOB_REMOTE_POP3 = 3,
};
inline constexpr int kJobKindCount = 4;

inline constexpr int kJobSlotCount = 100;

// What a caller hands to EnqueueJob. The socket moves into the table only
// when the job is accepted; on refusal the caller still owns it.
struct JobRequest {
    JobKind kind = JOB_SMTP;
    PeerAddress client;   // all zero for a remote collection
    UniqueFd socket;      // not used by a remote collection
    std::string account;  // JOB_REMOTE_POP3 only
};

// The job as its worker runs it. The handler owns the socket for the length
// of the job; whatever it leaves open is closed when it returns.
struct Job {
    int slot = -1;
    JobKind kind = JOB_SMTP;
    PeerAddress client;
    UniqueFd socket;
    std::string account;
};

using JobHandler = std::function<void(Job&)>;

struct JobTableOptions {
    // "MaxConnectionPerIP" of section "System", read at each SMTP enqueue:
    // -1 (any negative) for no limit, 0 behaves as 1. Empty: the current
    // settings' value.
    std::function<int()> max_connections_per_ip;
    // Where a job that throws is reported (one line); the worker survives.
    // Empty: the error log.
    std::function<void(std::string_view)> error_log;
};

class JobTable {
public:
    explicit JobTable(JobTableOptions options = {});
    // Stops the workers (each finishes the job in hand) and closes the
    // sockets of jobs that never ran.
    ~JobTable();
    JobTable(const JobTable&) = delete;
    JobTable& operator=(const JobTable&) = delete;

    // The entry a worker calls for jobs of that kind. Set before the
    // workers start.
    void SetHandler(JobKind kind, JobHandler handler);

    // Starts the 100 workers, worker i serving slot i. Once only.
    void CreateWorkerThreads();

    // Stops and joins the workers; queued jobs that did not start are
    // dropped with their sockets. Enqueue calls waiting for a slot return -1.
    void Shutdown();

    // Puts the job into the lowest free slot and returns its index, or -1
    // when it is refused (per-address SMTP limit, a second collection for
    // the account), the table is shut down, ServerRunFlag is cleared or
    // `stop` is requested while every slot is busy. Waits while the table is
    // full. On success the request's socket has moved into the table.
    int EnqueueJob(JobRequest& request, std::stop_token stop = {});

    // Number of workers running a job right now.
    int ActiveJobCount() const;

    // Waits until `slot` no longer holds a collection job for `account`
    // (it finished), or until `stop`, the shutdown or ServerRunFlag ends the
    // wait. True when the job finished.
    bool WaitForCollection(int slot, std::string_view account, std::stop_token stop = {});

    // A copy of one slot, for tests and the status display.
    struct SlotView {
        bool busy = false;
        JobKind kind = JOB_SMTP;
        PeerAddress client;
        std::string account;
    };
    SlotView Slot(int index) const;

private:
    enum class SlotState { kFree, kQueued, kRunning };
    struct JobSlot {
        SlotState state = SlotState::kFree;
        JobKind kind = JOB_SMTP;
        PeerAddress client;
        UniqueFd socket;
        std::string account;
        std::condition_variable job_ready;  // wakes this slot's worker
    };

    void JobWorkerThread(int index);
    void RunJob(Job& job);
    void ReleaseJobSlot(int index);  // with JobTableLock held
    bool Refused(const JobRequest& request) const;  // with JobTableLock held
    bool Stopping() const;  // with JobTableLock held

    JobTableOptions options_;
    std::array<JobHandler, kJobKindCount> handlers_;
    mutable std::mutex JobTableLock;
    std::array<JobSlot, kJobSlotCount> slots_;
    std::condition_variable_any slot_freed_;  // wakes waiting enqueues and collection waits
    bool shutting_down_ = false;
    int active_jobs_ = 0;
    std::vector<std::thread> workers_;
};

}  // namespace quorvex
