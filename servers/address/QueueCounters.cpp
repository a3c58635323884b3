// The counter file and the lock around its read-increment-write.
#include "servers/address/QueueCounters.h"

#include <algorithm>
#include <array>
#include <map>
#include <mutex>
#include <string>

#include "common/ErrorLog.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"

namespace quorvex {
namespace {

std::mutex QueueIndexLock;
// The last number handed out per counter file and kind in this run, so
// that numbers stay unique even while the counter file cannot be written.
std::map<std::string, std::array<int, 3>> last_issued;  // guarded by QueueIndexLock

const char* CounterKey(QueueCounterKind kind) {
    switch (kind) {
        case QUEUE_COUNTER_INTERNET_SEND: return "internet_send";
        case QUEUE_COUNTER_TEMP_POP3: return "temp_pop3";
        case QUEUE_COUNTER_TEMP_SMTP: break;
    }
    return "temp_smtp";
}

}  // namespace

int NextQueueId(QueueCounterKind kind) {
    const std::string folder = JoinPath(ProgramFolder(), "smtp");
    const char* key = CounterKey(kind);
    std::lock_guard lock(QueueIndexLock);
    MakeFolders(folder);
    ProfileFile counters(JoinPath(folder, "index.ini"));
    int& last = last_issued[counters.path()][kind];
    int next = 0;
    const bool written = counters.Edit([&](IniDocument& document) {
        const auto stored = document.Find("Max", key);
        next = std::max(ParseProfileInt(stored ? *stored : std::string_view(), 0), last) + 1;
        return document.Set("Max", key, std::to_string(next));
    });
    last = next;
    if (!written) WriteErrorLog(__FILE__, __LINE__, "cannot write the queue counter file " + counters.path());
    return next;
}

}  // namespace quorvex
