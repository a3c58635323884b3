// The ring file of collected remote message ids.
#include "servers/remotepop3/UidlRecordFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "common/AtomicFile.h"
#include "common/FileSteps.h"
#include "common/PasswordDigest.h"
#include "common/Paths.h"
#include "common/UniqueFd.h"
#include "servers/logs/DailyLog.h"

namespace quorvex::remotepop3 {
namespace {

constexpr std::size_t kTimeOffset = 0;
constexpr std::size_t kLocalIdOffset = 20;
constexpr std::size_t kUidOffset = 91;
constexpr std::size_t kTabs[] = {19, 90, 161};

std::string FieldText(std::string_view record, std::size_t offset) {
    const std::string_view field = record.substr(offset, kUidlTextLength);
    return std::string(field.substr(0, field.find('\0')));
}

bool WriteAt(int fd, std::string_view data, off_t offset) {
    while (!data.empty()) {
        const ssize_t n = ::pwrite(fd, data.data(), data.size(), offset);
        if (n <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(n));
        offset += n;
    }
    return true;
}

// The header: the slot counter as six digits and CR LF. Every slot number
// has at most six digits, so the text is always exactly the header size.
static_assert(kUidlRingSlots <= 1000000 && kUidlHeaderSize == 8);
std::string UidlCounterText(int slot) {
    std::string digits = std::to_string(slot);
    digits.insert(0, 6 - digits.size(), '0');
    return digits + "\r\n";
}

}  // namespace

std::string StoredUidForm(std::string_view uid) {
    if (uid.size() <= kUidlTextLength) return std::string(uid);
    return std::string(uid.substr(0, 37)) + "~" + Md5HexDigest(uid);
}

std::string EncodeUidlRecord(std::time_t fetched, std::string_view local_id, std::string_view uid) {
    std::string record(kUidlRecordSize, '\0');
    const std::string stamp = LogTimeStamp(fetched).substr(0, 19);
    record.replace(kTimeOffset, stamp.size(), stamp);
    const std::string_view id = local_id.substr(0, kUidlTextLength);
    record.replace(kLocalIdOffset, id.size(), id);
    const std::string stored = StoredUidForm(uid);
    record.replace(kUidOffset, stored.size(), stored);
    for (const std::size_t tab : kTabs) record[tab] = '\t';
    record[162] = '\r';
    record[163] = '\n';
    return record;
}

void UidlRecordFile::Load() {
    ids_.clear();
    std::string bytes;
    if (!ReadWholeFile(path_, bytes) || bytes.size() < kUidlHeaderSize) return;
    for (std::size_t at = kUidlHeaderSize; at + kUidlRecordSize <= bytes.size(); at += kUidlRecordSize) {
        const std::string_view record(bytes.data() + at, kUidlRecordSize);
        if (record[19] != '\t' || record[90] != '\t' || record[161] != '\t') continue;
        std::string uid = FieldText(record, kUidOffset);
        if (!uid.empty()) ids_.insert(std::move(uid));
    }
}

bool UidlRecordFile::Contains(std::string_view uid) const {
    return ids_.count(StoredUidForm(uid)) != 0;
}

bool UidlRecordFile::Record(std::string_view uid, std::string_view local_id, std::time_t fetched) {
    UniqueFd fd(::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!fd) return false;
    char head[kUidlHeaderSize + 1] = {};
    const ssize_t got = ::pread(fd.get(), head, kUidlHeaderSize, 0);
    int slot = 0;
    if (got > 0) std::sscanf(head, "%d", &slot);
    // A counter outside the ring (a damaged file) starts the ring again
    // rather than writing past it.
    if (slot < 0 || slot >= kUidlRingSlots) slot = 0;
    const int next = slot + 1 >= kUidlRingSlots ? 0 : slot + 1;

    const std::string record = EncodeUidlRecord(fetched, local_id, uid);
    const auto offset = static_cast<off_t>(kUidlHeaderSize + kUidlRecordSize * static_cast<std::size_t>(slot));
    if (!WriteAt(fd.get(), record, offset) || !fs::SyncData(fd.get(), path_)) return false;
    if (!WriteAt(fd.get(), UidlCounterText(next), 0) || !fs::SyncData(fd.get(), path_)) {
        return false;
    }
    if (!fd.close_checked()) return false;
    SyncFolder(std::string(DirName(path_)));
    ids_.insert(StoredUidForm(uid));
    return true;
}

}  // namespace quorvex::remotepop3
