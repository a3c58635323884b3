// Slots, workers and the admission rules of the job table.
#include "servers/jobs/JobTable.h"

#include <algorithm>
#include <chrono>
#include <exception>

#include "common/AccountName.h"
#include "common/ErrorLog.h"
#include "common/ServerSettings.h"
#include "common/RunFlag.h"

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
    std::lock_guard lock(JobTableLock);
    for (int i = 0; i < kJobSlotCount; ++i) {
        if (slots_[i].state == SlotState::kQueued) ReleaseJobSlot(i);
    }
}

bool JobTable::Stopping() const { return shutting_down_ || !ServersRunning(); }

bool JobTable::Refused(const JobRequest& request) const {
    if (request.kind == JOB_SMTP) {
        const int limit =
            options_.max_connections_per_ip ? options_.max_connections_per_ip() : Settings()->MaxConnectionPerIP;
        if (limit < 0) return false;
        int count = 0;
        for (const JobSlot& slot : slots_) {
            if (slot.state != SlotState::kFree && slot.kind == JOB_SMTP && slot.client.SameHost(request.client)) {
                if (++count >= std::max(limit, 1)) return true;
            }
        }
        return false;
    }
    if (request.kind == JOB_REMOTE_POP3) {
        for (const JobSlot& slot : slots_) {
            if (slot.state != SlotState::kFree && slot.kind == JOB_REMOTE_POP3 && SameName(slot.account, request.account)) {
                return true;
            }
        }
    }
    return false;
}

int JobTable::EnqueueJob(JobRequest& request, std::stop_token stop) {
    std::unique_lock lock(JobTableLock);
    for (;;) {
        if (Stopping() || stop.stop_requested()) return -1;
        if (Refused(request)) return -1;
        for (int i = 0; i < kJobSlotCount; ++i) {
            JobSlot& slot = slots_[i];
            if (slot.state != SlotState::kFree) continue;
            slot.kind = request.kind;
            if (request.kind == JOB_REMOTE_POP3) {
                slot.account = request.account;
                slot.client = PeerAddress();
            } else {
                slot.account.clear();
                slot.client = request.client;
                slot.socket = std::move(request.socket);
            }
            slot.state = SlotState::kQueued;
            slot.job_ready.notify_one();
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
        slot.state = SlotState::kRunning;
        ++active_jobs_;
        lock.unlock();
        RunJob(job);
        job.socket.reset();  // the connection ends with its job
        lock.lock();
        ReleaseJobSlot(index);
        --active_jobs_;
        slot_freed_.notify_all();
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
