// Putting messages into the outgoing queue.
#include "servers/queue/OutgoingQueue.h"

#include <unistd.h>

#include <ctime>

#include "common/AtomicFile.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "mailmodel/store/MailStore.h"
#include "servers/address/QueueCounters.h"
#include "servers/logs/DailyLog.h"

namespace quorvex {

namespace {

bool HasLineBreak(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

}  // namespace

std::mutex& QueueLock() {
    static auto* lock = new std::mutex;
    return *lock;
}

QueueScanRange& ScanRange() {
    static QueueScanRange range;
    return range;
}

std::string QueueFolder() { return JoinPath(ProgramFolder(), "smtp"); }
std::string QueueRecordPath(int id) { return JoinPath(QueueFolder(), std::to_string(id) + ".ini"); }
std::string QueueMessageName(int id) { return "mail" + std::to_string(id) + ".dat"; }

int EnqueueOutgoingMail(const std::string& message, std::string_view recipient, std::string_view sender,
                        const std::string* record_to_copy) {
    if (HasLineBreak(recipient) || HasLineBreak(sender)) return -1;
    MakeFolders(QueueFolder());

    std::lock_guard guard(QueueLock());
    const int id = NextQueueId(QUEUE_COUNTER_INTERNET_SEND);
    if (id <= 0) return -1;
    const std::string message_name = QueueMessageName(id);
    const std::string message_path = JoinPath(QueueFolder(), message_name);
    const std::string record_path = QueueRecordPath(id);
    // The body first: a record only ever names a complete copy.
    if (!ScrambleCopyFile(message, message_path, 0)) {
        ::unlink(message_path.c_str());
        return -1;
    }
    bool written = false;
    if (record_to_copy != nullptr) {
        std::string record;
        written = ReadWholeFile(*record_to_copy, record) && AtomicWriteFile(record_path, record) &&
                  ProfileFile(record_path).WriteString("Info", "MailFile", message_name);
    } else {
        written = ProfileFile(record_path).Edit([&](IniDocument& doc) {
            return doc.Set("Info", "DestAddr", recipient) && doc.Set("Info", "ReplyAddr", sender) &&
                   doc.Set("Info", "MailFile", message_name) && doc.Set("Info", "Times", "0") &&
                   doc.Set("Info", "BeginTime", LogTimeStamp(std::time(nullptr)));
        });
    }
    if (!written) {
        ::unlink(record_path.c_str());
        ::unlink(message_path.c_str());
        return -1;
    }
    QueueScanRange& range = ScanRange();
    if (range.low == -1) range.low = id;
    range.high = id;
    return id;
}

}  // namespace quorvex
