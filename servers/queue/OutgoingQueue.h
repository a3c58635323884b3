// The outgoing queue: each message for an address outside is a record
// "<id>.ini" (section "Info") and a byte copy "mail<id>.dat" in the queue
// folder "smtp" of the program folder. The sender threads take new ids
// from the scan range and retries from the retry ring; both move only
// under QueueLock(), and QueueWakeup() tells waiting senders about work.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

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

std::mutex& QueueLock();
// Notified (under QueueLock) whenever an item is queued.
std::condition_variable& QueueWakeup();
QueueScanRange& ScanRange();
RetryRing& Retries();

// "<program folder>/smtp".
std::string QueueFolder();
std::string QueueRecordPath(int id);
std::string QueueMessageName(int id);  // "mail<id>.dat"

// The record key a retry gets: the id of the record it replaces. Start-up
// drops a replaced record that a crash left behind, so an item never runs
// twice.
inline constexpr std::string_view kRetryOfKey = "RetryOf";

// Copies `message` into the queue as a new item for `recipient` and returns
// its id. With `record_to_copy` (a retry) that record is copied and only
// its "MailFile" rewritten (and `retry_of` noted when given); otherwise a
// fresh record is written. The copy and the record are on disk (fsynced)
// before this returns. -1 when the item could not be written, or a value
// would break the record's format; then nothing of it is left behind.
int EnqueueOutgoingMail(const std::string& message, std::string_view recipient, std::string_view sender,
                        const std::string* record_to_copy = nullptr, int retry_of = 0);

// Deletes an item's record, then its message file.
void RemoveQueueItem(int id, const std::string& message_path);

// True when some record of the queue folder names a message file.
bool HasQueuedMail();

// Start-up: widens the scan range over every record on disk that names a
// message file, and removes records that a later retry record replaced.
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
