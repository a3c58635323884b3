// Writing the error log. One mutex serialises all writers of the process,
// so a line is always whole and the size check and the restart of the file
// cannot race with another thread's append.
#include "common/ErrorLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <mutex>

#include "common/AtomicFile.h"
#include "common/Paths.h"
#include "common/ServerSettings.h"
#include "common/UniqueFd.h"

namespace quorvex {

namespace {

std::mutex g_write_mutex;
std::mutex g_hook_mutex;
std::mutex g_file_mutex;
std::string& FixedFile() {
    static auto* path = new std::string;
    return *path;
}
ErrorLogAlertHook& AlertHook() {
    static auto* hook = new ErrorLogAlertHook;
    return *hook;
}
thread_local bool t_in_alert_hook = false;

// The file name with its extension, whichever separator the compiler used.
std::string_view SourceFileName(std::string_view path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string FormatLine(std::string_view source_file, int line, std::string_view text) {
    char stamp[32] = "";
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) != nullptr) std::strftime(stamp, sizeof stamp, "%Y/%m/%d %H:%M:%S", &local);

    std::string out;
    out.reserve(text.size() + 64);
    out.append(stamp).append(" ").append(SourceFileName(source_file));
    out.append("(").append(std::to_string(line)).append("): ");
    if (out.size() > kMaxErrorLogPrefixLength) out.resize(kMaxErrorLogPrefixLength);
    out.append(text).append("\r\n");
    return out;
}

UniqueFd OpenForAppend(const std::string& path, int extra_flags) {
    return UniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | extra_flags, 0600));
}

// Appends one line to the file at `path`; false when the line was lost.
bool AppendLine(const std::string& path, std::string_view line) {
    UniqueFd fd = OpenForAppend(path, 0);
    if (!fd) {
        // A fresh installation has no log folder yet; losing every line
        // until somebody creates it by hand would hide the first faults.
        if (!MakeFolders(std::string(DirName(path)))) return false;
        fd = OpenForAppend(path, 0);
        if (!fd) return false;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) == 0 && st.st_size > kErrorLogRestartBytes) {
        fd.reset();
        ::unlink(path.c_str());
        fd = OpenForAppend(path, O_TRUNC);
        if (!fd) return false;
    }
    return WriteFully(fd.get(), line);
}

}  // namespace

std::string ErrorLogPath() {
    {
        std::lock_guard guard(g_file_mutex);
        if (!FixedFile().empty()) return FixedFile();
    }
    const auto settings = Settings();
    const std::string folder =
        settings->LogFilePath.empty() ? JoinPath(settings->Folder(), "log") : settings->LogFilePath;
    return JoinPath(folder, kErrorLogFileName);
}

void WriteErrorLog(std::string_view source_file, int line, std::string_view text) noexcept {
    try {
        const std::string path = ErrorLogPath();
        const std::string formatted = FormatLine(source_file, line, text);
        bool written = false;
        {
            std::lock_guard guard(g_write_mutex);
            if (path.size() > kMaxErrorLogPathLength) {
                const std::string note = "quorvexlog: log path longer than 260 characters: " + formatted;
                WriteFully(STDERR_FILENO, note);
                return;
            }
            written = AppendLine(path, formatted);
        }
        if (!written || t_in_alert_hook) return;
        ErrorLogAlertHook hook;
        {
            std::lock_guard guard(g_hook_mutex);
            hook = AlertHook();
        }
        if (!hook) return;
        t_in_alert_hook = true;
        hook(text);
        t_in_alert_hook = false;
    } catch (...) {
        // Nothing from the log may reach its caller (it runs inside catch
        // handlers); a line that could not be built is lost.
        t_in_alert_hook = false;
    }
}

void SetErrorLogFile(std::string path) {
    std::lock_guard guard(g_file_mutex);
    FixedFile() = std::move(path);
}

void SetErrorLogAlertHook(ErrorLogAlertHook hook) {
    std::lock_guard guard(g_hook_mutex);
    AlertHook() = std::move(hook);
}

}  // namespace quorvex
