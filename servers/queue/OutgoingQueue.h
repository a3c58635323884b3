// The outgoing queue: each message for an address outside is a record
// "<id>.ini" (section "Info") and a byte copy "mail<id>.dat" in the queue
// folder "smtp" of the program folder. The sender threads take new ids
// from the scan range and retries from the retry ring; both move only
// under the queue's lock, and its wake-up tells waiting senders about work.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/IniDocument.h"
#include "common/Notices.h"
#include "common/ServerSettings.h"
#include "servers/outgoing/SmtpClientText.h"

namespace quorvex {

// Lowest and highest queue item id not yet taken by a sender thread; -1 and
// -1 when there is none. Guarded by QueueLock().
struct QueueScanRange {
    int low = -1;
    int high = -1;
};

// Items waiting for their next attempt, served strictly first in, first
// out. Holds at most kSize - 1 entries. Guarded by QueueLock().
struct RetryRing {
    static constexpr int kSize = 1000;
    struct Entry {
        int id = 0;
        std::uint32_t last_send_tick = 0;  // millisecond tick of the last attempt
    };
    std::array<Entry, kSize> entries{};
    int read = 0;
    int write = 0;

    bool empty() const { return read == write; }
    bool full() const { return (write + 1) % kSize == read; }
    int size() const { return (write - read + kSize) % kSize; }
    const Entry& front() const { return entries[read]; }
    void pop() { read = (read + 1) % kSize; }
    void push(Entry entry) {
        entries[write] = entry;
        write = (write + 1) % kSize;
    }
};

// "<program folder>/smtp".
std::string QueueFolder();
std::string QueueRecordPath(int id);
std::string QueueMessageName(int id);  // "mail<id>.dat"

// The record key a retry gets: the id of the record it replaces. Start-up
// drops a replaced record that a crash left behind, so an item never runs
// twice.
inline constexpr std::string_view kRetryOfKey = "RetryOf";

// True when some record of the queue folder names a message file.
bool HasQueuedMail();

// Deletes an item's record, then its message file.
void RemoveQueueItem(int id, const std::string& message_path);

struct SenderOptions {
    // Number of threads; -1: [System] "MailThreadNum" of config.ini (default 20).
    int thread_count = -1;
    // Delivers one message (domain delivery with the current settings by
    // default), with the outcome text.
    std::function<outgoing::DeliveryResult(std::string_view recipient, std::string_view sender,
                                           const std::string& file, std::string& outcome)>
        deliver;
    // Puts a non-delivery report into a local account's mailbox. The
    // program's wiring gives local delivery under the tag
    // "MailUndeliverable" (DeliverReportLocally); without it a report
    // cannot be delivered and goes to the undelivered folder.
    std::function<bool(std::string_view recipient, const std::string& report)> deliver_locally;
    // Address classes as ClassifyAddress gives them (the default).
    std::function<int(std::string_view address)> classify;
    // Pause before a retry; -1: [System] "NextTryInterval" minutes.
    int retry_interval_ms = -1;
    // Where the progress notices go; null: the process's bus.
    NoticeSink* notices = nullptr;
};

// What one attempt at an item came to.
enum class ItemResult {
    kFinished = 0,   // gone from the queue: reported, parked, cancelled or damaged
    kDelivered = 1,
    kRequeued = -1,  // waits for its next attempt
};

// The outgoing queue of one program folder: the lock and wake-up of its
// senders, the scan range of new items, the retry ring and the pool of
// sender threads. The program owns one and installs it as the process's
// queue (InstallProcessQueue); a test can run its own.
class OutgoingQueue {
public:
    OutgoingQueue();
    // Stops the sender threads.
    ~OutgoingQueue();
    OutgoingQueue(const OutgoingQueue&) = delete;
    OutgoingQueue& operator=(const OutgoingQueue&) = delete;

