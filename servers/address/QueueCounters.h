// The numbering of queued and temporary message files: three counters in
// section [Max] of "smtp/index.ini" in the program folder. Each number is
// handed out once; the counters only grow.
#pragma once

#include <string>

namespace quorvex {

enum QueueCounterKind : int {
    QUEUE_COUNTER_INTERNET_SEND = 0,  // key "internet_send": outgoing queue items
    QUEUE_COUNTER_TEMP_POP3 = 1,      // key "temp_pop3": files of remote collection
    QUEUE_COUNTER_TEMP_SMTP = 2,      // key "temp_smtp": received messages, auto-replies, reports
};

// How many numbers one write of the counter file reserves. The file holds
// the highest number reserved, written (and fsynced) before any number of
// the block is handed out: a restart or crash skips the unused rest of a
// block but never hands out a number twice.
inline constexpr int kQueueIdBlock = 64;

// The next number of the kind: one above the larger of the stored counter
// (missing: 0) and the last number this process handed out, so the first
// number is 1. Safe from any number of threads at once: every caller gets
// a different number. A counter that someone else rewrote is noticed and
// followed.
int NextQueueId(QueueCounterKind kind);
// The same for the counter file "index.ini" of the queue folder `folder`.
int NextQueueId(const std::string& folder, QueueCounterKind kind);

// Forgets what this process reserved and handed out, as a restart would
// (tests of what a new run continues from).
void ForgetQueueIdReservations();

}  // namespace quorvex
