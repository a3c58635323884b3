// SMTP log and system log.
#include "servers/logs/ServerLogs.h"

#include <cstdio>
#include <ctime>
#include <mutex>

#include "common/HexDigits.h"
#include "common/Paths.h"
#include "common/ServerSettings.h"
#include "servers/logs/DailyLog.h"

namespace quorvex {

namespace {

std::mutex SmtpLogLock;
std::mutex SystemLogLock;
std::mutex g_display_mutex;
std::function<void(const std::string&)> g_display;

// Line breaks and other control characters in a text (a mail subject in a
// filter hit) would start forged lines of their own: they are written as
// "\r", "\n" and "\xNN". TAB stays.
std::string EscapeLogText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if ((byte < 0x20 && c != '\t') || byte == 0x7F) {
            out += "\\x";
            out += kUpperHexDigits[byte >> 4];
            out += kUpperHexDigits[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

std::string SystemLogLine(std::string_view text, std::time_t now) {
    std::tm local{};
    ::localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::string line = "[";
    line.append(stamp).append("] ");
    line.append(EscapeLogText(text));
    // What fits is kept, and the line still ends in CR LF: a cut line never
    // runs into the next one.
    if (line.size() > kMaxSystemLogLine - 3) line.resize(kMaxSystemLogLine - 3);
    line.append("\r\n");
    return line;
}

// Where the lines that matter most still go when a log is full: the
// system log only while it takes lines itself.
constexpr std::string_view kServerLogStill =
    "Failed logins and login locks still go to standard error and to the system log.";
constexpr std::string_view kSystemLogStill = "Failed logins and login locks still go to standard error.";

constexpr std::string_view kSystemLogPrefix = "syslog";

// Where a full server log in `folder` says the lines that matter still go.
std::string_view ServerLogStill(const std::string& folder, int max_lines, std::time_t now) {
    const DailyLog system_log{std::string(kSystemLogPrefix)};
    return DailyLog::IsFull(system_log.PathFor(folder, now), max_lines) ? kSystemLogStill : kServerLogStill;
}

// The note that ends a full daily log: "<file> is full ([Log]
// MaxLogLine=<n> lines a day): further lines of this day are not written
// to it. <still>".
std::string LogFullText(std::string_view file, int max_lines, std::string_view still) {
    std::string text(file);
    text += " is full ([Log] MaxLogLine=" + std::to_string(max_lines) +
            " lines a day): further lines of this day are not written to it. ";
    text += still;
    return text;
}

}  // namespace

std::string ServerLogFullLine(const std::string& path, int max_lines, std::time_t now) {
    std::string line = LogTimeStamp(now);
    const std::string_view still = ServerLogStill(std::string(DirName(path)), max_lines, now);
    line.append(" QuorvexServer ").append(LogFullText(BaseName(path), max_lines, still)).append("\r\n");
    return line;
}

void ReportFullServerLog(const LogSettings& settings, std::string_view what, const std::string& path) {
    const std::string text = LogFullText(std::string(what) + " " + path, settings.max_lines,
                                         ServerLogStill(settings.folder, settings.max_lines, std::time(nullptr)));
    WriteSystemLog(settings, text);
    ReportOnStandardError(text);
}

void WriteSmtpLog(const LogSettings& settings, std::string_view peer, std::string_view text, NoticeSink& notices) {
    static DailyLog log("smtplog", ServerLogFullLine);
    const std::time_t now = std::time(nullptr);
    std::string line = LogTimeStamp(now);
    line.append(" ").append(peer).append(" ").append(text).append("\r\n");
    std::string notice = "SMTP ";
    notice.append(peer).append(" ").append(text);
    DailyLog::Result result;
    {
        std::lock_guard guard(SmtpLogLock);
        result = log.Append(settings.folder, settings.max_lines, line, now);
    }
    // Notices go out after the lock is released: no log writer waits on
    // whatever the notice sink does.
    if (DailyLog::Refused(result)) notices.Post(NoticeId::WM_SHOW_MESSAGE, "SMTP LOG File Overflow");
    notices.Post(NoticeId::WM_SHOW_MESSAGE, notice);
    if (result == DailyLog::Result::kLimitReached)
        ReportFullServerLog(settings, "The SMTP log", log.PathFor(settings.folder, now));
}

void WriteSystemLog(const LogSettings& settings, std::string_view text) {
    static DailyLog log(std::string(kSystemLogPrefix), [](const std::string& path, int max_lines, std::time_t now) {
        return SystemLogLine(LogFullText(BaseName(path), max_lines, kSystemLogStill), now);
    });
    const std::time_t now = std::time(nullptr);
    std::string line = SystemLogLine(text, now);
    DailyLog::Result result;
    {
        std::lock_guard guard(SystemLogLock);
        result = log.Append(settings.folder, settings.max_lines, line, now);
    }
    if (DailyLog::Refused(result)) line += SystemLogLine("SYS LOG File Overflow", now);
    // Not through the system log itself, which takes no more lines today.
    if (result == DailyLog::Result::kLimitReached)
        ReportOnStandardError(
            LogFullText("The system log " + log.PathFor(settings.folder, now), settings.max_lines, kSystemLogStill));
    std::function<void(const std::string&)> display;
    {
        std::lock_guard guard(g_display_mutex);
        display = g_display;
    }
    if (display) display(line);
}

LogSettings CurrentLogSettings() {
    const auto settings = Settings();
    return {settings->LogFilePath.empty() ? JoinPath(settings->Folder(), "log") : settings->LogFilePath,
            settings->MaxLogLine};
}

void ReportOnStandardError(std::string_view text) {
    std::fprintf(stderr, "QuorvexServer: %.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(stderr);
}

void WriteSystemLogAndStderr(std::string_view text) {
    WriteSystemLog(CurrentLogSettings(), text);
    ReportOnStandardError(text);
}

void SetSystemLogDisplay(std::function<void(const std::string&)> display) {
    std::lock_guard guard(g_display_mutex);
    g_display = std::move(display);
}

}  // namespace quorvex
