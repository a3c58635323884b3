// Putting messages into the outgoing queue.
#include "servers/queue/OutgoingQueue.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <map>

#include "common/AtomicFile.h"
#include "common/Paths.h"
#include "mailmodel/store/MailStore.h"
#include "servers/address/QueueCounters.h"
#include "servers/logs/DailyLog.h"
#include "servers/queue/QueueRecord.h"

namespace quorvex {

namespace {

bool HasLineBreak(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// The id of a record file name "<digits>.ini", or 0.
int RecordIdOf(std::string_view name) {
    if (name.size() < 5 || name.substr(name.size() - 4) != ".ini") return 0;
    const std::string_view digits = name.substr(0, name.size() - 4);
    if (digits.empty() || digits.size() > 9) return 0;
    int id = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return 0;
        id = id * 10 + (c - '0');
    }
    return id;
}

// Every record of the queue folder by id.
std::map<int, IniDocument> ListRecords() {
    std::map<int, IniDocument> records;
    DIR* dir = ::opendir(QueueFolder().c_str());
    if (dir == nullptr) return records;
    while (const dirent* entry = ::readdir(dir)) {
        const int id = RecordIdOf(entry->d_name);
        if (id <= 0) continue;
        if (auto record = ReadQueueRecord(QueueRecordPath(id))) records.emplace(id, std::move(*record));
    }
    ::closedir(dir);
    return records;
}

}  // namespace

namespace {

std::atomic<OutgoingQueue*> g_installed_queue{nullptr};

}  // namespace

OutgoingQueue& ProcessQueue() {
    if (OutgoingQueue* queue = g_installed_queue.load()) return *queue;
    static auto* fallback = new OutgoingQueue;  // lives as long as its threads may
    return *fallback;
}

void InstallProcessQueue(OutgoingQueue* queue) { g_installed_queue = queue; }

std::mutex& QueueLock() { return ProcessQueue().lock(); }
std::condition_variable& QueueWakeup() { return ProcessQueue().wakeup(); }
QueueScanRange& ScanRange() { return ProcessQueue().scan_range(); }
RetryRing& Retries() { return ProcessQueue().retries(); }

int EnqueueOutgoingMail(const std::string& message, std::string_view recipient, std::string_view sender,
                        const std::string* record_to_copy, int retry_of) {
    return ProcessQueue().Enqueue(message, recipient, sender, record_to_copy, retry_of);
}

void RebuildQueueScanRange() { ProcessQueue().RebuildScanRange(); }

OutgoingQueue::OutgoingQueue() = default;

void OutgoingQueue::ForgetPending() {
    std::lock_guard guard(lock_);
    range_ = {};
    retries_.read = retries_.write = 0;
}

std::string QueueFolder() { return JoinPath(ProgramFolder(), "smtp"); }
std::string QueueRecordPath(int id) { return JoinPath(QueueFolder(), std::to_string(id) + ".ini"); }
std::string QueueMessageName(int id) { return "mail" + std::to_string(id) + ".dat"; }

int OutgoingQueue::Enqueue(const std::string& message, std::string_view recipient, std::string_view sender,
                           const std::string* record_to_copy, int retry_of) {
    if (HasLineBreak(recipient) || HasLineBreak(sender)) return -1;
    MakeFolders(QueueFolder());

    std::optional<IniDocument> record;
    if (record_to_copy != nullptr) {
        record = ReadQueueRecord(*record_to_copy);
        if (!record) return -1;
    } else {
        record = IniDocument();
    }

    std::unique_lock guard(lock_);
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
        written = record->Set(kQueueSection, "MailFile", message_name) &&
                  (retry_of <= 0 || record->Set(kQueueSection, kRetryOfKey, std::to_string(retry_of)));
    } else {
        written = record->Set(kQueueSection, "DestAddr", recipient) &&
                  record->Set(kQueueSection, "ReplyAddr", sender) &&
                  record->Set(kQueueSection, "MailFile", message_name) && record->Set(kQueueSection, "Times", "0") &&
                  record->Set(kQueueSection, "BeginTime", LogTimeStamp(std::time(nullptr)));
    }
    written = written && WriteQueueRecord(record_path, *record);
    if (!written) {
        ::unlink(record_path.c_str());
        ::unlink(message_path.c_str());
        return -1;
    }
    if (range_.low == -1) range_.low = id;
    range_.high = id;
    guard.unlock();
    wakeup_.notify_one();
    return id;
}

void RemoveQueueItem(int id, const std::string& message_path) {
    ::unlink(QueueRecordPath(id).c_str());
    if (!message_path.empty()) ::unlink(message_path.c_str());
}

bool HasQueuedMail() {
    for (const auto& [id, record] : ListRecords()) {
        if (!RecordValue(record, "MailFile").empty()) return true;
    }
    return false;
}

void OutgoingQueue::RebuildScanRange() {
    const auto records = ListRecords();
    std::lock_guard guard(lock_);
    QueueScanRange& range = range_;
    for (const auto& [id, record] : records) {
        if (RecordValue(record, "MailFile").empty()) continue;
        // A retry written just before a crash: the record it replaces goes.
        const int replaced = RecordInt(record, kRetryOfKey, 0);
        if (replaced > 0 && replaced != id && records.count(replaced) != 0) {
            const auto& old = records.at(replaced);
            const std::string old_file = RecordValue(old, "MailFile");
            RemoveQueueItem(replaced, old_file.empty() ? std::string() : JoinPath(QueueFolder(), old_file));
        }
    }
    for (const auto& [id, record] : records) {
        if (RecordValue(record, "MailFile").empty() || !FileExists(QueueRecordPath(id))) continue;
        if (range.low == -1 || id < range.low) range.low = id;
        if (id > range.high) range.high = id;
    }
}

}  // namespace quorvex
