// Putting messages into the outgoing queue.
#include "servers/queue/OutgoingQueue.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <map>

#include "common/AtomicFile.h"
#include "common/FileSteps.h"
#include "common/Paths.h"
#include "mailmodel/FolderListing.h"
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

// Every record of a queue folder by id.
std::map<int, IniDocument> ListRecords(const std::string& folder) {
    std::map<int, IniDocument> records;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return records;
    while (const dirent* entry = ::readdir(dir)) {
        const int id = RecordIdOf(entry->d_name);
        if (id <= 0) continue;
        if (auto record = ReadQueueRecord(JoinPath(folder, std::to_string(id) + ".ini"))) {
            records.emplace(id, std::move(*record));
        }
    }
    ::closedir(dir);
    return records;
}

// The record of a new item.
bool SetFreshRecord(IniDocument& record, std::string_view recipient, std::string_view sender,
                    const std::string& message_name) {
    return record.Set(kQueueSection, "DestAddr", recipient) && record.Set(kQueueSection, "ReplyAddr", sender) &&
           record.Set(kQueueSection, "MailFile", message_name) && record.Set(kQueueSection, "Times", "0") &&
           record.Set(kQueueSection, "BeginTime", LogTimeStamp(std::time(nullptr)));
}

constexpr std::string_view kStagedPrefix = "staged_";

}  // namespace

int RemoveNumberedFiles(const std::string& folder, std::initializer_list<std::string_view> prefixes) {
    int removed = 0;
    for (const std::string& name : ListFolder(folder)) {
        std::string_view number = name;
        for (std::string_view prefix : prefixes) {
            if (number.starts_with(prefix)) number.remove_prefix(prefix.size());
        }
        if (number.size() == name.size() || !number.ends_with(".dat")) continue;
        number.remove_suffix(4);
        if (number.empty() || number.find_first_not_of("0123456789") != std::string_view::npos) continue;
        const std::string path = JoinPath(folder, name);
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink(path.c_str()) == 0) ++removed;
    }
    return removed;
}

OutgoingQueue::OutgoingQueue(const std::string& program_folder)
    : folder_(JoinPath(program_folder, "smtp")), undelivered_(JoinPath(program_folder, "undelivered")) {}

std::string QueueMessageName(int id) { return "mail" + std::to_string(id) + ".dat"; }

std::string OutgoingQueue::RecordPath(int id) const { return JoinPath(folder_, std::to_string(id) + ".ini"); }

QueueScanRange OutgoingQueue::PendingRange() const {
    std::lock_guard guard(lock_);
    return range_;
}

int OutgoingQueue::Enqueue(const std::string& message, std::string_view recipient, std::string_view sender,
                           const std::string* record_to_copy, int retry_of) {
    if (HasLineBreak(recipient) || HasLineBreak(sender)) return -1;
    MakeFolders(folder_);

    std::optional<IniDocument> record;
    if (record_to_copy != nullptr) {
        record = ReadQueueRecord(*record_to_copy);
        if (!record) return -1;
    } else {
        record = IniDocument();
    }

    std::unique_lock guard(lock_);
    const int id = NextQueueId(folder_, QUEUE_COUNTER_INTERNET_SEND);
    if (id <= 0) return -1;
    const std::string message_name = QueueMessageName(id);
    const std::string message_path = JoinPath(folder_, message_name);
    const std::string record_path = RecordPath(id);
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
        written = SetFreshRecord(*record, recipient, sender, message_name);
    }
    written = written && WriteQueueRecord(record_path, *record);
    return FinishItem(guard, id, written, record_path, message_path);
}

int OutgoingQueue::FinishItem(std::unique_lock<std::mutex>& guard, int id, bool written,
                              const std::string& record_path, const std::string& message_path) {
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

std::string OutgoingQueue::StagedPath(int staged) const {
    return JoinPath(folder_, std::string(kStagedPrefix) + std::to_string(staged) + ".dat");
}

int OutgoingQueue::StageItem(const std::string& message, std::string_view recipient, std::string_view sender) {
    if (HasLineBreak(recipient) || HasLineBreak(sender)) return -1;
    MakeFolders(folder_);
    const int staged = NextQueueId(folder_, QUEUE_COUNTER_TEMP_SMTP);
    if (staged <= 0) return -1;
    const std::string path = StagedPath(staged);
    if (!ScrambleCopyFile(message, path, 0)) {
        ::unlink(path.c_str());
        return -1;
    }
    return staged;
}

int OutgoingQueue::PublishItem(int staged, std::string_view recipient, std::string_view sender) {
    const std::string staged_path = StagedPath(staged);
    std::unique_lock guard(lock_);
    const int id = NextQueueId(folder_, QUEUE_COUNTER_INTERNET_SEND);
    if (id <= 0) {
        ::unlink(staged_path.c_str());
        return -1;
    }
    const std::string message_name = QueueMessageName(id);
    const std::string message_path = JoinPath(folder_, message_name);
    const std::string record_path = RecordPath(id);
    // The copy gets its item's name first: a record only ever names a
    // complete copy. The record's write flushes the folder, both names
    // with it, before the senders hear.
    IniDocument record;
    const bool written = fs::RenameNew(staged_path, message_path) &&
                         SetFreshRecord(record, recipient, sender, message_name) &&
                         WriteQueueRecord(record_path, record);
    if (!written) ::unlink(staged_path.c_str());
    return FinishItem(guard, id, written, record_path, message_path);
}

void OutgoingQueue::DropStagedItem(int staged) const { ::unlink(StagedPath(staged).c_str()); }

int OutgoingQueue::RemoveStagedItems() const { return RemoveNumberedFiles(folder_, {kStagedPrefix}); }

void OutgoingQueue::RemoveItem(int id, const std::string& message_path) const {
    ::unlink(RecordPath(id).c_str());
    if (!message_path.empty()) ::unlink(message_path.c_str());
}

bool OutgoingQueue::HasQueuedMail() const {
    for (const auto& [id, record] : ListRecords(folder_)) {
        if (!RecordValue(record, "MailFile").empty()) return true;
    }
    return false;
}

void OutgoingQueue::RebuildScanRange() {
    const auto records = ListRecords(folder_);
    std::lock_guard guard(lock_);
    QueueScanRange& range = range_;
    for (const auto& [id, record] : records) {
        if (RecordValue(record, "MailFile").empty()) continue;
        // A retry written just before a crash: the record it replaces goes.
        const int replaced = RecordInt(record, kRetryOfKey, 0);
        if (replaced > 0 && replaced != id && records.count(replaced) != 0) {
            const auto& old = records.at(replaced);
            const std::string old_file = RecordValue(old, "MailFile");
            RemoveItem(replaced, old_file.empty() ? std::string() : JoinPath(folder_, old_file));
        }
    }
    for (const auto& [id, record] : records) {
        if (RecordValue(record, "MailFile").empty() || !FileExists(RecordPath(id))) continue;
        if (range.low == -1 || id < range.low) range.low = id;
        if (id > range.high) range.high = id;
    }
}

}  // namespace quorvex
