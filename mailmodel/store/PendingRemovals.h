// The bodies a deletion's commit still has to remove, kept beside the index
// from before the index that drops them is put in place until their files
// are gone: a process killed in between, or a file that cannot be removed,
// leaves them to the next reconcile, which removes them instead of listing
// them as new mail. And the space held for that commit on a full file
// system. Not for use outside mailmodel/store.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorvex::store {

// The numbers kept (sorted, each once); none when there is no record (an
// unreadable or damaged one is logged).
std::vector<std::int32_t> ReadPendingRemovals(const std::string& folder);
// Keeps `numbers` durably (staging name, fsync, rename, folder fsync).
// False (errno tells why) when it cannot; nothing is logged.
bool WritePendingRemovals(const std::string& folder, const std::vector<std::int32_t>& numbers);
// Removes the bodies `numbers` (one already gone counts as removed) and
// flushes the folder, so that the removals are durable before the record
// of them goes. The numbers whose files could not be removed come back,
// each one logged.
std::vector<std::int32_t> RemoveBodies(const std::string& folder, const std::vector<std::int32_t>& numbers);
// Records `left` as the numbers still to remove, or removes the record
// when none is left.
void KeepPendingRemovals(const std::string& folder, const std::vector<std::int32_t>& left);

// The bytes held beside an index of so many record slots: room for the
// index's temporary copy and the record of removals, with their blocks.
std::int64_t SpareBytesFor(std::size_t slots);
// Makes the spare file hold at least `bytes` of allocated blocks; false
// when they cannot be had.
bool HoldSpare(const std::string& folder, std::int64_t bytes);
// Lets the spare's blocks go; false when there was none to let go.
bool ReleaseSpare(const std::string& folder);

}  // namespace quorvex::store
