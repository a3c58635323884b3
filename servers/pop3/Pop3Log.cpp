// The daily POP3 log.
#include "servers/pop3/Pop3Log.h"

namespace quorvex::pop3 {

std::string Pop3Log::FilePath(const std::string& folder, std::time_t when) {
    return DailyLog("pop3log").PathFor(folder, when);
}

void Pop3Log::Write(std::string_view source, std::string_view text) {
    const Pop3LogConfig config = config_();
    const std::time_t now = config.Now ? config.Now() : std::time(nullptr);
    const std::string shown_source =
        (config.IsWebMail && config.IsWebMail(source)) ? std::string("WebMail") : std::string(source);
    std::string line = LogTimeStamp(now);
    line += ' ';
    line += shown_source;
    line += ' ';
    line += text;
    line += "\r\n";
    DailyLog::Result result;
    {
        std::lock_guard guard(lock_);
        result = file_.Append(config.Folder, config.MaxLogLine, line, now);
    }
    // Notices go out after the lock: a slow reader never holds up the log.
    if (config.Notice) {
        if (DailyLog::Refused(result)) config.Notice(kPop3LogOverflowNotice);
        config.Notice("POP3 " + shown_source + " " + std::string(text));
    }
    if (result == DailyLog::Result::kLimitReached && config.ReportFull)
        config.ReportFull({config.Folder, config.MaxLogLine}, "The POP3 log", file_.PathFor(config.Folder, now));
}

}  // namespace quorvex::pop3
