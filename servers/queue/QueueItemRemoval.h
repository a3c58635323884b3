// Removing an item from the outgoing queue at the administrator's request
// (the transfer status window). The record names its message file; only a
// bare file name is ever acted on, so a damaged or hostile record cannot
// reach outside the queue folder.
#pragma once

#include <string_view>

namespace quorvex {

// A file name with no folder part: not empty, no '/', not "." or "..".
bool IsBareQueueFileName(std::string_view name);

// Under the queue lock: clears the record's "MailFile" (a sender thread
// delivering the item at this moment then ends its attempt as "removed by
// admin"), deletes the message file when the record names a bare file
// name, then the record. False when there was no record to remove.
bool CancelQueuedItem(int id);

}  // namespace quorvex
