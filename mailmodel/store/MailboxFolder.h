// What every file of a mailbox folder is, in one place: committed bodies
// "<number>.eml", bodies being stored (staging names no committed body
// can have), the index and its temporary copies, damaged indexes set
// aside, and the file that keeps the mailbox's last UID. The two rules
// about these files live here too: committed bodies the index does not
// list are listed, and only staging names and index copies are ever
// swept away. Not for use outside mailmodel/store.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/Paths.h"
#include "mailmodel/store/MailStore.h"
#include "mailmodel/store/MailboxIndex.h"

namespace quorvex::store {

// A body being stored has no name until its commit where the file system
// allows it; elsewhere it is ".incoming-" and a unique ending, and its
// writer holds an exclusive flock on it until the body is committed or
// given up.
inline constexpr std::string_view kStagingPrefix = ".incoming-";
// The mailbox's last UID given, kept beside the index: ASCII decimal
// digits and a line end.
inline constexpr std::string_view kLastUidFile = "mailinfo.uid";

inline std::string IndexPath(const std::string& folder) { return JoinPath(folder, kMailboxIndexFile); }
inline std::string LastUidPath(const std::string& folder) { return JoinPath(folder, kLastUidFile); }
inline std::string BodyPath(const std::string& folder, std::int32_t file_number) {
    return JoinPath(folder, std::to_string(file_number) + ".eml");
}
inline std::string StagingTemplate(const std::string& folder) {
    return JoinPath(folder, std::string(kStagingPrefix) + "XXXXXX");
}

// A name not yet taken for a damaged index set aside for inspection:
// "mailinfo.dat.damaged", then "mailinfo.dat.damaged.2", ".3" and so on,
// so that no damaged index overwrites an earlier one.
std::string FreeDamagedIndexPath(const std::string& folder);

// The body number a file name gives ("17.eml": 17); nothing for any other
// name (leading zeros, signs, other endings, numbers past 32 bits).
std::optional<std::int32_t> BodyNumberOf(std::string_view name);

// Messages of the old list format wait in "<number>.eml" files that the
// upgrade moves into the mailbox; the settings file lists them in [List].
bool HoldsOldFormatMessages(const std::string& folder);

struct BodiesListed {
    int listed = 0;
    int unlisted = 0;  // did not fit (the mailbox is full); left where they are
};

// Lists in `index` every regular "<number>.eml" of the folder it does not
// list yet: at the end of folder 0, in number order, unread, each with its
// file size and a new UID after the index's last one (its old UID is not
// known). The last body number is raised past every numbered file. A
// folder with messages of the old list format still to be moved in lists
// none of them.
BodiesListed ListUnlistedBodies(const std::string& folder, MailboxIndexFile& index);

// Removes what interrupted writers left in the folder: staging bodies no
// living writer holds and temporary copies of the index and of the last
// UID file. Never a "<number>.eml". Logs how many files went.
void SweepStagingNames(const std::string& folder);

// The last UID kept beside the index; 0 when none was kept (or the file is
// unreadable, which is logged).
std::uint32_t ReadLastUid(const std::string& folder);
// Keeps `uid` as the last UID: flushed, then renamed into place; the
// caller flushes the folder. False (logged) when it cannot.
bool WriteLastUid(const std::string& folder, std::uint32_t uid);

}  // namespace quorvex::store
