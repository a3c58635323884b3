// The job table: every accepted connection and every remote-collection run
// becomes a job in one of 100 slots, and slot i is run by worker thread i.
// It enforces three limits: at most 100 jobs at once, at most
// "MaxConnectionPerIP" (else 50) SMTP, POP3 and account-server jobs per
// client address together, one collection job per account. It also sets
// the idle limit of every session: 60 s, and 10 s while 80 or more slots
// are busy, so that idle clients cannot keep everyone else out. Workers
// and waiting callers block on condition variables; no lock is held while
// a job runs or while anyone waits.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/UniqueFd.h"
#include "common/net/LineReader.h"
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

// Concurrent sessions of one client address when "MaxConnectionPerIP" is
// not set (negative).
inline constexpr int kDefaultConnectionsPerAddress = 50;
// The idle limit of a session, and the shorter one while the table is busy:
// from kBusySlots busy slots until fewer than kCalmSlots are (the gap keeps
// the limit from flapping at the edge).
inline constexpr std::chrono::milliseconds kSessionIdleLimit{60000};
inline constexpr std::chrono::milliseconds kBusyIdleLimit{10000};
inline constexpr int kBusySlots = 80;
inline constexpr int kCalmSlots = 70;

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
    IdleLimit idle_limit;  // the session's current idle limit (the table's)
};

using JobHandler = std::function<void(Job&)>;

struct JobTableOptions {
    // "MaxConnectionPerIP" of section "System", read at each enqueue of a
    // connection: the per-address limit when 0 or more (0 behaves as 1),
    // kDefaultConnectionsPerAddress when negative. Empty: the current
    // settings' value.
    std::function<int()> max_connections_per_ip;
    // Where a job that throws is reported (one line); the worker survives.
    // Empty: the error log.
    std::function<void(std::string_view)> error_log;
    // The web-mail front ends, whose POP3 and account-server connections
    // serve all their users and are not limited. Empty: [WebMail] "IP".
    std::function<bool(const PeerAddress&)> is_web_mail;
    std::chrono::milliseconds idle_limit = kSessionIdleLimit;
    std::chrono::milliseconds busy_idle_limit = kBusyIdleLimit;
    int busy_slots = kBusySlots;
    int calm_slots = kCalmSlots;
    // Where the start and the end of the busy limit are reported. Empty:
    // the system log and standard error.
    std::function<void(std::string_view)> load_log;
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

    // The idle limit every session has now: shorter while the table is busy.
    std::chrono::milliseconds CurrentIdleLimit() const;

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
        bool address_limited = false;  // counts toward its address's limit
        PeerAddress client;
        UniqueFd socket;
        std::string account;
        std::condition_variable job_ready;  // wakes this slot's worker
    };

    void JobWorkerThread(int index);
    void RunJob(Job& job);
    void ReleaseJobSlot(int index);  // with JobTableLock held
    // With JobTableLock held; `limit` is the request's per-address limit,
    // 0 for none.
    bool Refused(const JobRequest& request, int limit) const;
    bool Stopping() const;  // with JobTableLock held
    // With JobTableLock held: switches the busy limit on or off as the
    // number of busy slots says; the line to report when it changed.
    std::optional<std::string> UpdateLoad();
    void ReportLoad(const std::optional<std::string>& line) const;  // without the lock

    JobTableOptions options_;
    std::array<JobHandler, kJobKindCount> handlers_;
    mutable std::mutex JobTableLock;
    std::array<JobSlot, kJobSlotCount> slots_;
    std::condition_variable_any slot_freed_;  // wakes waiting enqueues and collection waits
    bool shutting_down_ = false;
    int active_jobs_ = 0;
    int busy_slots_ = 0;  // slots not free
    std::atomic<bool> busy_{false};
    std::vector<std::thread> workers_;
};

}  // namespace quorvex
