// The outgoing mail the transfer status window shows: the items of the
// queue folder ("smtp") or the parked messages of the undelivered folder,
// read straight from their records, and the actions on them. Every change
// goes through the queue's own operations; nothing here names a message
// file itself.
#pragma once

#include <string>
#include <vector>

namespace quorvex {
class OutgoingQueue;
}

namespace quorvex::gui {

enum class TransferMode {
    kInTransfer = 0,   // the queue folder
    kUndelivered = 1,  // the undelivered folder
};

struct TransferRow {
    int number = 0;  // queue item id or parked number
    std::string from;           // ReplyAddr
    std::string to;             // DestAddr
    std::string tries;          // Times
    std::string last_response;  // LastResponse, its first line
    std::string begin_time;     // BeginTime
};

// The items that name a message file, by number.
std::vector<TransferRow> ReadTransferRows(const OutgoingQueue& queue, TransferMode mode);

// Deletes the items: queue items under the queue's lock (a sender delivering
// one ends that attempt as "removed by admin"), parked messages from the
// undelivered folder. Returns how many were removed.
int DeleteTransferItems(OutgoingQueue& queue, TransferMode mode, const std::vector<int>& numbers);

// The system log's line for an item the administrator deleted.
std::string DeletedItemLogLine(TransferMode mode, const TransferRow& row);

// Queues parked messages again as new items. Returns the numbers that could
// not be queued (they stay parked).
std::vector<int> ResendParkedItems(OutgoingQueue& queue, const std::vector<int>& numbers);

// The first line of a record value: up to a line break or its stored form
// "\r" / "\n".
std::string FirstLine(const std::string& value);

}  // namespace quorvex::gui
