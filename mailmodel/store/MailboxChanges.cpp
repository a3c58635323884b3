// Matching a caller's changes to the current records by message identity.
#include "mailmodel/store/MailboxChanges.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <utility>

#include "common/ErrorLog.h"
#include "mailmodel/store/MailboxCache.h"
#include "mailmodel/store/MailboxFolder.h"

namespace quorvex::store {

namespace {

using Identity = std::pair<std::int32_t, std::uint32_t>;  // body number, UID

}  // namespace

bool MatchMailboxChanges(const MailboxSnapshot& snapshot, MailboxIndexFile& index, const std::string& folder,
                         std::vector<std::uint16_t>& pending) {
    pending.assign(index.slots.size(), 0);
    std::map<Identity, std::size_t> slot_of;
    for (std::size_t i = 0; i < index.slots.size(); ++i) {
        const MailboxRecord& r = index.slots[i];
        if (!r.IsFree()) slot_of.emplace(Identity{r.FileNumber, r.Uid}, i);
    }
    const std::size_t listed = static_cast<std::size_t>(std::max(0, snapshot.Counts[0])) +
                               static_cast<std::size_t>(std::max(0, snapshot.Counts[1]));
    int asked = 0;
    int not_applied = 0;
    for (std::size_t i = 0; i < listed && i < snapshot.Records.size(); ++i) {
        const MailboxRecord& s = snapshot.Records[i];
        if (s.Changes != 0) ++asked;
        const auto found = slot_of.find(Identity{s.FileNumber, s.Uid});
        if (found == slot_of.end()) {
            if (s.Changes != 0 && BodyMayExist(folder, s.FileNumber)) ++not_applied;
            continue;
        }
        MailboxRecord& f = index.slots[found->second];
        std::uint16_t& change = pending[found->second];
        if (s.Changes == kChangeDelete) {
            change = kChangeDelete;
            continue;
        }
        // A move to a folder that does not exist is ignored rather than
        // written into the index.
        if ((s.Changes & kChangeMove) && s.MoveTarget < kMailboxFolderCount) {
            change |= kChangeMove;
            f.MoveTarget = s.MoveTarget;
        }
        if (s.Marks != f.Marks) {
            f.Marks = s.Marks;
            change |= kChangeMarks;
        }
    }
    if (not_applied == 0) return true;
    QUORVEX_ERROR_LOG("mailbox changes not committed in " + folder + ": " + std::to_string(not_applied) + " of " +
                      std::to_string(asked) +
                      " changed messages are no longer listed as they were loaded (the index was rebuilt or replaced)");
    return false;
}

}  // namespace quorvex::store
