#include "gui/logic/TransferQueue.h"

#include <dirent.h>

#include <algorithm>

#include "common/AsciiCase.h"
#include "common/Paths.h"
#include "servers/queue/OutgoingQueue.h"
#include "servers/queue/QueueRecord.h"

namespace quorvex::gui {

namespace {

// The number of a record name "<digits>.ini" (".INI" too: folders copied
// from elsewhere), or 0.
int RecordNumber(std::string_view name) {
    if (name.size() < 5) return 0;
    if (!EqualsNoCase(name.substr(name.size() - 4), ".ini")) return 0;
    const std::string_view digits = name.substr(0, name.size() - 4);
    if (digits.empty() || digits.size() > 9) return 0;
    int number = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return 0;
        number = number * 10 + (c - '0');
    }
    return number;
}

}  // namespace

std::string FirstLine(const std::string& value) {
    std::size_t end = value.find_first_of("\r\n");
    for (const char* stored : {"\\r", "\\n"}) end = std::min(end, value.find(stored));
    return end == std::string::npos ? value : value.substr(0, end);
}

std::vector<TransferRow> ReadTransferRows(const OutgoingQueue& queue, TransferMode mode) {
    const std::string& folder =
        mode == TransferMode::kInTransfer ? queue.folder() : queue.undelivered().folder();
    std::vector<std::pair<int, std::string>> records;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const int number = RecordNumber(entry->d_name);
            if (number > 0) records.emplace_back(number, JoinPath(folder, entry->d_name));
        }
        ::closedir(dir);
    }
    std::sort(records.begin(), records.end());
    std::vector<TransferRow> rows;
    for (const auto& [number, path] : records) {
        const auto record = ReadQueueRecord(path);
        if (!record || RecordValue(*record, "MailFile").empty()) continue;
        rows.push_back(TransferRow{number, FirstLine(RecordValue(*record, "ReplyAddr")),
                                   FirstLine(RecordValue(*record, "DestAddr")), FirstLine(RecordValue(*record, "Times")),
                                   FirstLine(RecordValue(*record, "LastResponse")),
                                   FirstLine(RecordValue(*record, "BeginTime"))});
    }
    return rows;
}

int DeleteTransferItems(OutgoingQueue& queue, TransferMode mode, const std::vector<int>& numbers) {
    int removed = 0;
    for (int number : numbers) {
        const bool done = mode == TransferMode::kInTransfer ? queue.CancelQueuedItem(number)
                                                            : queue.undelivered().DeleteUndelivered(number);
        if (done) ++removed;
    }
    return removed;
}

std::string DeletedItemLogLine(TransferMode mode, const TransferRow& row) {
    return std::string(mode == TransferMode::kInTransfer ? "Queued" : "Undelivered") + " mail " +
           std::to_string(row.number) + " from " + row.from + " to " + row.to + " deleted by the administrator";
}

std::vector<int> ResendParkedItems(OutgoingQueue& queue, const std::vector<int>& numbers) {
    std::vector<int> failed;
    for (int number : numbers) {
        if (!queue.ResendUndelivered(number)) failed.push_back(number);
    }
    return failed;
}

}  // namespace quorvex::gui
