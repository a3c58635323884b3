// A daily log file that counts its own lines: an INI section "[System]"
// with "Index" (the number of the next line) at the top of the file, log
// lines appended below. Once Index passes the line limit, nothing more is
// written that day; a log that has a note for it ends with that note, so a
// reader of the file learns that it is full and where further lines go.
// The counter is kept with a fixed number of digits so it can be updated
// in place: a line costs one small write and one append, not a rewrite of
// the whole file. The day's file stays open with its counter
// and length in memory; a look at the file before each line notices when
// someone else replaced, removed or wrote to it, and then it is read again.
// A file whose counter is written another way is still read and updated
// correctly, through the profile layer.
#pragma once

#include <sys/types.h>

#include <ctime>
#include <functional>
#include <string>
#include <string_view>

#include "common/UniqueFd.h"

namespace quorvex {

class DailyLog {
public:
    // The note that ends a full file (with its line end), for the file's
    // path and limit and the time of the first line it refused.
    using FullLine = std::function<std::string(const std::string& path, int max_lines, std::time_t now)>;

    // Files are "<folder>/<prefix><YYYYMMDD>.txt".
    explicit DailyLog(std::string prefix, FullLine full_line = {})
        : prefix_(std::move(prefix)), full_line_(std::move(full_line)) {}

    // kLimitReached: `line` was refused and the file's note written in its
    // place, once a day, at the first line beyond the limit.
    enum class Result { kWritten, kLimitReached, kFull, kFailed };
    // The line was not written: the file was full, or became full with it.
    static bool Refused(Result result) { return result == Result::kLimitReached || result == Result::kFull; }

    // Appends `line` (which carries its own line end) to today's file in
    // `folder` unless the file already holds `max_lines` lines. The caller
    // serialises calls (its log lock).
    Result Append(const std::string& folder, int max_lines, std::string_view line, std::time_t now);

    // The file for a day.
    std::string PathFor(const std::string& folder, std::time_t now) const;

    // Whether the day's file at `path` takes no more lines under
    // `max_lines` (read from the file: another writer's count counts).
    static bool IsFull(const std::string& path, int max_lines);

private:
    // Opens `path` (creating it and its folder) and takes its identity and
    // length; the counter is read again when next needed.
    bool Open(const std::string& folder, const std::string& path);
    void Close();

    std::string prefix_;
    FullLine full_line_;
    // The open file of the day, as this writer last left it.
    std::string path_;
    UniqueFd fd_;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
    off_t size_ = 0;
    long long index_ = -1;  // -1: to be read from the file
};

// Counters kept at the top of a log file as "[System]\r\n<Key>=" with a
// fixed number of digits and CR LF, so that they can be updated in place.
inline constexpr int kFixedCounterDigits = 10;
std::string FixedCounterDigits(long long value);
// The counter when the file starts with `header_start` ("[System]\r\n<Key>=")
// and the fixed-width digits; -1 for a file written any other way.
long long ReadFixedCounter(int fd, std::string_view header_start);

// "%Y/%m/%d %H:%M:%S" in local time.
std::string LogTimeStamp(std::time_t now);

}  // namespace quorvex
