// The only code that reads or writes an account's mailbox: storing a
// message file, loading the index into a caller's copy, committing the
// caller's deletions, moves and mark changes, the totals, and the rebuild
// from the "back" folder. Every index rewrite is atomic (temporary file,
// fsync, rename) and a body file is on disk before the index names it.
// Each mailbox has one lock that serialises all work on it (mailboxes of
// different accounts do not wait for each other); no other lock is taken
// while it is held but a small one for its committed totals, so account
// paths are built before it is taken.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "mailmodel/store/MailboxIndex.h"

namespace quorvex {

inline constexpr std::string_view kMailboxIndexFile = "mailinfo.dat";
inline constexpr std::string_view kBackupFolder = "back";

// A caller's loaded copy of an index. Records holds folder 0's messages in
// position order, then folder 1's; Counts[k] of them belong to folder k.
// A caller asks for changes by editing it: a new Marks value, Changes 2 to
// delete, Changes 4 with MoveTarget 0 or 1 to move.
struct MailboxSnapshot {
    std::array<std::int32_t, kMailboxFolderCount> Counts{};
    std::array<std::int32_t, kMailboxFolderCount> Totals{};
    std::vector<MailboxRecord> Records;
};

// The lock of one mailbox (names compare without regard to case).
std::mutex& MailStoreLock(std::string_view account);

// Loads (where there is no index, creating one that lists the message
// files found in the folder). The caller holds MailStoreLock(account).
// False when the account's folder cannot be named, the index cannot be
// read or created, or it is damaged (logged).
bool LoadMailboxIndex(std::string_view account, MailboxSnapshot& out);
// The same, taking MailStoreLock(account): the entry point for every other
// caller.
bool LoadMailboxIndexLocked(std::string_view account, MailboxSnapshot& out);

// A committed message: its body's number and its UID, which together name
// it wherever its record stands (a rebuild may give a body a new UID, and
// records move).
struct StoredMessage {
    std::int32_t file_number = 0;
    std::uint32_t uid = 0;
    bool operator==(const StoredMessage&) const = default;
};

// What holding bytes of a mailbox for a delivery came to: held; no room
// for good (the committed bytes and the delivery's own holds leave none);
// no room for now (only the holds of other deliveries in flight leave
// none); the index cannot be read.
enum class MailboxHold { kHeld, kNoRoom, kBusy, kUnreadable };

// Copies of one message for one or more mailboxes (or folders). Each is
// written and flushed first where nobody sees it (a file without a name,
// or a staging name).
// The commit lists every copy for one mailbox in one index rewrite; for
// several mailboxes it writes and flushes each new index before any is
// renamed into place, so that a failure up to then leaves nothing visible.
// When a rename or the folder flush after it fails, the copies already
// listed are taken back by their identity. Copies never committed are
// removed with this object.
class MailboxCopies {
public:
    MailboxCopies();
    ~MailboxCopies();
    MailboxCopies(const MailboxCopies&) = delete;
    MailboxCopies& operator=(const MailboxCopies&) = delete;

