// The sender threads of the outgoing queue: a fixed pool that takes items
// one at a time (a due retry first, then new mail, then items that wait for
// their retry), hands each to domain delivery, and re-queues, reports or
// parks what failed. Threads sleep on the queue's condition variable until
// an item is queued or the oldest retry falls due. Each pool belongs to the
// OutgoingQueue it serves (StartSenders, StopSenders).
#pragma once

#include <cstdint>

namespace quorvex {

// True when sending may go ahead ([System] "InternetConnectCheck").
bool CheckInternetConnection();

// The tick count the records keep in "LastSendTime": milliseconds of a
// monotonic clock, in 64 bits, so that no retry interval (up to a year)
// wraps around.
std::uint64_t QueueTickCount();

}  // namespace quorvex
