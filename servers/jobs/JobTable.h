// The job table: every accepted connection and every remote-collection run
// becomes a job in one of 100 slots, and slot i is run by worker thread i.
// It enforces three limits: at most 100 jobs at once, at most
// "MaxConnectionPerIP" (else 50) SMTP, POP3 and account-server jobs per
// client address together, one collection job per account. It also keeps
// the slots for clients at work: the idle limit of every line is 60 s, and
// 10 s while 80 or more slots are busy; while busy, a session that has
// made no progress for 10 s is closed and no client address holds more
// than its share of the slots; a full table closes the slowest session
// (by the bytes its client really moved, whatever it is doing) for a new
// connection or refuses it at once, and never one that moves data at a
// real client's pace; an address whose sessions were closed for load is
// held to these rules for a while; and no connection lasts beyond the
// session deadline. A client address is counted as the login guard counts
// it: an IPv6 client by its /64 network. Workers and waiting callers block on
// condition variables; no lock is held while a job runs or while anyone
// waits.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
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
#include "common/net/SessionActivity.h"
#include "servers/jobs/ByteWindow.h"
#include "servers/jobs/SlotLoad.h"

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

// Why EnqueueJob refused a job.
enum class JobRefusal {
    kNone,
    kLimit,     // the address's connection limit, or the account's collection
    kBusy,      // every slot busy and no session idle long enough to make room
    kStopping,  // shutdown, ServerRunFlag cleared or the caller's stop
};

// What a caller hands to EnqueueJob. The socket moves into the table only
// when the job is accepted; on refusal the caller still owns it.
struct JobRequest {
    JobKind kind = JOB_SMTP;
    PeerAddress client;   // all zero for a remote collection
    UniqueFd socket;      // not used by a remote collection
    std::string account;  // JOB_REMOTE_POP3 only
    JobRefusal refusal = JobRefusal::kNone;  // set when EnqueueJob returns -1
};

// The job as its worker runs it. The handler owns the socket for the length
// of the job; whatever it leaves open is closed when it returns.
struct Job {
    int slot = -1;
    JobKind kind = JOB_SMTP;
    PeerAddress client;
    // The client is a web-mail front end, that speaks for its users: the
    // table's one answer, which the session's log lines, logins and slot
    // key all follow (ConnectionClient).
    bool from_web_mail = false;
    UniqueFd socket;
    std::string account;
    IdleLimit idle_limit;  // the session's current idle limit (the table's)
    SessionActivity* activity = &NoSessionActivity();  // the slot's accounting
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
    // serve all their users and are not limited, and whose sessions may
    // name the client they speak for. Empty: [WebMail] "IP".
    std::function<bool(const PeerAddress&)> is_web_mail;
    std::chrono::milliseconds idle_limit = kSessionIdleLimit;
    std::chrono::milliseconds busy_idle_limit = kBusyIdleLimit;
    int busy_slots = kBusySlots;
    int calm_slots = kCalmSlots;
    int address_share = kAddressShare;
    std::chrono::milliseconds address_hold = kAddressHold;
    std::chrono::milliseconds make_room_idle = kMakeRoomIdle;
    std::chrono::milliseconds session_deadline = kSessionDeadline;
    // Where the start and the end of the busy limit, and each episode of
    // sessions closed or connections refused for load, are reported.
    // Empty: the system log and standard error.
    std::function<void(std::string_view)> load_log;
    // The clock of progress, idleness and deadlines. Empty: steady_clock.
    std::function<LoadClock::time_point()> clock;
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
    // with the reason in `request.refusal`: the per-address limit, a second
    // collection for the account, a full table (connections), the table
    // shut down, ServerRunFlag cleared or `stop` requested. A connection
    // never waits for a slot beyond the moment it takes to close the
    // session idle longest; a collection waits while the table is full.
    // On success the request's socket has moved into the table.
    int EnqueueJob(JobRequest& request, std::stop_token stop = {});

    // One look of the slot watch, which runs every second: closes sessions
    // past the deadline, and while busy those idle too long and those of an
    // address beyond its share.
    void WatchSlots();

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
        std::string key;  // the client address the slot counts against
        bool closing = false;
    };
    SlotView Slot(int index) const;