    // Copies `message` into the queue as a new item for `recipient` and
    // returns its id. With `record_to_copy` (a retry) that record is copied
    // and only its "MailFile" rewritten (and `retry_of` noted when given);
    // otherwise a fresh record is written. The copy and the record are on
    // disk (fsynced) before this returns. -1 when the item could not be
    // written, or a value would break the record's format; then nothing of
    // it is left behind.
    int Enqueue(const std::string& message, std::string_view recipient, std::string_view sender,
                const std::string* record_to_copy = nullptr, int retry_of = 0);

    // Start-up: widens the scan range over every record on disk that names
    // a message file, and removes records that a later retry record replaced.
    void RebuildScanRange();

    // Rebuilds the scan range from the records on disk and starts the
    // sender threads. Does nothing when they are running already.
    void StartSenders(SenderOptions options = {});
    // Stops taking items, lets attempts in progress end and joins the
    // threads, waiting at most `limit` (attempts end within a socket slice
    // once ServerRunFlag is cleared). True when every thread ended in time;
    // otherwise the threads still in an attempt go on using this object.
    bool StopSenders(std::chrono::milliseconds limit = std::chrono::seconds(5));

    // The next item id for a sender, or -1 once the senders are stopping.
    int PickNextItem();
    // One delivery attempt of an item and what follows from its outcome.
    ItemResult ProcessItem(int id);

    // Delivery attempts in progress.
    int ActiveDeliveries() const { return active_deliveries_.load(); }

    // Forgets the scan range and the retry ring (the records stay).
    void ForgetPending();

    // The lock that guards the scan range and the retry ring, and the
    // wake-up of waiting senders (notified under the lock when an item is
    // queued).
    std::mutex& lock() { return lock_; }
    std::condition_variable& wakeup() { return wakeup_; }
    QueueScanRange& scan_range() { return range_; }
    RetryRing& retries() { return retries_; }

private:
    class ActiveDelivery;
    void SenderThread();
    bool Taking() const;
    NoticeSink& Notices() const;
    void Notify(const std::string& text) const;
    std::uint32_t RetryIntervalMs() const;
    int Classify(std::string_view address) const;
    outgoing::DeliveryResult Deliver(std::string_view recipient, std::string_view sender, const std::string& file,
                                     std::string& outcome) const;
    bool DeliverLocally(std::string_view recipient, const std::string& report) const;
    // After a failed attempt: the retry record, or the report and the end
    // of the item.
    ItemResult Requeue(int id, IniDocument& record, const std::string& message_path, std::uint32_t now_tick);
    ItemResult GiveUp(int id, IniDocument& record, const std::string& message_path, int times,
                      const std::string& outcome, const CServerSettings& settings);

    std::mutex lock_;
    std::condition_variable wakeup_;
    QueueScanRange range_;
    RetryRing retries_;

    std::mutex pool_mutex_;  // guards threads_ and options_ against start and stop
    SenderOptions options_;
    std::vector<std::thread> threads_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> running_{0};
    std::condition_variable ended_;
    std::atomic<int> active_deliveries_{0};
};

// The queue of this process: the one installed, else one made on first use
// (for tools and tests that never install one).
OutgoingQueue& ProcessQueue();
// Makes `queue` the process's queue; null goes back to the default one.
void InstallProcessQueue(OutgoingQueue* queue);

// The process queue's parts, as before the queue was an object.
std::mutex& QueueLock();
std::condition_variable& QueueWakeup();
QueueScanRange& ScanRange();
RetryRing& Retries();

// ProcessQueue().Enqueue.
int EnqueueOutgoingMail(const std::string& message, std::string_view recipient, std::string_view sender,
                        const std::string* record_to_copy = nullptr, int retry_of = 0);

// ProcessQueue().RebuildScanRange.
void RebuildQueueScanRange();

class COutgoingMail {
public:
    virtual ~COutgoingMail() = default;
    // True when the message was queued.
    bool AddToQueue(std::string_view recipient, std::string_view sender, const std::string& message) {
        return EnqueueOutgoingMail(message, recipient, sender) >= 0;
    }
};

}  // namespace quorvex
