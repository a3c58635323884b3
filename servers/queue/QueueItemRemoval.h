// Removing an item from the outgoing queue at the administrator's request
// (the transfer status window; OutgoingQueue::CancelQueuedItem). The
// record names its message file; only a bare file name is ever acted on,
// so a damaged or hostile record cannot reach outside the queue folder.
#pragma once

#include <string_view>

namespace quorvex {

// A file name with no folder part: not empty, no '/', not "." or "..".
bool IsBareQueueFileName(std::string_view name);

}  // namespace quorvex