private:
    enum class SlotState { kFree, kQueued, kRunning };
    // The reports of the session in one slot.
    class SlotActivity final : public SessionActivity {
    public:
        void Progress() override;
        void Waiting(bool waiting) override;
        void Received(std::uint64_t bytes) override;
        void Sent(std::uint64_t bytes) override;
        void ForwardedClient(std::string_view address) override;
        JobTable* table = nullptr;
        int index = -1;
    };
    struct JobSlot {
        SlotState state = SlotState::kFree;
        JobKind kind = JOB_SMTP;
        bool address_limited = false;  // counts toward its address's limit
        std::string limit_key;         // the connection's address, as the limit counts it
        bool from_web_mail = false;    // may name the client it forwards
        PeerAddress client;
        UniqueFd socket;
        std::string account;
        std::condition_variable job_ready;  // wakes this slot's worker
        // Load accounting: the connection's descriptor (in the slot or in
        // its running job, -1 for a collection), the address it counts
        // against, when it was taken, its last progress (clock ticks), the
        // bytes its connection moved in the window and whether its session
        // waits for the client. The session adds to the totals received and
        // sent; the table moves them into the window (CountMoved), the sent
        // ones as the client takes them.
        int fd = -1;
        bool closing = false;
        LoadClock::time_point closing_since{};
        std::string key;
        LoadClock::time_point taken{};
        std::atomic<LoadClock::rep> progress{0};
        ByteWindow moved;
        std::atomic<std::uint64_t> received{0};
        std::atomic<std::uint64_t> sent{0};
        std::uint64_t counted_received = 0;  // of the totals, already in the window
        std::uint64_t counted_taken = 0;
        std::atomic<bool> waiting{false};
        SlotActivity activity;
    };
    using Lines = std::vector<std::string>;

    void JobWorkerThread(int index);
    void WatchThread(std::stop_token stop);
    void RunJob(Job& job);
    void ReleaseJobSlot(int index);  // with JobTableLock held
    // With JobTableLock held; `limit` is the request's per-address limit,
    // 0 for none.
    bool Refused(const JobRequest& request, const std::string& key, int limit) const;
    bool Stopping() const;  // with JobTableLock held
    // With JobTableLock held: switches the busy limit on or off as the
    // number of busy slots says; the line to report when it changed.
    std::optional<std::string> UpdateLoad();
    void ReportLoad(const Lines& lines) const;  // without the lock
    LoadClock::time_point Now() const;
    // With JobTableLock held: puts the bytes every connection moved since
    // the last count into its window, those sent once its client took them
    // (what the socket still holds unsent or unacknowledged is not taken).
    void CountMoved(LoadClock::time_point now);
    // With JobTableLock held.
    std::array<SlotUse, kJobSlotCount> Picture(LoadClock::time_point now) const;
    int FirstFreeSlot() const;  // the lowest, or -1
    int FillSlot(JobRequest& request, int index, const std::string& key, bool address_limited, bool from_web_mail,
                 Lines& lines);
    void CloseSession(int index);
    void CloseForLoad(int index, LoadClock::time_point now);  // and holds its address
    void ForgetHolds(LoadClock::time_point now);              // those that ended
    void EnforceLoad(LoadClock::time_point now, Lines& lines);  // all the rules
    void EnforceShare(LoadClock::time_point now, Lines& lines);
    // True when `what` begins a new episode: nothing of it was reported
    // within the quiet time before `now`.
    bool NewEpisode(const std::string& what, LoadClock::time_point now);

    JobTableOptions options_;
    std::array<JobHandler, kJobKindCount> handlers_;
    mutable std::mutex JobTableLock;
    std::array<JobSlot, kJobSlotCount> slots_;
    std::condition_variable_any slot_freed_;  // wakes waiting enqueues and collection waits
    bool shutting_down_ = false;
    int active_jobs_ = 0;
    int busy_slots_ = 0;  // slots not free
    std::atomic<bool> busy_{false};
    // Addresses whose sessions were closed for load: until the time given,
    // held to their share, their idle sessions closed as under load, their
    // waiting sessions give room to others at once, and their new
    // connections never make room.
    std::map<std::string, LoadClock::time_point> held_;
    std::map<std::string, LoadClock::time_point> episodes_;  // what -> last seen
    std::vector<std::thread> workers_;
    std::jthread watch_;
};

}  // namespace quorvex
