// The writing side of the outgoing queue: each message for an address
// outside is a record "<id>.ini" (section "Info") and a byte copy
// "mail<id>.dat" in the queue folder "smtp" of the program folder. The
// sender threads read them; the scan range tells them which ids are new.
#pragma once

#include <functional>
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

std::mutex& QueueLock();
QueueScanRange& ScanRange();

// "<program folder>/smtp".
std::string QueueFolder();
std::string QueueRecordPath(int id);
std::string QueueMessageName(int id);  // "mail<id>.dat"

// Copies `message` into the queue as a new item for `recipient` and returns
// its id. With `record_to_copy` (a retry) that record is copied and only
// its "MailFile" rewritten; otherwise a fresh record is written. The copy
// and the record are on disk (fsynced) before this returns. -1 when the item
// could not be written, or a value would break the record's format; then
// nothing of it is left behind.
int EnqueueOutgoingMail(const std::string& message, std::string_view recipient, std::string_view sender,
                        const std::string* record_to_copy = nullptr);

class COutgoingMail {
public:
    virtual ~COutgoingMail() = default;
    // True when the message was queued.
    bool AddToQueue(std::string_view recipient, std::string_view sender, const std::string& message) {
        return EnqueueOutgoingMail(message, recipient, sender) >= 0;
    }
};

}  // namespace quorvex
