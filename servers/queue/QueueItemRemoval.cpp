// The transfer status window's actions on the queue: cancelling queued
// items and sending parked messages again.
#include "servers/queue/QueueItemRemoval.h"

#include <unistd.h>

#include <mutex>
#include <string>

#include "common/Paths.h"
#include "servers/queue/OutgoingQueue.h"
#include "servers/queue/QueueRecord.h"

namespace quorvex {

bool IsBareQueueFileName(std::string_view name) {
    return !name.empty() && name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos &&
           name != "." && name != "..";
}

bool OutgoingQueue::CancelQueuedItem(int id) {
    if (id <= 0) return false;
    const std::string record_path = RecordPath(id);
    std::lock_guard guard(lock_);
    auto record = ReadQueueRecord(record_path);
    if (!record) return false;
    const std::string mail_file = RecordValue(*record, "MailFile");
    // First the mark a sender looks for after its attempt, then the files.
    if (!mail_file.empty() && record->Set(kQueueSection, "MailFile", "")) WriteQueueRecord(record_path, *record);
    if (IsBareQueueFileName(mail_file)) ::unlink(JoinPath(folder_, mail_file).c_str());
    return ::unlink(record_path.c_str()) == 0;
}

bool OutgoingQueue::ResendUndelivered(int n) {
    if (const auto parked = undelivered_.Find(n)) {
        if (!AddToQueue(RecordValue(parked->record, "DestAddr"), RecordValue(parked->record, "ReplyAddr"),
                        parked->message_path)) {
            return false;
        }
        ::unlink(parked->message_path.c_str());
    }
    ::unlink(undelivered_.RecordPath(n).c_str());
    return true;
}

}  // namespace quorvex
