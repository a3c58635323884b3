// Field-by-field encoding and checking of the mailbox index format.
#include "mailmodel/store/MailboxIndex.h"

#include <algorithm>
#include <cstring>

namespace quorvex {

namespace {

std::uint32_t get_u32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t get_u16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
void put_u32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}
void put_u16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

}  // namespace

std::int32_t MailboxIndexHeader::GetInt(std::size_t offset) const {
    return static_cast<std::int32_t>(get_u32(bytes_.data() + offset));
}

void MailboxIndexHeader::SetInt(std::size_t offset, std::int32_t v) {
    put_u32(bytes_.data() + offset, static_cast<std::uint32_t>(v));
}

MailboxIndexHeader MailboxIndexHeader::New() {
    MailboxIndexHeader header;
    header.SetInt(0, 1);
    for (int folder = 0; folder < kMailboxFolderCount; ++folder) {
        std::uint8_t* slot = header.bytes_.data() + SlotOffset(folder);
        put_u16(slot + 74, static_cast<std::uint16_t>(folder));
        put_u16(slot + 76, 1);
        put_u16(slot + 78, 0xFFFF);
    }
    return header;
}

MailboxIndexHeader MailboxIndexHeader::FromBytes(std::string_view bytes) {
    MailboxIndexHeader header;
    std::memcpy(header.bytes_.data(), bytes.data(), kIndexHeaderSize);
    return header;
}

void EncodeMailboxRecord(const MailboxRecord& r, std::uint8_t* out) {
    put_u32(out + 0, static_cast<std::uint32_t>(r.Slot));
    put_u32(out + 4, static_cast<std::uint32_t>(r.Position));
    put_u32(out + 8, static_cast<std::uint32_t>(r.FileNumber));
    put_u32(out + 12, r.Uid);
    put_u32(out + 16, static_cast<std::uint32_t>(r.Size));
    put_u16(out + 20, r.Marks);
    put_u16(out + 22, r.Folder);
    put_u16(out + 24, r.Changes);
    put_u16(out + 26, r.MoveTarget);
    std::copy(r.Reserved.begin(), r.Reserved.end(), out + 28);
}

MailboxRecord DecodeMailboxRecord(const std::uint8_t* in) {
    MailboxRecord r;
    r.Slot = static_cast<std::int32_t>(get_u32(in + 0));
    r.Position = static_cast<std::int32_t>(get_u32(in + 4));
    r.FileNumber = static_cast<std::int32_t>(get_u32(in + 8));
    r.Uid = get_u32(in + 12);
    r.Size = static_cast<std::int32_t>(get_u32(in + 16));
    r.Marks = get_u16(in + 20);
    r.Folder = get_u16(in + 22);
    r.Changes = get_u16(in + 24);
    r.MoveTarget = get_u16(in + 26);
    std::copy(in + 28, in + 36, r.Reserved.begin());
    return r;
}

std::string MailboxIndexFile::Encode() const {
    std::string out(kIndexHeaderSize + kIndexRecordSize * slots.size(), '\0');
    auto* base = reinterpret_cast<std::uint8_t*>(out.data());
    std::copy(header.bytes().begin(), header.bytes().end(), base);
    for (std::size_t i = 0; i < slots.size(); ++i)
        EncodeMailboxRecord(slots[i], base + kIndexHeaderSize + kIndexRecordSize * i);
    return out;
}

bool ParseMailboxIndex(std::string_view bytes, MailboxIndexFile& out, std::string& error) {
    if (bytes.size() < kIndexHeaderSize) {
        error = "index shorter than its header (" + std::to_string(bytes.size()) + " bytes)";
        return false;
    }
    MailboxIndexFile index;
    index.header = MailboxIndexHeader::FromBytes(bytes);
    const std::int32_t count = index.header.RecordCount();
    if (count < 0 || count > kMaxMailboxRecords) {
        error = "record count " + std::to_string(count) + " out of range";
        return false;
    }
    const std::size_t expected = kIndexHeaderSize + kIndexRecordSize * static_cast<std::size_t>(count);
    if (bytes.size() != expected) {
        error = "index is " + std::to_string(bytes.size()) + " bytes, its record count needs " +
                std::to_string(expected);
        return false;
    }
    std::array<std::int32_t, kMailboxFolderCount> counts{};
    std::array<std::int64_t, kMailboxFolderCount> totals{};
    std::array<std::vector<bool>, kMailboxFolderCount> seen;
    for (int k = 0; k < kMailboxFolderCount; ++k) {
        counts[k] = index.header.MessageCount(k);
        if (counts[k] < 0 || counts[k] > count) {
            error = "folder " + std::to_string(k) + " count " + std::to_string(counts[k]) + " out of range";
            return false;
        }
        seen[k].assign(static_cast<std::size_t>(counts[k]), false);
    }
    const auto* base = reinterpret_cast<const std::uint8_t*>(bytes.data()) + kIndexHeaderSize;
    index.slots.reserve(static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i) {
        MailboxRecord r = DecodeMailboxRecord(base + kIndexRecordSize * static_cast<std::size_t>(i));
        if (!r.IsFree()) {
            const std::string where = "record " + std::to_string(i) + ": ";
            if (r.Folder >= kMailboxFolderCount) {
                error = where + "folder " + std::to_string(r.Folder);
                return false;
            }
            auto& used = seen[r.Folder];
            if (r.Position < 0 || static_cast<std::size_t>(r.Position) >= used.size() ||
                used[static_cast<std::size_t>(r.Position)]) {
                error = where + "position " + std::to_string(r.Position) + " out of range or repeated";
                return false;
            }
            if (r.Size < 0) {
                error = where + "negative size";
                return false;
            }
            used[static_cast<std::size_t>(r.Position)] = true;
            totals[r.Folder] += r.Size;
        }
        r.Slot = i;  // rewrites address records by their index
        index.slots.push_back(r);
    }
    for (int k = 0; k < kMailboxFolderCount; ++k) {
        if (std::find(seen[k].begin(), seen[k].end(), false) != seen[k].end()) {
            error = "folder " + std::to_string(k) + " counts more messages than it holds";
            return false;
        }
        if (totals[k] != index.header.TotalBytes(k)) {
            error = "folder " + std::to_string(k) + " byte total disagrees with its records";
            return false;
        }
    }
    out = std::move(index);
    return true;
}

int CompareMailboxRecords(const MailboxRecord& a, const MailboxRecord& b) {
    const auto rank = [](const MailboxRecord& r) { return r.IsFree() ? 2 : (r.Position == 0 && r.Uid == 0) ? 1 : 0; };
    if (rank(a) != rank(b)) return rank(a) < rank(b) ? -1 : 1;
    if (rank(a) != 0) return 0;
    if (a.Folder != b.Folder) return a.Folder < b.Folder ? -1 : 1;
    if (a.Position != b.Position) return a.Position < b.Position ? -1 : 1;
    return 0;
}

}  // namespace quorvex
