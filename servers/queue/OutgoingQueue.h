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
#include <initializer_list>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/IniDocument.h"
#include "common/Notices.h"
#include "common/Paths.h"
#include "common/ServerSettings.h"
#include "servers/outgoing/SmtpClientText.h"
#include "servers/queue/UndeliveredFolder.h"

namespace quorvex {

// Lowest and highest queue item id not yet taken by a sender thread; -1 and
// -1 when there is none. Guarded by the queue's lock.
struct QueueScanRange {
    int low = -1;
    int high = -1;
};

// Items waiting for their next attempt, served strictly first in, first
// out. Holds at most kSize - 1 entries. Guarded by the queue's lock.
struct RetryRing {
    static constexpr int kSize = 1000;
    struct Entry {
        int id = 0;
        std::uint64_t last_send_tick = 0;  // millisecond tick of the last attempt
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

// The record key a retry gets: the id of the record it replaces. Start-up
// drops a replaced record that a crash left behind, so an item never runs
// twice.
inline constexpr std::string_view kRetryOfKey = "RetryOf";

std::string QueueMessageName(int id);  // "mail<id>.dat"

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

// Removes the regular files "<prefix><n>.dat" (n decimal digits) of the
// folder, for any of the prefixes; gives how many went.
int RemoveNumberedFiles(const std::string& folder, std::initializer_list<std::string_view> prefixes);

// The outgoing queue of one program folder: its items in "<program
// folder>/smtp", the parked messages of "<program folder>/undelivered",
// the scan range of new items, the retry ring and the pool of sender
// threads that serve this queue. The program's wiring owns one and passes
// it to whatever queues mail; a test runs its own on a folder of its own.
class OutgoingQueue {
public:
    explicit OutgoingQueue(const std::string& program_folder);
    // Stops the sender threads.
    ~OutgoingQueue();
    OutgoingQueue(const OutgoingQueue&) = delete;
    OutgoingQueue& operator=(const OutgoingQueue&) = delete;

    // The queue folder, "<program folder>/smtp".
    const std::string& folder() const { return folder_; }
    std::string RecordPath(int id) const;
    std::string MessagePath(int id) const { return JoinPath(folder_, QueueMessageName(id)); }
    UndeliveredFolder& undelivered() { return undelivered_; }
    const UndeliveredFolder& undelivered() const { return undelivered_; }

    // Copies `message` into the queue as a new item for `recipient` and
    // returns its id. With `record_to_copy` (a retry) that record is copied
    // and only its "MailFile" rewritten (and `retry_of` noted when given);
    // otherwise a fresh record is written. The copy and the record are on
    // disk (fsynced) before this returns. -1 when the item could not be
    // written, or a value would break the record's format; then nothing of
    // it is left behind.
    int Enqueue(const std::string& message, std::string_view recipient, std::string_view sender,
                const std::string* record_to_copy = nullptr, int retry_of = 0);
    // Enqueue of a new item; true when it was queued.
    bool AddToQueue(std::string_view recipient, std::string_view sender, const std::string& message) {
        return Enqueue(message, recipient, sender) >= 0;
    }

    // A copy of `message` for a new item to `recipient`, written and
    // flushed as "staged_<n>.dat", a name no sender reads: the number n, or
    // -1 when it could not be written or a value would break the record's
    // format (nothing is left then).
    int StageItem(const std::string& message, std::string_view recipient, std::string_view sender);
    // Makes staged copy n a new item (its copy renamed to the item's and
    // its record written) and tells the senders; the item's id, or -1 when
    // that failed (the staged copy is gone then).
    int PublishItem(int staged, std::string_view recipient, std::string_view sender);
    // Removes a staged copy that is not to be sent.
    void DropStagedItem(int staged) const;
    // Start-up: removes the staged copies a previous run left (never
    // handed to the senders, so never acknowledged); gives how many.
    int RemoveStagedItems() const;
    std::string StagedPath(int staged) const;

    // True when some record of the queue folder names a message file.
    bool HasQueuedMail() const;

    // Start-up: widens the scan range over every record on disk that names
    // a message file, and removes records that a later retry record replaced.
    void RebuildScanRange();
    // The ids not yet taken by a sender, as they stand now.
    QueueScanRange PendingRange() const;

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

    // Under the queue lock: clears the record's "MailFile" (a sender thread
    // delivering the item at this moment then ends its attempt as "removed
    // by admin"), deletes the message file when the record names a bare
    // file name, then the record. False when there was no record to remove.
    bool CancelQueuedItem(int id);

    // Queues parked message n again as new mail (its tries start again at
    // 0) and removes it from the undelivered folder. The parked copy is
    // kept when it could not be queued.
    bool ResendUndelivered(int n);

    // Delivery attempts in progress.
    int ActiveDeliveries() const { return active_deliveries_.load(); }

private:
    class ActiveDelivery;
    void SenderThread();
    bool Taking() const;
    NoticeSink& Notices() const;
    void Notify(const std::string& text) const;
    std::uint64_t RetryIntervalMs() const;
    int Classify(std::string_view address) const;
    outgoing::DeliveryResult Deliver(std::string_view recipient, std::string_view sender, const std::string& file,
                                     std::string& outcome) const;
    bool DeliverLocally(std::string_view recipient, const std::string& report) const;
    // Under the queue lock, once item `id` was written (`written`) or not:
    // a failed item's record and copy are removed and -1 returned; a
    // written one widens the scan range, and the lock is released before a
    // sender is woken. Gives the id.
    int FinishItem(std::unique_lock<std::mutex>& guard, int id, bool written, const std::string& record_path,
                   const std::string& message_path);
    // Deletes an item's record, then its message file.
    void RemoveItem(int id, const std::string& message_path) const;
    // Parks the message of item `id` with the keys of its record.
    void Park(const std::string& message_path, int id);
    // A record that names no usable message is kept out of the way.
    void MoveAside(int id, const std::string& message_path, std::string_view why) const;
    // After a failed attempt: the retry record, or the report and the end
    // of the item.
    ItemResult Requeue(int id, IniDocument& record, const std::string& message_path, std::uint64_t now_tick);
    ItemResult GiveUp(int id, IniDocument& record, const std::string& message_path, int times,
                      const std::string& outcome, const CServerSettings& settings);

    const std::string folder_;
    UndeliveredFolder undelivered_;

    // Guards range_ and retries_; wakeup_ tells waiting senders (under the
    // lock) that an item was queued.
    mutable std::mutex lock_;
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

}  // namespace quorvex
