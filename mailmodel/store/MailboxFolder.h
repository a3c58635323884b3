// What every file of a mailbox folder is, in one place: committed bodies
// "<number>.eml", bodies being stored (staging names no committed body
// can have), the index and its temporary copies, damaged indexes set
// aside, the file that keeps the mailbox's last UID, the record of bodies a
// deletion still has to remove and the space held for deletions on a full
// file system. The two rules
// about these files live here too: committed bodies the index does not
// list are listed, and only staging names and index copies are ever
// swept away. Not for use outside mailmodel/store.
#pragma once

#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
// The body numbers a committed deletion has still to remove: ASCII decimal
// numbers, one a line. Written before the index that drops them is put in
// place, gone once their files are.
inline constexpr std::string_view kPendingRemovalsFile = "mailinfo.del";
// Blocks held for the index write of a deletion on a full file system.
inline constexpr std::string_view kSpareFile = "mailinfo.spare";
// A last UID no ordinary mailbox reaches: one this close to the end of the
// 31-bit range was not given by counting messages (a damaged or copied
// file) and is not believed, so that numbering never runs into the end.
inline constexpr std::uint32_t kImplausibleUidMargin = 1u << 24;
inline bool PlausibleLastUid(std::uint32_t uid) { return uid <= INT32_MAX - kImplausibleUidMargin; }

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

// Whether the body may still be there: only a file known to be missing
// makes it gone.
bool BodyMayExist(const std::string& folder, std::int32_t number);

// The numbered names of a folder: every "<number>.eml" (sorted), and the
// sizes of those that are regular files.
struct FolderBodies {
    struct Body {
        std::int32_t number;
        std::int64_t size;
    };
    std::vector<std::int32_t> names;
    std::vector<Body> regular;  // in number order
    std::int32_t highest = 0;
    const Body* Find(std::int32_t number) const;
    bool Named(std::int32_t number) const;
};
// Nothing when the folder cannot be read.
std::optional<FolderBodies> ScanFolderBodies(const std::string& folder);

// The number for a new body after `tried` was taken: past the highest
// numbered file of the folder; when the end of the range is taken, the
// lowest number above `floor` that neither a file nor a record of `index`
// has. Nothing when no number is left.
std::optional<std::int32_t> NumberAfterTaken(const std::string& folder, const MailboxIndexFile& index,
                                             std::int32_t tried, std::int32_t floor);

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
// The same from a scan already made, passing over the bodies `skipped`
// (sorted: files still to be removed).
BodiesListed ListUnlistedBodies(const std::string& folder, MailboxIndexFile& index, const FolderBodies& found,
                                const std::vector<std::int32_t>& skipped);

// Removes what interrupted writers left in the folder: staging bodies no
// living writer holds and temporary copies of the index and of the last
// UID file. Never a "<number>.eml". Logs how many files went.
void SweepStagingNames(const std::string& folder);

// The last UID kept beside the index; 0 when none was kept (or the file is
// unreadable or holds a value no mailbox reaches, which is logged).
std::uint32_t ReadLastUid(const std::string& folder);
// Keeps `uid` as the last UID: flushed, then renamed into place; the
// caller flushes the folder. False (logged) when it cannot.
bool WriteLastUid(const std::string& folder, std::uint32_t uid);

}  // namespace quorvex::store
