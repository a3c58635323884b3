// Bringing an index this process did not write itself (its first open of
// the mailbox, a copy put back, another writer) into line with the folder,
// which is believed over it: bodies a committed deletion left are removed,
// records whose body is gone are dropped, sizes are taken from the files,
// committed bodies the index does not list are listed, and the last UID
// and body number are raised past every one in use. Not for use outside
// mailmodel/store.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mailmodel/store/MailboxFolder.h"
#include "mailmodel/store/MailboxIndex.h"

namespace quorvex::store {

struct Reconciled {
    BodiesListed found;  // bodies listed, or left unlisted for want of room
    int dropped = 0;     // records whose body is gone
    int resized = 0;     // records whose size disagreed with their file
    int removed = 0;     // bodies of committed deletions removed
    bool uid_reset = false;  // the index's last UID was past any mailbox's
    bool changed = false;    // the index must be written
};

// Reconciles `index` with `folder`. `removals` holds the bodies still to
// remove (from the record beside the index and this process's memory);
// it receives the ones left to remove. Each finding is logged, one line
// per kind. An index whose folder cannot be read is left as it is.
// `kept_uid` is the last UID kept beside the index (0: none believed).
Reconciled ReconcileWithFolder(const std::string& folder, MailboxIndexFile& index, bool on_disk,
                               std::uint32_t kept_uid, std::vector<std::int32_t>& removals);

}  // namespace quorvex::store
