// Slots, workers and the admission rules of the job table.
#include "servers/jobs/JobTable.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <exception>

#include "common/AccountName.h"
#include "common/ErrorLog.h"
#include "common/ServerSettings.h"
#include "common/RunFlag.h"
#include "common/net/AddressKey.h"
#include "servers/address/AddressRules.h"
#include "servers/logins/ClientSource.h"
#include "servers/logs/ServerLogs.h"

namespace quorvex {
namespace {

// Longest wait without a look at ServerRunFlag, and the pace of the slot
// watch.
constexpr auto kSlice = std::chrono::seconds(1);

// Bytes a socket holds that its peer has not taken yet (not sent, or sent
// and not acknowledged); none when the descriptor cannot tell.
std::uint64_t NotTaken(int fd) {
    int waiting = 0;
    if (::ioctl(fd, SIOCOUTQ, &waiting) != 0 || waiting < 0) return 0;
    return static_cast<std::uint64_t>(waiting);
}

std::string Seconds(LoadClock::duration d) {
    return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(d).count()) + " s";
}

}  // namespace

JobTable::JobTable(JobTableOptions options) : options_(std::move(options)) {
    for (int i = 0; i < kJobSlotCount; ++i) {
        slots_[i].activity.table = this;
        slots_[i].activity.index = i;
    }
}

JobTable::~JobTable() { Shutdown(); }

void JobTable::SetHandler(JobKind kind, JobHandler handler) { handlers_.at(kind) = std::move(handler); }

void JobTable::CreateWorkerThreads() {
    std::lock_guard lock(JobTableLock);
    if (!workers_.empty() || shutting_down_) return;
    workers_.reserve(kJobSlotCount);
    for (int i = 0; i < kJobSlotCount; ++i) workers_.emplace_back([this, i] { JobWorkerThread(i); });
    watch_ = std::jthread([this](std::stop_token stop) { WatchThread(stop); });
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
    if (watch_.joinable()) {
        watch_.request_stop();
        watch_.join();
    }
    for (std::thread& worker : workers) worker.join();
    Lines lines;
    {
        std::lock_guard lock(JobTableLock);
        for (int i = 0; i < kJobSlotCount; ++i) {
            if (slots_[i].state == SlotState::kQueued) ReleaseJobSlot(i);
        }
        if (auto line = UpdateLoad()) lines.push_back(std::move(*line));
    }
    ReportLoad(lines);
}

bool JobTable::Stopping() const { return shutting_down_ || !ServersRunning(); }

