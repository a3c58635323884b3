// Message bodies on their way into a mailbox: copied and fsynced under a
// temporary name in the account folder before the mailbox is locked, so
// the commit only has to give them their number.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/TemporaryFile.h"

namespace quorvex::store {

// A message body written under a temporary name in the account folder
// (".incoming-" and random letters, never ".eml"), removed unless moved.
// Its writer holds a lock on it for its whole life, so a sweep never
// takes a body that is still being stored.
class StagedBody {
public:
    explicit StagedBody(const std::string& folder);

    // Copies the message in (scrambled with `key`, 0 for none) and fsyncs it.
    bool Fill(const std::string& source, std::uint8_t key);
    // Renames it to its final name (replacing a body left by a store that
    // failed before its index was written).
    bool MoveTo(const std::string& destination) { return file_.MoveTo(destination); }

private:
    TemporaryFile file_;  // its descriptor holds the writer's lock
};

// Removes staged bodies that a killed writer left in the account folder:
// older than kStaleStagedAge and not locked by a living writer.
void SweepStagedBodies(const std::string& folder);

}  // namespace quorvex::store
