// The numbering of queued and temporary message files: three counters in
// section [Max] of "smtp/index.ini" in the program folder. Each number is
// handed out once; the counters only grow.
#pragma once

namespace quorvex {

enum QueueCounterKind : int {
    QUEUE_COUNTER_INTERNET_SEND = 0,  // key "internet_send": outgoing queue items
    QUEUE_COUNTER_TEMP_POP3 = 1,      // key "temp_pop3": files of remote collection
    QUEUE_COUNTER_TEMP_SMTP = 2,      // key "temp_smtp": received messages, auto-replies, reports
};

// Reads the kind's counter (missing: 0), writes it back increased by one
// and returns the new value, so the first number is 1. Safe from any
// number of threads at once: every caller gets a different number.
int NextQueueId(QueueCounterKind kind);

}  // namespace quorvex