bool JobTable::Refused(const JobRequest& request, const std::string& key, int limit) const {
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
        if (slot.state != SlotState::kFree && slot.address_limited && slot.limit_key == key) {
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

void JobTable::ReportLoad(const Lines& lines) const {
    for (const std::string& line : lines) {
        if (options_.load_log) {
            options_.load_log(line);
        } else {
            WriteSystemLogAndStderr(line);
        }
    }
}

int JobTable::FirstFreeSlot() const {
    for (int i = 0; i < kJobSlotCount; ++i) {
        if (slots_[i].state == SlotState::kFree) return i;
    }
    return -1;
}

LoadClock::time_point JobTable::Now() const { return options_.clock ? options_.clock() : LoadClock::now(); }

void JobTable::CountMoved(LoadClock::time_point now) {
    for (JobSlot& slot : slots_) {
        if (slot.state == SlotState::kFree || slot.fd < 0) continue;
        const std::uint64_t received = slot.received.load(std::memory_order_relaxed);
        // The total first, then what the socket still holds: a send between
        // the two can only make this count low, never high, until the next.
        const std::uint64_t sent = slot.sent.load(std::memory_order_relaxed);
        const std::uint64_t held = NotTaken(slot.fd);
        const std::uint64_t taken = std::max(slot.counted_taken, sent - std::min(sent, held));
        slot.moved.Add(now, received - slot.counted_received + (taken - slot.counted_taken));
        slot.counted_received = received;
        slot.counted_taken = taken;
    }
}

std::array<SlotUse, kJobSlotCount> JobTable::Picture(LoadClock::time_point now) const {
    std::array<SlotUse, kJobSlotCount> picture;
    for (int i = 0; i < kJobSlotCount; ++i) {
        const JobSlot& slot = slots_[i];
        SlotUse& use = picture[i];
        use.busy = slot.state != SlotState::kFree;
        if (!use.busy) continue;
        use.connection = slot.fd >= 0;
        use.closing = slot.closing;
        use.closing_since = slot.closing_since;
        use.waiting = slot.waiting.load();
        use.held = held_.contains(slot.key);
        use.key = slot.key;
        use.taken = slot.taken;
        use.progress = LoadClock::time_point(LoadClock::duration(slot.progress.load()));
        use.moved = slot.moved.Sum(now);
    }
    return picture;
}

void JobTable::CloseSession(int index) {
    JobSlot& slot = slots_[index];
    if (slot.state == SlotState::kFree || slot.closing || slot.fd < 0) return;
    slot.closing = true;
    slot.closing_since = Now();
    // The session sees its client gone, as after a time-out, and ends; the
    // worker closes the descriptor.
    ::shutdown(slot.fd, SHUT_RDWR);
}

bool JobTable::NewEpisode(const std::string& what, LoadClock::time_point now) {
    const auto quiet = options_.address_hold;
    if (episodes_.size() > 256) {
        std::erase_if(episodes_, [&](const auto& entry) { return now - entry.second >= quiet; });
    }
    const auto [entry, added] = episodes_.try_emplace(what, now);
    const bool fresh = added || now - entry->second >= quiet;
    entry->second = now;
    return fresh;
}

void JobTable::EnforceLoad(LoadClock::time_point now, Lines& lines) {
    CountMoved(now);
    for (const int i : PastDeadline(Picture(now), now, options_.session_deadline)) {
        if (NewEpisode("deadline", now)) {
            lines.push_back("job slots: a session of " + slots_[i].key + " reached the deadline of " +
                            Seconds(options_.session_deadline) + " and is closed");
        }
        CloseSession(i);
    }
    // Idle sessions go while the table is busy, and those of a held
    // address as long as it is held.
    const bool busy = busy_.load();
    ForgetHolds(now);
    for (const int i : IdleSessions(Picture(now), now, options_.busy_idle_limit)) {
        if (busy || held_.contains(slots_[i].key)) CloseForLoad(i, now);
    }
    EnforceShare(now, lines);
}

void JobTable::EnforceShare(LoadClock::time_point now, Lines& lines) {
    const bool busy = busy_.load();
    for (const ShareExcess& excess : OverShare(Picture(now), options_.address_share)) {
        if (!busy && !held_.contains(excess.key)) continue;
        if (NewEpisode("share " + excess.key, now)) {
            lines.push_back("job slots: " + excess.key + " holds " + std::to_string(excess.held) + " of " +
                            std::to_string(kJobSlotCount) + " slots under load; its sessions beyond " +
                            std::to_string(options_.address_share) + " are closed, the longest-held first");
        }
        for (const int i : excess.close) CloseForLoad(i, now);
    }
}

void JobTable::ForgetHolds(LoadClock::time_point now) {
    std::erase_if(held_, [&](const auto& entry) { return entry.second <= now; });
}

void JobTable::CloseForLoad(int index, LoadClock::time_point now) {
    held_[slots_[index].key] = now + options_.address_hold;
    CloseSession(index);
}

void JobTable::WatchSlots() {
    Lines lines;
    {
        std::lock_guard lock(JobTableLock);
        EnforceLoad(Now(), lines);
    }
    ReportLoad(lines);
}

void JobTable::WatchThread(std::stop_token stop) {
    std::unique_lock lock(JobTableLock);
    for (;;) {
        slot_freed_.wait_for(lock, stop, kSlice, [this] { return shutting_down_; });
        if (stop.stop_requested() || shutting_down_) return;
        Lines lines;
        EnforceLoad(Now(), lines);
        if (lines.empty()) continue;
        lock.unlock();
        ReportLoad(lines);
        lock.lock();
    }
}

std::chrono::milliseconds JobTable::CurrentIdleLimit() const {
    return busy_.load() ? options_.busy_idle_limit : options_.idle_limit;
}

int JobTable::EnqueueJob(JobRequest& request, std::stop_token stop) {
    request.refusal = JobRefusal::kNone;
    // Worked out before the lock is taken (they read the settings): whether
    // the request comes from a web-mail front end, whether it counts toward
    // its address's limit, and that limit.
    const bool connection = request.kind != JOB_REMOTE_POP3;
    const bool from_web_mail = connection && !request.client.empty() &&
                               (options_.is_web_mail ? options_.is_web_mail(request.client)
                                                     : IsWebMailAddress(request.client.HostText()) != 0);
    const bool address_limited = connection && !request.client.empty() && !(from_web_mail && request.kind != JOB_SMTP);
    int limit = 0;
    if (address_limited) {
        const int setting =
            options_.max_connections_per_ip ? options_.max_connections_per_ip() : Settings()->MaxConnectionPerIP;
        limit = setting < 0 ? kDefaultConnectionsPerAddress : std::max(setting, 1);
    }
    const std::string key = request.client.empty() ? std::string() : CountingKey(request.client.HostText());
    const auto give_up = std::chrono::steady_clock::now() + kRoomWait;
    Lines lines;
    std::unique_lock lock(JobTableLock);
    const auto refuse = [&](JobRefusal why) {
        request.refusal = why;
        lock.unlock();
        ReportLoad(lines);
        return -1;
    };
    for (;;) {
        if (Stopping() || stop.stop_requested()) return refuse(JobRefusal::kStopping);
        if (Refused(request, key, limit)) return refuse(JobRefusal::kLimit);
        const auto now = Now();
        ForgetHolds(now);
        // A free slot is taken without a picture of all the others: that
        // is every accept while the table is not full.
        const int free_index = FirstFreeSlot();
        if (free_index < 0 && connection) CountMoved(now);
        Admission admission = free_index >= 0 ? Admission{Admission::kFreeSlot, free_index}
                                              : Admit(Picture(now), now, options_.make_room_idle, !held_.contains(key));
        if (!connection && admission.kind != Admission::kFreeSlot) admission.kind = Admission::kWaitForRoom;
        switch (admission.kind) {
            case Admission::kFreeSlot: {
                const int slot = FillSlot(request, admission.slot, key, address_limited, from_web_mail, lines);
                lock.unlock();
                ReportLoad(lines);
                return slot;
            }
            case Admission::kMakeRoom:
                if (NewEpisode("make room", now)) {
                    lines.push_back("job slots: all " + std::to_string(kJobSlotCount) +
                                    " in use; the session idle longest is closed for each new connection (first " +
                                    slots_[admission.slot].key + ", idle " +
                                    Seconds(now - LoadClock::time_point(LoadClock::duration(
                                                      slots_[admission.slot].progress.load()))) +
                                    ", for " + key + ")");
                }
                CloseForLoad(admission.slot, now);
                break;
            case Admission::kWaitForRoom:
                if (connection && std::chrono::steady_clock::now() >= give_up) return refuse(JobRefusal::kBusy);
                break;
            case Admission::kRefuse:
                if (NewEpisode("refuse", now)) {
                    lines.push_back("job slots: all " + std::to_string(kJobSlotCount) +
                                    " in use and no idle session may make room; new connections are refused (first " +
                                    key + ")");
                }
                return refuse(JobRefusal::kBusy);
        }
        // Wait for a slot to be released (a connection only as long as its
        // room takes to be made).
        const auto free_slot = [this] { return Stopping() || FirstFreeSlot() >= 0; };
        if (connection) {
            slot_freed_.wait_until(lock, stop, std::min(give_up, std::chrono::steady_clock::now() + kSlice), free_slot);
        } else {
            slot_freed_.wait_for(lock, stop, kSlice, free_slot);
        }
    }
}

int JobTable::FillSlot(JobRequest& request, int index, const std::string& key, bool address_limited,
                       bool from_web_mail, Lines& lines) {
    JobSlot& slot = slots_[index];
    slot.kind = request.kind;
    slot.address_limited = address_limited;
    slot.limit_key = key;
    slot.from_web_mail = from_web_mail;
    slot.closing = false;
    slot.waiting = false;
    slot.taken = Now();
    slot.progress = slot.taken.time_since_epoch().count();
    slot.moved.Clear();
    slot.received = 0;
    slot.sent = 0;
    slot.counted_received = 0;
    slot.counted_taken = 0;
    if (request.kind == JOB_REMOTE_POP3) {
        slot.account = request.account;
        slot.client = PeerAddress();
        slot.key.clear();
        slot.fd = -1;
    } else {
        slot.account.clear();
        slot.client = request.client;
        slot.key = key;
        slot.socket = std::move(request.socket);
        slot.fd = slot.socket.get();
    }
    slot.state = SlotState::kQueued;
    ++busy_slots_;
    if (auto line = UpdateLoad()) lines.push_back(std::move(*line));
    // An address beyond its share loses its longest-held session now, not
    // at the next look of the watch.
    if (busy_ || held_.contains(slot.key)) {
        CountMoved(slot.taken);
        EnforceShare(slot.taken, lines);
    }
    slot.job_ready.notify_one();
    return index;
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
        job.from_web_mail = slot.from_web_mail;
        job.socket = std::move(slot.socket);
        job.account = slot.account;
        job.idle_limit = [this] { return CurrentIdleLimit(); };
        job.activity = &slot.activity;
        slot.state = SlotState::kRunning;
        ++active_jobs_;
        lock.unlock();
        RunJob(job);
        lock.lock();
        // The connection ends with its job; closed under the lock, so that
        // the load rules never shut a descriptor number that was reused.
        job.socket.reset();
        ReleaseJobSlot(index);
        --active_jobs_;
        Lines lines;
        if (auto line = UpdateLoad()) lines.push_back(std::move(*line));
        slot_freed_.notify_all();
        if (!lines.empty()) {
            lock.unlock();
            ReportLoad(lines);
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
    slot.fd = -1;
    slot.closing = false;
    slot.waiting = false;
    slot.key.clear();
    slot.limit_key.clear();
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
    return SlotView{slot.state != SlotState::kFree, slot.kind, slot.client, slot.account, slot.key, slot.closing};
}

void JobTable::SlotActivity::Progress() {
    table->slots_[index].progress = table->Now().time_since_epoch().count();
}

void JobTable::SlotActivity::Received(std::uint64_t bytes) {
    table->slots_[index].received.fetch_add(bytes, std::memory_order_relaxed);
}

void JobTable::SlotActivity::Sent(std::uint64_t bytes) {
    table->slots_[index].sent.fetch_add(bytes, std::memory_order_relaxed);
}

void JobTable::SlotActivity::Waiting(bool waiting) { table->slots_[index].waiting = waiting; }

void JobTable::SlotActivity::ForwardedClient(std::string_view address) {
    // Only a web-mail front end speaks for another client, and only an
    // address names one: read as the login guard reads it, so that a
    // client's slots and its logins count against the same key.
    std::optional<std::string> forwarded = ForwardedAddress(address);
    if (!forwarded) return;
    std::lock_guard lock(table->JobTableLock);
    JobSlot& slot = table->slots_[index];
    if (slot.state != SlotState::kFree && slot.from_web_mail && slot.fd >= 0) slot.key = CountingKey(*forwarded);
}

}  // namespace quorvex
