// Loading and committing a mailbox's index, its totals, paths and names.
#include "mailmodel/store/MailStore.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>

#include "common/AsciiCase.h"
#include "common/AtomicFile.h"
#include "common/ByteScramble.h"
#include "common/ErrorLog.h"
#include "common/FileSteps.h"
#include "common/UniqueFd.h"
#include "mailmodel/AppServices.h"
#include "mailmodel/account/AccountFolders.h"
#include "mailmodel/store/MailboxCache.h"
#include "mailmodel/store/MailboxChanges.h"

namespace quorvex {

using namespace store;

namespace {

constexpr std::size_t kCopyBlock = 64 * 1024;

void FillSnapshot(const MailboxIndexFile& index, MailboxSnapshot& out) {
    out = MailboxSnapshot{};
    for (int k = 0; k < kMailboxFolderCount; ++k) {
        out.Counts[k] = index.header.MessageCount(k);
        out.Totals[k] = index.header.TotalBytes(k);
    }
    out.Records.reserve(index.slots.size());
    for (const MailboxRecord& r : index.slots)
        if (!r.IsFree()) out.Records.push_back(r);
    std::sort(out.Records.begin(), out.Records.end(),
              [](const MailboxRecord& a, const MailboxRecord& b) { return CompareMailboxRecords(a, b) < 0; });
    for (MailboxRecord& r : out.Records) r.Changes = 0;
}

// The caller holds the mailbox's lock.
bool LoadFromFolder(Mailbox& box, const std::string& folder, MailboxSnapshot& out) {
    const MailboxIndexFile* index = CurrentIndex(box, folder);
    if (!index) return false;
    FillSnapshot(*index, out);
    return true;
}

// Slot numbers of folder k's used records, in position order.
std::vector<std::size_t> FolderSlots(const MailboxIndexFile& index, int folder) {
    std::vector<std::size_t> slots;
    for (std::size_t i = 0; i < index.slots.size(); ++i)
        if (!index.slots[i].IsFree() && index.slots[i].Folder == folder) slots.push_back(i);
    std::sort(slots.begin(), slots.end(),
              [&](std::size_t a, std::size_t b) { return index.slots[a].Position < index.slots[b].Position; });
    return slots;
}

}  // namespace

std::mutex& MailStoreLock(std::string_view account) { return MailboxOf(account).lock; }

bool LoadMailboxIndex(std::string_view account, MailboxSnapshot& out) {
    const auto folder = GetAccountFolderPath(account);
    return folder && LoadFromFolder(MailboxOf(account), *folder, out);
}

bool LoadMailboxIndexLocked(std::string_view account, MailboxSnapshot& out) {
    const auto folder = GetAccountFolderPath(account);
    if (!folder) return false;
    Mailbox& box = MailboxOf(account);
    std::lock_guard guard(box.lock);
    return LoadFromFolder(box, *folder, out);
}

bool ApplyMailboxChanges(std::string_view account, const MailboxSnapshot& snapshot) {
    const auto account_folder = GetAccountFolderPath(account);
    if (!account_folder) return false;
    const auto snapshot_count = static_cast<std::size_t>(std::max(0, snapshot.Counts[0])) +
                                static_cast<std::size_t>(std::max(0, snapshot.Counts[1]));
    if (snapshot.Counts[0] < 0 || snapshot.Counts[1] < 0 || snapshot_count > snapshot.Records.size()) return false;

    Mailbox& box = MailboxOf(account);
    std::lock_guard guard(box.lock);
    const MailboxIndexFile* current = CurrentIndex(box, *account_folder);
    if (!current) return false;
    // Changed on a copy: the cached index stays as on disk until the new
    // one is written.
    auto updated = std::make_unique<MailboxIndexFile>(*current);
    MailboxIndexFile& index = *updated;

    std::array<std::vector<std::size_t>, kMailboxFolderCount> folders{FolderSlots(index, 0), FolderSlots(index, 1)};
    // Each change goes to its message's record wherever it now stands.
    std::vector<std::uint16_t> pending;
    if (!MatchMailboxChanges(snapshot, index, *account_folder, pending)) return false;

    std::array<std::int64_t, kMailboxFolderCount> bytes{};
    std::array<std::int32_t, kMailboxFolderCount> counts{};
    for (int k = 0; k < kMailboxFolderCount; ++k)
        for (std::size_t slot : folders[k]) bytes[k] += index.slots[slot].Size;

    // Close the gaps: unchanged and re-marked records keep their order.
    for (int k = 0; k < kMailboxFolderCount; ++k) {
        for (std::size_t slot : folders[k]) {
            if (pending[slot] != 0 && pending[slot] != kChangeMarks) continue;
            MailboxRecord& r = index.slots[slot];
            if (pending[slot] == kChangeMarks || r.Position != counts[k]) r.Changes = 0;
            r.Position = counts[k]++;
        }
    }
    // Moved messages go to the end of their target folder; deleted ones
    // free their slot (which keeps its other values).
    std::vector<std::int32_t> deleted_files;
    for (int k = 0; k < kMailboxFolderCount; ++k) {
        for (std::size_t slot : folders[k]) {
            MailboxRecord& r = index.slots[slot];
            if (pending[slot] & kChangeMove) {
                const int t = r.MoveTarget;
                r.Position = counts[t]++;
                r.Folder = static_cast<std::uint16_t>(t);
                r.Changes = 0;
                bytes[k] -= r.Size;
                bytes[t] += r.Size;
            } else if (pending[slot] == kChangeDelete) {
                r.Position = -1;
                r.Changes = kChangeDelete;
                bytes[k] -= r.Size;
                deleted_files.push_back(r.FileNumber);
            }
        }
    }
    for (int k = 0; k < kMailboxFolderCount; ++k) {
        if (bytes[k] > kMaxFolderBytes) {
            QUORVEX_ERROR_LOG("commit refused: folder total would overflow in " + *account_folder);
            return false;
        }
        index.header.SetMessageCount(k, counts[k]);
        index.header.SetTotalBytes(k, static_cast<std::int32_t>(bytes[k]));
    }
    return WriteAndRemove(box, *account_folder, std::move(updated), deleted_files);
}

std::optional<MailboxTotals> ReadMailboxTotals(std::string_view account) {
    const auto folder = GetAccountFolderPath(account);
    if (!folder) return std::nullopt;
    Mailbox& box = MailboxOf(account);
    if (const auto committed = CommittedIfCurrent(box, *folder)) return MailboxTotals{committed->messages, committed->bytes};
    std::lock_guard guard(box.lock);
    // A mailbox nobody works on now is read without taking a cache place
    // from those the servers use (the account list reads every mailbox).
    MailboxIndexFile cold;
    const MailboxIndexFile* index = nullptr;
    if (!box.has_cache) {
        struct stat st {};
        if (ReadIndexFile(IndexPath(*folder), cold, st)) {
            index = &cold;
        } else if (errno != ENOENT) {
            return std::nullopt;  // damaged (logged) or unreadable
        }
    }
    if (!index) index = CurrentIndex(box, *folder);
    if (!index) return std::nullopt;
    MailboxTotals totals;
    for (int k = 0; k < kMailboxFolderCount; ++k) {
        totals.messages += index->header.MessageCount(k);
        totals.bytes += index->header.TotalBytes(k);
    }
    return totals;
}

std::int64_t GetMailboxTotalSize(std::string_view account) {
    const auto totals = ReadMailboxTotals(account);
    return totals ? totals->bytes : 0;
}

int GetMailboxMessageCount(std::string_view account) {
    const auto totals = ReadMailboxTotals(account);
    return totals ? totals->messages : 0;
}

std::optional<std::string> GetMailFilePath(std::string_view account, std::int32_t file_number) {
    const auto folder = GetAccountFolderPath(account);
    if (!folder) return std::nullopt;
    return BodyPath(*folder, file_number);
}

std::string FormatMailUid(std::string_view account, std::uint32_t uid) {
    std::string text(account);
    text.append(".").append(GetDomainName()).append(".quorvexserver.").append(std::to_string(uid));
    return text;
}

std::uint32_t ParseUidNumber(std::string_view uid_text) {
    const auto dot = uid_text.rfind('.');
    if (dot == std::string_view::npos) return 0;
    const std::string rest(uid_text.substr(dot + 1));
    return static_cast<std::uint32_t>(std::strtoll(rest.c_str(), nullptr, 10));
}

std::uint8_t MailStoreKey(std::string_view account) {
    unsigned sum = 0;
    for (const char c : account) {
        sum += static_cast<unsigned char>(AsciiLower(c));
    }
    return static_cast<std::uint8_t>(sum & 0xFF);
}

bool ScrambleCopyInto(const std::string& source, int out, std::uint8_t key, const std::string& out_path) {
    UniqueFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in) return false;
    std::unique_ptr<char[]> block(new char[kCopyBlock]);
    for (;;) {
        const ssize_t n = ::read(in.get(), block.get(), kCopyBlock);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return true;
        if (key != 0) ScrambleBytes(block.get(), static_cast<std::size_t>(n), key);
        if (!fs::WriteAll(out, std::string_view(block.get(), static_cast<std::size_t>(n)), out_path)) return false;
    }
}

bool ScrambleCopyFile(const std::string& source, const std::string& destination, std::uint8_t key) {
    UniqueFd out(::open(destination.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!out) return false;
    return ScrambleCopyInto(source, out.get(), key, destination) && fs::Sync(out.get(), destination) &&
           fs::Close(out, destination);
}

}  // namespace quorvex
