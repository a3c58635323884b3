// Slots, workers and the admission rules of the job table.
#include "servers/jobs/JobTable.h"

#include <algorithm>
#include <chrono>
#include <exception>

#include "common/AccountName.h"
#include "common/ErrorLog.h"
#include "common/ServerSettings.h"
#include "common/RunFlag.h"
#include "servers/address/AddressRules.h"
#include "servers/logs/ServerLogs.h"

namespace quorvex {
namespace {

// Longest wait without a look at ServerRunFlag.
constexpr auto kSlice = std::chrono::seconds(1);

}  // namespace

JobTable::JobTable(JobTableOptions options) : options_(std::move(options)) {}

JobTable::~JobTable() { Shutdown(); }

void JobTable::SetHandler(JobKind kind, JobHandler handler) { handlers_.at(kind) = std::move(handler); }

void JobTable::CreateWorkerThreads() {
    std::lock_guard lock(JobTableLock);
    if (!workers_.empty() || shutting_down_) return;
    workers_.reserve(kJobSlotCount);
    for (int i = 0; i < kJobSlotCount; ++i) workers_.emplace_back([this, i] { JobWorkerThread(i); });
}

void JobTable::Shutdown() {
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(JobTableLock);
        shutting_down_ = true;
        workers.swap(workers_);
        for (JobSlot& slot : slots_) slot.job_ready.notify_all();
    }
    slot_freed_.notify_all();
    for (std::thread& worker : workers) worker.join();
    std::optional<std::string> load_change;
    {
        std::lock_guard lock(JobTableLock);
        for (int i = 0; i < kJobSlotCount; ++i) {
            if (slots_[i].state == SlotState::kQueued) ReleaseJobSlot(i);
        }
        load_change = UpdateLoad();
    }
    ReportLoad(load_change);
}

bool JobTable::Stopping() const { return shutting_down_ || !ServersRunning(); }

bool JobTable::Refused(const JobRequest& request, int limit) const {
    if (request.kind == JOB_REMOTE_POP3) {
        for (const JobSlot& slot : slots_) {
            if (slot.state != SlotState::kFree && slot.kind == JOB_REMOTE_POP3 && SameName(slot.account, request.account)) {
                return true;
            }
        }
        return false;
    }
    if (limit <= 0) return false;
    int count = 0;
    for (const JobSlot& slot : slots_) {
        if (slot.state != SlotState::kFree && slot.address_limited && slot.client.SameHost(request.client)) {
            if (++count >= limit) return true;
        }
    }
    return false;
}

std::optional<std::string> JobTable::UpdateLoad() {
    const bool busy = busy_.load();
    if (!busy && busy_slots_ >= options_.busy_slots) {
        busy_ = true;
        return "server busy: " + std::to_string(busy_slots_) + " of " + std::to_string(kJobSlotCount) +
               " job slots in use; idle clients are dropped after " +
               std::to_string(options_.busy_idle_limit.count() / 1000) + " s";
    }
    if (busy && busy_slots_ < options_.calm_slots) {
        busy_ = false;
        return "server load normal again: " + std::to_string(busy_slots_) + " of " + std::to_string(kJobSlotCount) +
               " job slots in use; idle limit " + std::to_string(options_.idle_limit.count() / 1000) + " s";
    }
    return std::nullopt;
}

void JobTable::ReportLoad(const std::optional<std::string>& line) const {
    if (!line) return;
    if (options_.load_log) {
        options_.load_log(*line);
    } else {
        WriteSystemLogAndStderr(*line);
    }
}

std::chrono::milliseconds JobTable::CurrentIdleLimit() const {
    return busy_.load() ? options_.busy_idle_limit : options_.idle_limit;
}

