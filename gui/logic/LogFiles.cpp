#include "gui/logic/LogFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <memory>

#include "common/AccountName.h"
#include "common/ErrorLog.h"
#include "common/UniqueFd.h"
#include "common/net/TrafficDump.h"
#include "common/Paths.h"

namespace quorvex::gui {

namespace {

constexpr std::array<std::string_view, 4> kDailyPrefixes = {"syslog", "smtplog", "pop3log", "Internetsendlog"};
constexpr std::string_view kErrorLogName = "quorvexlog.txt";
constexpr std::string_view kDailySuffix = ".txt";
constexpr std::size_t kDateDigits = 8;

std::string_view Prefix(LogKind kind) {
    switch (kind) {
        case LogKind::kSmtp: return "smtplog";
        case LogKind::kPop3: return "pop3log";
        case LogKind::kSystem: return "syslog";
        case LogKind::kInternet: return "Internetsendlog";
    }
    return "syslog";
}

bool AllDigits(std::string_view text) {
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

}  // namespace

std::string LogFilePath(LogKind kind, const std::string& folder, std::time_t now) {
    std::tm local{};
    ::localtime_r(&now, &local);
    char date[16];
    std::strftime(date, sizeof date, "%Y%m%d", &local);
    return JoinPath(folder, std::string(Prefix(kind)) + date + std::string(kDailySuffix));
}

bool IsProgramLogFileName(std::string_view name) {
    if (name == kErrorLogName || name == kTrafficDumpFileName) return true;
    for (std::string_view prefix : kDailyPrefixes) {
        if (name.size() != prefix.size() + kDateDigits + kDailySuffix.size()) continue;
        if (name.substr(0, prefix.size()) != prefix || !name.ends_with(kDailySuffix)) continue;
        if (AllDigits(name.substr(prefix.size(), kDateDigits))) return true;
    }
    return false;
}

bool IsClearableLogFolder(const std::string& folder) {
    std::string_view path = folder;
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    return SameName(BaseName(path), "log");
}

int ClearProgramLogs(const std::string& folder) {
    if (!IsClearableLogFolder(folder)) return -1;
    // The folder itself is opened without following a link, and every entry
    // is looked at and removed relative to it.
    UniqueFd dir_fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!dir_fd) return -1;
    const int scan_fd = ::dup(dir_fd.get());
    if (scan_fd < 0) return -1;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::fdopendir(scan_fd), ::closedir);
    if (!dir) {
        ::close(scan_fd);
        return -1;
    }
    int removed = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (!IsProgramLogFileName(name)) continue;
        struct stat status {};
        if (::fstatat(dir_fd.get(), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!S_ISREG(status.st_mode)) continue;
        if (::unlinkat(dir_fd.get(), entry->d_name, 0) == 0) {
            ++removed;
        } else {
            QUORVEX_ERROR_LOG("cannot remove the log file " + JoinPath(folder, name));
        }
    }
    return removed;
}

}  // namespace quorvex::gui