    // Stages a copy for the account's folder 0 or 1 (scrambled with its
    // store key when asked), from memory or from a file. False when it
    // cannot be written; nothing of it is left then.
    bool StageText(std::string_view account, std::string_view text, int folder, bool scramble, bool read);
    bool StageFile(std::string_view account, const std::string& path, int folder, bool scramble, bool read);
    // Holds `size` bytes of the account's mailbox for a copy about to be
    // staged, until the copies are committed or given up, so that two
    // deliveries at once never pass the quota together. kNoRoom when the
    // bytes committed and those this object holds leave no room for them
    // under `quota` (-1: none), kBusy when only the bytes other deliveries
    // hold do; kUnreadable when the mailbox's index cannot be read (a
    // failure to try again, not a full mailbox).
    MailboxHold Reserve(std::string_view account, std::int64_t size, std::int64_t quota);
    // Commits every staged copy: all of them or none. False when one was
    // refused (no free record slot, folder total past the 32-bit field) or
    // an index could not be written or flushed; none is listed then.
    bool Commit();
    // Takes back every committed copy (a later step failed); false when
    // one could not be (logged).
    bool TakeBack();
    // The identity of the k-th staged copy, once committed.
    std::optional<StoredMessage> Stored(std::size_t k) const;
    std::size_t size() const { return copies_.size(); }

private:
    struct Copy;
    bool Stage(std::string_view account, std::string_view text, const std::string* path, std::int64_t size,
               int folder, bool scramble, bool read);
    void Release();
    // The bytes this object holds of the account's mailbox.
    std::int64_t HeldHere(std::string_view account) const;
    std::vector<std::unique_ptr<Copy>> copies_;
    std::vector<std::pair<std::string, std::int64_t>> reserved_;  // account, bytes
};

// Removes the messages with these identities from the account's mailbox,
// wherever their records stand now, and their bodies. One that is gone
// already (no record has its identity and its body is gone: a session
// deleted it) counts as removed. False when one of them is still there
// but no record names it, or the index could not be written.
bool TakeBackMessages(std::string_view account, const std::vector<StoredMessage>& messages);

// Stores a copy of the message file `source` (scrambled with the account's
// store key when asked) into folder 0 or 1: a MailboxCopies of one. When
// uid_text is given and empty it receives the new message's UID number.
bool AddMessageToMailbox(std::string_view account, const std::string& source, std::string* uid_text, int folder,
                         bool scramble, bool read);
// The same for a message held in memory.
bool AddMessageTextToMailbox(std::string_view account, std::string_view text, std::string* uid_text, int folder,
                             bool scramble, bool read);

// Commits a (possibly stale) loaded copy: messages stored since the load
// stay, snapshot messages already gone are passed over, and each change
// reaches its message by body number and UID wherever its record now
// stands. When a change cannot be applied (the message's body is still
// there but no record names it as loaded: a rebuilt index) nothing is
// committed, the count is logged, and the result is false. Body files of
// deleted messages are recorded beside the index before the new index is
// in place and removed only after it, so that a process stopped between
// the two leaves them to the next open, which removes them.
bool ApplyMailboxChanges(std::string_view account, const MailboxSnapshot& snapshot);

// Message count and byte total over both folders, as last committed: a
// commit in flight is not waited for. Nullopt when the index cannot be
// read.
struct MailboxTotals {
    int messages = 0;
    std::int64_t bytes = 0;
};
std::optional<MailboxTotals> ReadMailboxTotals(std::string_view account);

// Sums over both folders; 0 when the index cannot be read.
std::int64_t GetMailboxTotalSize(std::string_view account);
int GetMailboxMessageCount(std::string_view account);

// "<account folder>/<number>.eml".
std::optional<std::string> GetMailFilePath(std::string_view account, std::int32_t file_number);
// "<account>.<mail domain>.quorvexserver.<uid>".
std::string FormatMailUid(std::string_view account, std::uint32_t uid);
// The number after the last "."; 0 when there is none.
std::uint32_t ParseUidNumber(std::string_view uid_text);

// The account's one-byte store key: the sum of the lower-cased name's bytes.
std::uint8_t MailStoreKey(std::string_view account);

// Copies a file XOR-ing every byte with key (0 copies it unchanged), then
// fsyncs the copy. False when a file cannot be opened, read or written.
bool ScrambleCopyFile(const std::string& source, const std::string& destination, std::uint8_t key);
// The same copy into the open file `out` (named `out_path`), without the
// fsync: false when the source cannot be opened or read, or a write fails.
bool ScrambleCopyInto(const std::string& source, int out, std::uint8_t key, const std::string& out_path);

// Stores every "back/*.eml" file of the account, oldest first, plain and
// read, into folder 0. A damaged index is first set aside (as
// "mailinfo.dat.damaged", or ".damaged.2" and on when that is taken) and
// replaced by one that lists the folder's message files with new UIDs. False when the account
// folder cannot be named or a damaged index cannot be replaced.
bool RestoreBackupMails(std::string_view account);

}  // namespace quorvex
