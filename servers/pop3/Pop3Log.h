// The daily POP3 log "pop3log<YYYYMMDD>.txt" in the log folder, written by
// POP3 sessions and remote collection. The file begins with a [System]
// section whose "Index" counts the lines written that day; past the day's
// line limit nothing more is written. Every line is also passed on as a
// notice for the log view.
#pragma once

#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace quorvex::pop3 {

struct Pop3LogConfig {
    std::string Folder;   // [Log] FilePath
    int MaxLogLine = 10000;
    // Sources that are web-mail front ends are written as "WebMail".
    std::function<bool(std::string_view source)> IsWebMail;
    // Receives "POP3 <source> <text>" or the overflow text.
    std::function<void(std::string_view notice)> Notice;
    // Local time for the file name and the time stamp (tests fix it).
    std::function<std::time_t()> Now;
};

inline constexpr std::string_view kPop3LogOverflowNotice = "POP3 LOG File Overflow";

class Pop3Log {
public:
    // `config` is asked for the current settings at every write, so a
    // changed log folder or limit takes effect at once.
    explicit Pop3Log(std::function<Pop3LogConfig()> config) : config_(std::move(config)) {}

    void Write(std::string_view source, std::string_view text);

    // The file of the day for a folder and a time: "<folder>/pop3log%Y%m%d.txt".
    static std::string FilePath(const std::string& folder, std::time_t when);

private:
    bool WriteCounterAndLine(const std::string& path, int index, std::string_view line);

    std::function<Pop3LogConfig()> config_;
    std::mutex lock_;
    // The counter as this process last left the file, so that a line costs
    // one stat and two small writes instead of a re-read of the whole file.
    // The file is recognised by inode, size and change time: an atomic
    // rewrite by another writer changes the inode even at the same size.
    std::string cached_path_;
    std::string cached_identity_;
    int cached_index_ = 0;
};

}  // namespace quorvex::pop3
