// Parking undeliverable messages and removing parked ones.
#include "servers/queue/UndeliveredFolder.h"

#include <unistd.h>

#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "mailmodel/store/MailStore.h"
#include "servers/queue/QueueRecord.h"

namespace quorvex {

namespace {

constexpr int kFirstParkedNumber = 100;

bool IsBareName(const std::string& name) { return !name.empty() && name.find('/') == std::string::npos; }

}  // namespace

std::string UndeliveredFolder::RecordPath(int n) const { return JoinPath(folder_, std::to_string(n) + ".ini"); }

int UndeliveredFolder::MoveToUndelivered(const std::string& message_file,
                                         const std::optional<IniDocument>& queue_record) {
    std::lock_guard guard(lock_);
    MakeFolders(folder_);
    ProfileFile index(JoinPath(folder_, "index.ini"));
    const int n = index.GetInt("System", "NextFileID", kFirstParkedNumber);
    if (!index.WriteInt("System", "NextFileID", n + 1)) return -1;
    const std::string name = "undelivered" + std::to_string(n) + ".dat";
    const std::string parked_path = JoinPath(folder_, name);
    // The message first, so a parked record always names a whole file.
    if (!ScrambleCopyFile(message_file, parked_path, 0)) {
        ::unlink(parked_path.c_str());
        return -1;
    }
    IniDocument parked;
    for (const char* key : {"DestAddr", "ReplyAddr", "BeginTime", "EndTime", "Times", "LastResponse"}) {
        parked.Set(kQueueSection, key, queue_record ? RecordValue(*queue_record, key) : std::string());
    }
    parked.Set(kQueueSection, "MailFile", name);
    if (!WriteQueueRecord(RecordPath(n), parked)) {
        ::unlink(parked_path.c_str());
        return -1;
    }
    return n;
}

std::optional<UndeliveredFolder::Parked> UndeliveredFolder::Find(int n) const {
    auto record = ReadQueueRecord(RecordPath(n));
    if (!record) return std::nullopt;
    const std::string name = RecordValue(*record, "MailFile");
    if (!IsBareName(name)) return std::nullopt;
    return Parked{std::move(*record), JoinPath(folder_, name)};
}

bool UndeliveredFolder::DeleteUndelivered(int n) {
    const std::string record_path = RecordPath(n);
    const auto record = ReadQueueRecord(record_path);
    const std::string name = record ? RecordValue(*record, "MailFile") : std::string();
    ::unlink(record_path.c_str());
    if (IsBareName(name)) ::unlink(JoinPath(folder_, name).c_str());
    return true;
}

}  // namespace quorvex
