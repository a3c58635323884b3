// The delivery log.
#include "servers/queue/DeliveryLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>

#include "common/AtomicFile.h"
#include "common/IniDocument.h"
#include "common/Paths.h"
#include "common/UniqueFd.h"
#include "servers/logs/DailyLog.h"
#include "servers/queue/QueueRecord.h"

namespace quorvex {

namespace {

constexpr std::string_view kHeaderStart = "[System]\r\nMsgCount=";
constexpr int kCounterDigits = 10;
constexpr std::size_t kHeaderSize = kHeaderStart.size() + kCounterDigits + 2;

std::mutex& SendLogLock() {
    static auto* lock = new std::mutex;
    return *lock;
}

std::string Counter(long long value) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%0*lld", kCounterDigits, value);
    return digits;
}

bool WriteAll(int fd, std::string_view bytes, off_t offset) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done, offset + static_cast<off_t>(done));
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The counter when the file starts with the fixed-width header, else -1.
long long ReadFixedCounter(int fd) {
    char head[kHeaderSize];
    if (::pread(fd, head, sizeof head, 0) != static_cast<ssize_t>(sizeof head)) return -1;
    const std::string_view text(head, sizeof head);
    if (text.substr(0, kHeaderStart.size()) != kHeaderStart || text.substr(kHeaderSize - 2) != "\r\n") return -1;
    long long value = 0;
    for (char c : text.substr(kHeaderStart.size(), kCounterDigits)) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

// Highest numbered section of the file the log wrote last, so that the
// common case (a new section) needs no read of the whole file.
struct SectionMemo {
    std::string path;
    long long highest = -1;
};

long long HighestSection(const IniDocument& doc) {
    long long highest = 0;
    for (const std::string& name : doc.SectionNames()) {
        if (name.empty() || name.size() > 9 || name.find_first_not_of("0123456789") != std::string::npos) continue;
        highest = std::max(highest, std::stoll(name));
    }
    return highest;
}

void SetRecord(IniDocument& doc, const std::string& section, const DeliveryLogRecord& record,
               const std::string& end_time) {
    doc.Set(section, "BeginTime", record.begin_time);
    doc.Set(section, "DestAddr", RecordText(record.dest_addr));
    doc.Set(section, "ReplyAddr", RecordText(record.reply_addr));
    doc.Set(section, "MailFile", RecordText(record.mail_file));
    doc.Set(section, "EndTime", end_time);
    doc.Set(section, "Times", std::to_string(record.times));
    doc.Set(section, "LastResponse", RecordText(record.last_response));
}

}  // namespace

std::string DeliveryLogPath(const std::string& folder, std::time_t day) {
    std::tm local{};
    ::localtime_r(&day, &local);
    char date[16];
    std::strftime(date, sizeof date, "%Y%m%d", &local);
    return JoinPath(folder, std::string("Internetsendlog") + date + ".txt");
}

bool WriteDeliveryLog(const std::string& folder, int bound, const DeliveryLogRecord& record, std::time_t begin_day,
                      std::time_t now, bool* written) {
    static SectionMemo memo;
    if (written != nullptr) *written = false;
    std::lock_guard guard(SendLogLock());
    MakeFolders(folder);
    const std::string path = DeliveryLogPath(folder, begin_day);
    const std::string end_time = LogTimeStamp(now);
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!fd.valid()) return false;
    struct stat info{};
    if (::fstat(fd.get(), &info) != 0) return false;
    if (info.st_size == 0) {
        if (!WriteAll(fd.get(), std::string(kHeaderStart) + Counter(0) + "\r\n", 0)) return false;
        info.st_size = static_cast<off_t>(kHeaderSize);
        memo = {path, 0};
    }
    long long count = ReadFixedCounter(fd.get());
    const bool fixed = count >= 0;
    std::optional<IniDocument> doc;
    if (!fixed || memo.path != path) {
        doc = ReadQueueRecord(path);
        if (!doc) return false;
        if (!fixed) count = ParseProfileInt(doc->Find("System", "MsgCount").value_or(""), 0);
        memo = {path, HighestSection(*doc)};
    }
    bool restarted = false;
    if (bound > 0 && count >= bound) {
        count = 0;
        restarted = true;
    }
    const long long n = count + 1;
    const std::string section = std::to_string(n);
    if (fixed && n > memo.highest) {
        // A new section: append it, then count it.
        IniDocument added;
        SetRecord(added, section, record, end_time);
        if (!WriteAll(fd.get(), added.Format(), info.st_size) ||
            !WriteAll(fd.get(), Counter(n), static_cast<off_t>(kHeaderStart.size())))
            return restarted;
    } else {
        // An overwrite of an old section (or a file in another layout).
        if (!doc) doc = ReadQueueRecord(path);
        if (!doc) return restarted;
        doc->Set("System", "MsgCount", Counter(n));
        SetRecord(*doc, section, record, end_time);
        fd.reset();
        if (!AtomicWriteFile(path, doc->Format())) return restarted;
    }
    memo.highest = std::max(memo.highest, n);
    if (written != nullptr) *written = true;
    return restarted;
}

}  // namespace quorvex
