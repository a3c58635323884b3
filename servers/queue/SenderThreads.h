// The sender threads of the outgoing queue: a fixed pool that takes items
// one at a time (a due retry first, then new mail, then items that wait for
// their retry), hands each to domain delivery, and re-queues, reports or
// parks what failed. Threads sleep on the queue's condition variable until
// an item is queued or the oldest retry falls due.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "common/Notices.h"

namespace quorvex {

struct SenderOptions {
    // Number of threads; -1: [System] "MailThreadNum" of config.ini (default 20).
    int thread_count = -1;
    // Delivers one message (domain delivery with the current settings by
    // default); returns 1, 0 or -1 with the outcome text.
    std::function<int(std::string_view recipient, std::string_view sender, const std::string& file,
                      std::string& outcome)>
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

// Item results of ProcessQueueItem.
inline constexpr int kItemDelivered = 1;
inline constexpr int kItemRequeued = -1;
inline constexpr int kItemFinished = 0;

// Rebuilds the scan range from the records on disk and starts the threads.
// Does nothing when they are running already.
void StartSenderThreads(SenderOptions options = {});
// Stops taking items, lets attempts in progress end and joins the threads,
// waiting at most `limit` (attempts end within a socket slice once
// ServerRunFlag is cleared). True when every thread ended in time.
bool StopSenderThreads(std::chrono::milliseconds limit = std::chrono::seconds(5));

// The next item id for a sender, or -1 once the threads are stopping.
int PickNextQueueItem();
// One delivery attempt of an item and what follows from its outcome.
int ProcessQueueItem(int id);

// Delivery attempts in progress.
int ActiveDeliveryCount();

// True when sending may go ahead ([System] "InternetConnectCheck").
bool CheckInternetConnection();

// The tick count the records keep in "LastSendTime": milliseconds of a
// monotonic clock, modulo 2^32.
std::uint32_t QueueTickCount();

}  // namespace quorvex
