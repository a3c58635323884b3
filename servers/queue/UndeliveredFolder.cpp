// Parking and resending undeliverable messages.
#include "servers/queue/UndeliveredFolder.h"

#include <unistd.h>

#include <mutex>

#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "mailmodel/store/MailStore.h"
#include "servers/queue/OutgoingQueue.h"
#include "servers/queue/QueueRecord.h"

namespace quorvex {

namespace {

std::mutex& UndeliveredLock() {
    static auto* lock = new std::mutex;
    return *lock;
}

constexpr int kFirstParkedNumber = 100;

std::string ParkedMessagePath(const std::string& name) { return JoinPath(UndeliveredFolder(), name); }

}  // namespace

std::string UndeliveredFolder() { return JoinPath(ProgramFolder(), "undelivered"); }
std::string UndeliveredRecordPath(int n) { return JoinPath(UndeliveredFolder(), std::to_string(n) + ".ini"); }

int MoveToUndelivered(const std::string& message_file, int id) {
    const auto source = ReadQueueRecord(QueueRecordPath(id));
    std::lock_guard guard(UndeliveredLock());
    MakeFolders(UndeliveredFolder());
    ProfileFile index(JoinPath(UndeliveredFolder(), "index.ini"));
    const int n = index.GetInt("System", "NextFileID", kFirstParkedNumber);
    if (!index.WriteInt("System", "NextFileID", n + 1)) return -1;
    const std::string name = "undelivered" + std::to_string(n) + ".dat";
    // The message first, so a parked record always names a whole file.
    if (!ScrambleCopyFile(message_file, ParkedMessagePath(name), 0)) {
        ::unlink(ParkedMessagePath(name).c_str());
        return -1;
    }
    IniDocument parked;
    for (const char* key : {"DestAddr", "ReplyAddr", "BeginTime", "EndTime", "Times", "LastResponse"}) {
        parked.Set(kQueueSection, key, source ? RecordValue(*source, key) : std::string());
    }
    parked.Set(kQueueSection, "MailFile", name);
    if (!WriteQueueRecord(UndeliveredRecordPath(n), parked)) {
        ::unlink(ParkedMessagePath(name).c_str());
        return -1;
    }
    return n;
}

bool ResendUndelivered(int n) {
    const std::string record_path = UndeliveredRecordPath(n);
    const auto record = ReadQueueRecord(record_path);
    const std::string name = record ? RecordValue(*record, "MailFile") : std::string();
    if (!name.empty() && name.find('/') == std::string::npos) {
        const std::string file = ParkedMessagePath(name);
        if (!COutgoingMail().AddToQueue(RecordValue(*record, "DestAddr"), RecordValue(*record, "ReplyAddr"), file)) {
            return false;
        }
        ::unlink(file.c_str());
    }
    ::unlink(record_path.c_str());
    return true;
}

bool DeleteUndelivered(int n) {
    const std::string record_path = UndeliveredRecordPath(n);
    const auto record = ReadQueueRecord(record_path);
    const std::string name = record ? RecordValue(*record, "MailFile") : std::string();
    ::unlink(record_path.c_str());
    if (!name.empty() && name.find('/') == std::string::npos) ::unlink(ParkedMessagePath(name).c_str());
    return true;
}

}  // namespace quorvex
