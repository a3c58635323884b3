// The daily POP3 log "pop3log<YYYYMMDD>.txt" in the log folder, written by
// POP3 sessions and remote collection: a counted daily log (at most
// MaxLogLine lines a day, then a note that it is full), each line also
// passed on as a notice for the log view.
#pragma once

#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "servers/logs/DailyLog.h"
#include "servers/logs/ServerLogs.h"

namespace quorvex::pop3 {

struct Pop3LogConfig {
    std::string Folder;   // [Log] FilePath
    int MaxLogLine = 10000;
    // Sources that are web-mail front ends are written as "WebMail".
    std::function<bool(std::string_view source)> IsWebMail;
    // Receives "POP3 <source> <text>" or the overflow text; must not block.
    std::function<void(std::string_view notice)> Notice;
    // Told once a day, when the file fills up, what is no longer written
    // and where to look instead (the system log and standard error).
    std::function<void(const LogSettings& settings, std::string_view what, const std::string& path)> ReportFull;
    // Local time for the file name and the time stamp (tests fix it).
    std::function<std::time_t()> Now;
};

inline constexpr std::string_view kPop3LogOverflowNotice = "POP3 LOG File Overflow";
// The source of remote collection's lines.
inline constexpr std::string_view kRemotePop3LogSource = "RemotePOP3";

class Pop3Log {
public:
    // `config` is asked for the current settings at every write, so a
    // changed log folder or limit takes effect at once.
    explicit Pop3Log(std::function<Pop3LogConfig()> config) : config_(std::move(config)) {}

    void Write(std::string_view source, std::string_view text);

    // The file of the day for a folder and a time.
    static std::string FilePath(const std::string& folder, std::time_t when);

private:
    std::function<Pop3LogConfig()> config_;
    std::mutex lock_;  // serialises the file updates of this log
    DailyLog file_{"pop3log", ServerLogFullLine};
};

}  // namespace quorvex::pop3