int JobTable::EnqueueJob(JobRequest& request, std::stop_token stop) {
    // Worked out before the lock is taken (they read the settings): whether
    // the request counts toward its address's limit, and that limit.
    const bool web_mail = request.kind != JOB_SMTP && request.kind != JOB_REMOTE_POP3 &&
                          (options_.is_web_mail ? options_.is_web_mail(request.client)
                                                : IsWebMailAddress(request.client.HostText()) != 0);
    const bool address_limited = request.kind != JOB_REMOTE_POP3 && !web_mail && !request.client.empty();
    int limit = 0;
    if (address_limited) {
        const int setting =
            options_.max_connections_per_ip ? options_.max_connections_per_ip() : Settings()->MaxConnectionPerIP;
        limit = setting < 0 ? kDefaultConnectionsPerAddress : std::max(setting, 1);
    }
    std::unique_lock lock(JobTableLock);
    for (;;) {
        if (Stopping() || stop.stop_requested()) return -1;
        if (Refused(request, limit)) return -1;
        for (int i = 0; i < kJobSlotCount; ++i) {
            JobSlot& slot = slots_[i];
            if (slot.state != SlotState::kFree) continue;
            slot.kind = request.kind;
            slot.address_limited = address_limited;
            if (request.kind == JOB_REMOTE_POP3) {
                slot.account = request.account;
                slot.client = PeerAddress();
            } else {
                slot.account.clear();
                slot.client = request.client;
                slot.socket = std::move(request.socket);
            }
            slot.state = SlotState::kQueued;
            ++busy_slots_;
            const std::optional<std::string> load_change = UpdateLoad();
            slot.job_ready.notify_one();
            lock.unlock();
            ReportLoad(load_change);
            return i;
        }
        // Every slot is busy: wait for one to be released.
        slot_freed_.wait_for(lock, stop, kSlice, [this] {
            return Stopping() || std::any_of(slots_.begin(), slots_.end(),
                                             [](const JobSlot& slot) { return slot.state == SlotState::kFree; });
        });
    }
}

void JobTable::JobWorkerThread(int index) {
    JobSlot& slot = slots_[index];
    std::unique_lock lock(JobTableLock);
    for (;;) {
        slot.job_ready.wait_for(lock, kSlice, [&] { return slot.state == SlotState::kQueued || Stopping(); });
        if (Stopping()) return;
        if (slot.state != SlotState::kQueued) continue;
        Job job;
        job.slot = index;
        job.kind = slot.kind;
        job.client = slot.client;
        job.socket = std::move(slot.socket);
        job.account = slot.account;
        job.idle_limit = [this] { return CurrentIdleLimit(); };
        slot.state = SlotState::kRunning;
        ++active_jobs_;
        lock.unlock();
        RunJob(job);
        job.socket.reset();  // the connection ends with its job
        lock.lock();
        ReleaseJobSlot(index);
        --active_jobs_;
        const std::optional<std::string> load_change = UpdateLoad();
        slot_freed_.notify_all();
        if (load_change) {
            lock.unlock();
            ReportLoad(load_change);
            lock.lock();
        }
    }
}

void JobTable::RunJob(Job& job) {
    const JobHandler& handler = handlers_[job.kind];
    std::string failure;
    if (!handler) {
        failure = "no handler for this kind of job";
    } else {
        try {
            handler(job);
        } catch (const std::exception& error) {
            failure = error.what();
        } catch (const char* text) {
            failure = text != nullptr ? text : "";
        } catch (...) {
            failure = "unknown exception";
        }
    }
    if (failure.empty()) return;
    const std::string line =
        "job slot=" + std::to_string(job.slot) + " kind=" + std::to_string(job.kind) + " failed: " + failure;
    if (options_.error_log) {
        options_.error_log(line);
    } else {
        WriteErrorLog(__FILE__, __LINE__, line);
    }
}

void JobTable::ReleaseJobSlot(int index) {
    JobSlot& slot = slots_[index];
    if (slot.state != SlotState::kFree) --busy_slots_;
    slot.state = SlotState::kFree;
    slot.socket.reset();
    slot.account.clear();
    slot.client = PeerAddress();
}

int JobTable::ActiveJobCount() const {
    std::lock_guard lock(JobTableLock);
    return active_jobs_;
}

bool JobTable::WaitForCollection(int slot_index, std::string_view account, std::stop_token stop) {
    if (slot_index < 0 || slot_index >= kJobSlotCount) return true;
    const JobSlot& slot = slots_[slot_index];
    std::unique_lock lock(JobTableLock);
    const auto done = [&] {
        return slot.state == SlotState::kFree || slot.kind != JOB_REMOTE_POP3 || !SameName(slot.account, account);
    };
    while (!done()) {
        if (Stopping() || stop.stop_requested()) return false;
        slot_freed_.wait_for(lock, stop, kSlice, done);
    }
    return true;
}

JobTable::SlotView JobTable::Slot(int index) const {
    std::lock_guard lock(JobTableLock);
    const JobSlot& slot = slots_.at(index);
    return SlotView{slot.state != SlotState::kFree, slot.kind, slot.client, slot.account};
}

}  // namespace quorvex
