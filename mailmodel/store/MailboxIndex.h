// The on-disk format of a mailbox index ("mailinfo.dat"): a 21,520-byte
// header with the counters and two folder slots, then one 36-byte record per
// message slot, all little-endian. Encoding and decoding go field by field
// at fixed offsets, and a parsed index is checked before anyone trusts it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex {

inline constexpr std::size_t kIndexHeaderSize = 21520;
inline constexpr std::size_t kIndexRecordSize = 36;
inline constexpr std::size_t kFolderSlotOffset = 16;
inline constexpr std::size_t kFolderSlotSize = 84;
// Record slots a mailbox may hold, used and free together.
inline constexpr int kMaxMailboxRecords = 10239;
// Folder 0 is the inbox, folder 1 the second folder of the web-mail pages.
inline constexpr int kMailboxFolderCount = 2;
// Per-folder byte totals live in 32-bit fields on disk.
inline constexpr std::int64_t kMaxFolderBytes = INT32_MAX;

// Pending-change bits of a record in a caller's loaded copy.
inline constexpr std::uint16_t kChangeMarks = 1;
inline constexpr std::uint16_t kChangeDelete = 2;  // only the exact value 2 deletes
inline constexpr std::uint16_t kChangeMove = 4;

struct MailboxRecord {
    std::int32_t Slot = 0;
    std::int32_t Position = 0;  // -1 marks a free slot
    std::int32_t FileNumber = 0;
    std::uint32_t Uid = 0;
    std::int32_t Size = 0;
    std::uint16_t Marks = 0;
    std::uint16_t Folder = 0;
    std::uint16_t Changes = 0;
    std::uint16_t MoveTarget = 0;
    std::array<std::uint8_t, 8> Reserved{};

    bool IsFree() const { return Position == -1; }
    bool operator==(const MailboxRecord&) const = default;
};

// The header kept as its raw bytes, so that reserved fields and folder slots
// 2..255 travel unchanged through every rewrite.
class MailboxIndexHeader {
public:
    // A new index: Version 1, no records, slots 0 and 1 stamped.
    static MailboxIndexHeader New();
    static MailboxIndexHeader FromBytes(std::string_view bytes);  // needs kIndexHeaderSize bytes

    std::int32_t Version() const { return GetInt(0); }
    std::int32_t RecordCount() const { return GetInt(4); }
    std::int32_t LastUid() const { return GetInt(8); }
    std::int32_t LastFileNumber() const { return GetInt(12); }
    std::int32_t MessageCount(int folder) const { return GetInt(SlotOffset(folder)); }
    std::int32_t TotalBytes(int folder) const { return GetInt(SlotOffset(folder) + 4); }

    void SetRecordCount(std::int32_t v) { SetInt(4, v); }
    void SetLastUid(std::int32_t v) { SetInt(8, v); }
    void SetLastFileNumber(std::int32_t v) { SetInt(12, v); }
    void SetMessageCount(int folder, std::int32_t v) { SetInt(SlotOffset(folder), v); }
    void SetTotalBytes(int folder, std::int32_t v) { SetInt(SlotOffset(folder) + 4, v); }

    const std::array<std::uint8_t, kIndexHeaderSize>& bytes() const { return bytes_; }

private:
    static std::size_t SlotOffset(int folder) {
        return kFolderSlotOffset + kFolderSlotSize * static_cast<std::size_t>(folder);
    }
    std::int32_t GetInt(std::size_t offset) const;
    void SetInt(std::size_t offset, std::int32_t v);

    std::array<std::uint8_t, kIndexHeaderSize> bytes_{};
};

void EncodeMailboxRecord(const MailboxRecord& record, std::uint8_t* out);  // 36 bytes
MailboxRecord DecodeMailboxRecord(const std::uint8_t* in);               // 36 bytes

// A whole index: the header and every record slot in file order.
struct MailboxIndexFile {
    MailboxIndexHeader header = MailboxIndexHeader::New();
    std::vector<MailboxRecord> slots;

    std::string Encode() const;
};

// Parses and checks an index. Refused (false, with a reason) when the file
// is shorter than its header, its length disagrees with RecordCount, the
// count is over the limit, a used record names a folder other than 0 or 1,
// a position out of range or twice, a negative size, or the folder counts
// and byte totals disagree with the records.
bool ParseMailboxIndex(std::string_view bytes, MailboxIndexFile& out, std::string& error);

// The canonical order of a loaded index: by folder, then position; free
// records last, blank ones (position 0, uid 0) just before them.
int CompareMailboxRecords(const MailboxRecord& a, const MailboxRecord& b);

}  // namespace quorvex
