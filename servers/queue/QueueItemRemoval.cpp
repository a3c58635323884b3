// Cancelling queued items from the transfer status window.
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

bool CancelQueuedItem(int id) {
    if (id <= 0) return false;
    const std::string record_path = QueueRecordPath(id);
    std::lock_guard guard(QueueLock());
    auto record = ReadQueueRecord(record_path);
    if (!record) return false;
    const std::string mail_file = RecordValue(*record, "MailFile");
    // First the mark a sender looks for after its attempt, then the files.
    if (!mail_file.empty() && record->Set(kQueueSection, "MailFile", "")) WriteQueueRecord(record_path, *record);
    if (IsBareQueueFileName(mail_file)) ::unlink(JoinPath(QueueFolder(), mail_file).c_str());
    return ::unlink(record_path.c_str()) == 0;
}

}  // namespace quorvex
