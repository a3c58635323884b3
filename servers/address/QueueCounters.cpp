// The counter file and the lock around its read-increment-write. Numbers
// come from a block reserved in the file, so most calls write nothing.
#include "servers/address/QueueCounters.h"

#include <algorithm>
#include <array>
#include <climits>
#include <map>
#include <mutex>
#include <string>

#include "common/ErrorLog.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"

namespace quorvex {
namespace {

// One counter of one counter file as this process knows it.
struct Counter {
    int issued = 0;    // the last number handed out in this run
    int reserved = 0;  // the value this process last wrote to the file
};

std::mutex QueueIndexLock;
// Keyed by counter file, so that a changed program folder starts afresh.
std::map<std::string, std::array<Counter, 3>> counters;  // guarded by QueueIndexLock

const char* CounterKey(QueueCounterKind kind) {
    switch (kind) {
        case QUEUE_COUNTER_INTERNET_SEND: return "internet_send";
        case QUEUE_COUNTER_TEMP_POP3: return "temp_pop3";
        case QUEUE_COUNTER_TEMP_SMTP: break;
    }
    return "temp_smtp";
}

}  // namespace

int NextQueueId(QueueCounterKind kind) { return NextQueueId(JoinPath(ProgramFolder(), "smtp"), kind); }

int NextQueueId(const std::string& folder, QueueCounterKind kind) {
    const std::string path = JoinPath(folder, "index.ini");
    const char* key = CounterKey(kind);
    std::lock_guard lock(QueueIndexLock);
    Counter& counter = counters[path][kind];
    ProfileFile file(path);
    // A cached read: one stat() while the file is unchanged.
    const int stored = ParseProfileInt(file.GetString("Max", key), 0);
    int next = counter.issued + 1;
    if (stored != counter.reserved) {
        // First use in this run, or someone else rewrote the counter: what
        // this process reserved before is no longer on record.
        counter.reserved = 0;
        next = std::max(stored, counter.issued) + 1;
    }
    if (next <= counter.reserved) {
        counter.issued = next;
        return next;
    }
    MakeFolders(folder);
    int block_end = 0;
    const bool written = file.Edit([&](IniDocument& document) {
        // Read again under the file's write lock, so that a counter moved
        // on by someone else since the cached read is never moved back.
        const auto current = document.Find("Max", key);
        const int on_record = ParseProfileInt(current ? *current : std::string_view(), 0);
        if (on_record != stored) next = std::max(on_record, counter.issued) + 1;
        block_end = next > INT_MAX - kQueueIdBlock ? INT_MAX : next + kQueueIdBlock - 1;
        return document.Set("Max", key, std::to_string(block_end));
    });
    counter.issued = next;
    if (written) {
        counter.reserved = block_end;
    } else {
        // The number stays unique in this run; the next call tries again.
        WriteErrorLog(__FILE__, __LINE__, "cannot write the queue counter file " + path);
    }
    return next;
}

void ForgetQueueIdReservations() {
    std::lock_guard lock(QueueIndexLock);
    counters.clear();
}

}  // namespace quorvex
