// The main log. Each line goes out in one append, so lines of concurrent
// writers (and of the error log, which shares the file) never interleave;
// the mutex keeps the size check and the restart of this process's writers
// in step.
#include "servers/logs/MainLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "common/AtomicFile.h"
#include "common/Paths.h"
#include "common/UniqueFd.h"
#include "servers/logs/DailyLog.h"

namespace quorvex {

namespace {

std::mutex MainLogLock;

UniqueFd OpenForAppend(const std::string& path, int extra_flags) {
    return UniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | extra_flags, 0600));
}

}  // namespace

void WriteMainLog(const std::string& folder, std::string_view text) {
    std::string line = LogTimeStamp(std::time(nullptr));
    line.append(" ").append(text).append("\r\n");
    const std::string path = JoinPath(folder, kMainLogFileName);
    std::lock_guard guard(MainLogLock);
    UniqueFd fd = OpenForAppend(path, 0);
    if (!fd) {
        if (!MakeFolders(folder)) return;
        fd = OpenForAppend(path, 0);
        if (!fd) return;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) == 0 && st.st_size > kMainLogRestartBytes) {
        fd.reset();
        ::unlink(path.c_str());
        fd = OpenForAppend(path, O_TRUNC);
        if (!fd) return;
    }
    WriteFully(fd.get(), line);
}

std::string DatabaseErrorLine(unsigned long number, std::string_view description) {
    char prefix[48];
    std::snprintf(prefix, sizeof prefix, "Error number: %lx\t", number);
    return std::string(prefix).append(description);
}

}  // namespace quorvex
