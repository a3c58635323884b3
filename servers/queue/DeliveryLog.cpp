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
constexpr std::size_t kHeaderSize = kHeaderStart.size() + kFixedCounterDigits + 2;

std::mutex& SendLogLock() {
    static auto* lock = new std::mutex;
    return *lock;
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
        if (!WriteFullyAt(fd.get(), std::string(kHeaderStart) + FixedCounterDigits(0) + "\r\n", 0)) return false;
        info.st_size = static_cast<off_t>(kHeaderSize);
        memo = {path, 0};
    }
    long long count = ReadFixedCounter(fd.get(), kHeaderStart);
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
        if (!WriteFullyAt(fd.get(), added.Format(), info.st_size) ||
            !WriteFullyAt(fd.get(), FixedCounterDigits(n), static_cast<off_t>(kHeaderStart.size())))
            return restarted;
    } else {
        // An overwrite of an old section (or a file in another layout).
        if (!doc) doc = ReadQueueRecord(path);
        if (!doc) return restarted;
        doc->Set("System", "MsgCount", FixedCounterDigits(n));
        SetRecord(*doc, section, record, end_time);
        fd.reset();
        if (!AtomicWriteFile(path, doc->Format())) return restarted;
    }
    memo.highest = std::max(memo.highest, n);
    if (written != nullptr) *written = true;
    return restarted;
}

}  // namespace quorvex
