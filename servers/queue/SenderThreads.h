// The sender threads of the outgoing queue: a fixed pool that takes items
// one at a time (a due retry first, then new mail, then items that wait for
// their retry), hands each to domain delivery, and re-queues, reports or
// parks what failed. Threads sleep on the queue's condition variable until
// an item is queued or the oldest retry falls due. They belong to an
// OutgoingQueue; the functions here act on the process's queue.
#pragma once

#include <chrono>
#include <cstdint>

#include "servers/queue/OutgoingQueue.h"

namespace quorvex {

// Item results of ProcessQueueItem.
inline constexpr int kItemDelivered = static_cast<int>(ItemResult::kDelivered);
inline constexpr int kItemRequeued = static_cast<int>(ItemResult::kRequeued);
inline constexpr int kItemFinished = static_cast<int>(ItemResult::kFinished);

// ProcessQueue().StartSenders.
void StartSenderThreads(SenderOptions options = {});
// ProcessQueue().StopSenders.
bool StopSenderThreads(std::chrono::milliseconds limit = std::chrono::seconds(5));

// ProcessQueue().PickNextItem.
int PickNextQueueItem();
// ProcessQueue().ProcessItem.
int ProcessQueueItem(int id);

// Delivery attempts in progress in the process's queue.
int ActiveDeliveryCount();

// True when sending may go ahead ([System] "InternetConnectCheck").
bool CheckInternetConnection();

// The tick count the records keep in "LastSendTime": milliseconds of a
// monotonic clock, modulo 2^32.
std::uint32_t QueueTickCount();

}  // namespace quorvex
