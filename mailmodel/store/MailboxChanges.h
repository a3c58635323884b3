// Matching a caller's edited copy of an index to the index as it stands
// now. A message is known by its identity, its body number together with
// its UID: a change reaches the message it was asked for wherever that
// record has gone since the copy was loaded (another caller's commit, an
// index rewritten in another order), and never a message that took over
// the number. Not for use outside mailmodel/store.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mailmodel/store/MailStore.h"
#include "mailmodel/store/MailboxIndex.h"

namespace quorvex::store {

// Puts the changes of the copy's listed records on `index`: new marks and
// move targets go into the matched records, the change bits to apply into
// `pending` (one entry per slot of `index`, 0 for none). A changed message
// that is no longer in the mailbox at all (no record has its identity and
// its body is gone from `folder`: another caller deleted it) needs nothing
// and is passed over. One whose body is still there but whose record cannot
// be found (an index rebuilt without its UID) cannot be applied: then the
// result is false, the count is logged, and nothing may be committed.
bool MatchMailboxChanges(const MailboxSnapshot& snapshot, MailboxIndexFile& index, const std::string& folder,
                         std::vector<std::uint16_t>& pending);

}  // namespace quorvex::store
