// The undelivered folder "<program folder>/undelivered": messages the
// queue gave up on and could not report, each a record "<n>.ini" (section
// "Info") with its message "undelivered<n>.dat"; "index.ini" holds the
// next number ([System] "NextFileID", first 100). The transfer status
// window sends them again or deletes them.
#pragma once

#include <string>

namespace quorvex {

std::string UndeliveredFolder();
std::string UndeliveredRecordPath(int n);

// Parks queue item `id` (its record's keys) with `message_file` as its
// message. Returns the parked number, or -1 when nothing could be parked.
int MoveToUndelivered(const std::string& message_file, int id);

// Queues parked message n again as new mail (its tries start again at 0)
// and removes it from the folder. The parked copy is kept when it could
// not be queued.
bool ResendUndelivered(int n);

// Removes parked message n.
bool DeleteUndelivered(int n);

}  // namespace quorvex
