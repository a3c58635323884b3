// The traffic dump file: one lock, one append per block.
#include "common/net/TrafficDump.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

#include "common/AtomicFile.h"
#include "common/UniqueFd.h"

namespace quorvex {
namespace {

std::atomic<bool> dump_enabled{false};
std::mutex TrafficDumpLock;
std::string dump_path;  // guarded by TrafficDumpLock

}  // namespace

void SetTrafficDump(bool enabled, std::string path) {
    std::lock_guard lock(TrafficDumpLock);
    dump_path = std::move(path);
    dump_enabled.store(enabled && !dump_path.empty(), std::memory_order_relaxed);
}

bool TrafficDumpEnabled() { return dump_enabled.load(std::memory_order_relaxed); }

void DumpSocketTraffic(std::string_view data) {
    if (!TrafficDumpEnabled()) return;
    std::lock_guard lock(TrafficDumpLock);
    UniqueFd fd(::open(dump_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
    if (!fd) return;  // a dump that cannot be written must not disturb the session
    if (WriteFully(fd.get(), data)) WriteFully(fd.get(), kTrafficDumpSeparator);
}

}  // namespace quorvex
