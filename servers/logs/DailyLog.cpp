// Daily counted log files.
#include "servers/logs/DailyLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "common/AtomicFile.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/UniqueFd.h"

namespace quorvex {

namespace {

constexpr std::string_view kHeaderStart = "[System]\r\nIndex=";

std::string Header(long long index) { return std::string(kHeaderStart) + FixedCounterDigits(index) + "\r\n"; }

}  // namespace

std::string FixedCounterDigits(long long value) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%0*lld", kFixedCounterDigits, value);
    return digits;
}

long long ReadFixedCounter(int fd, std::string_view header_start) {
    const std::size_t size = header_start.size() + kFixedCounterDigits + 2;
    std::string head(size, '\0');
    if (::pread(fd, head.data(), size, 0) != static_cast<ssize_t>(size)) return -1;
    const std::string_view text(head);
    if (text.substr(0, header_start.size()) != header_start || text.substr(size - 2) != "\r\n") return -1;
    long long value = 0;
    for (char c : text.substr(header_start.size(), kFixedCounterDigits)) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::string LogTimeStamp(std::time_t now) {
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &local);
    return text;
}

std::string DailyLog::PathFor(const std::string& folder, std::time_t now) const {
    std::tm local{};
    ::localtime_r(&now, &local);
    char date[16];
    std::strftime(date, sizeof date, "%Y%m%d", &local);
    return JoinPath(folder, prefix_ + date + ".txt");
}

bool DailyLog::Open(const std::string& folder, const std::string& path) {
    Close();
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!fd && errno == ENOENT && MakeFolders(folder)) fd.reset(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0) return false;
    fd_ = std::move(fd);
    path_ = path;
    dev_ = st.st_dev;
    ino_ = st.st_ino;
    size_ = st.st_size;
    index_ = -1;
    return true;
}

void DailyLog::Close() {
    fd_.reset();
    path_.clear();
    index_ = -1;
}

DailyLog::Result DailyLog::Append(const std::string& folder, int max_lines, std::string_view line, std::time_t now) {
    const std::string path = PathFor(folder, now);
    struct stat st {};
    if (!fd_ || path != path_ || ::stat(path.c_str(), &st) != 0 || st.st_dev != dev_ || st.st_ino != ino_) {
        if (!Open(folder, path)) return Result::kFailed;
    } else if (st.st_size != size_) {
        // Someone else wrote to the file: its counter is read again.
        size_ = st.st_size;
        index_ = -1;
    }
    // Lines 1 .. limit are the day's; the line numbered limit + 1 is the
    // note that the file is full, and nothing follows it.
    const long long limit = std::max(max_lines, 0);
    const auto note_due = [&](long long index) { return index == limit + 1 && full_line_; };
    const auto refused = [&](long long index) { return index > limit && !note_due(index); };
    std::string note;
    const auto text = [&](long long index) -> std::string_view {
        if (!note_due(index)) return line;
        note = full_line_(path_, max_lines, now);
        return note;
    };
    const int fd = fd_.get();
    if (size_ == 0) {
        if (refused(1)) return Result::kFull;
        const std::string header = Header(2);
        const std::string_view first = text(1);
        if (!WriteFullyAt(fd, header, 0) || !WriteFullyAt(fd, first, static_cast<off_t>(header.size()))) {
            Close();
            return Result::kFailed;
        }
        size_ = static_cast<off_t>(header.size() + first.size());
        index_ = 2;
        return note_due(1) ? Result::kLimitReached : Result::kWritten;
    }
    if (index_ < 0) index_ = ReadFixedCounter(fd, kHeaderStart);
    long long index = index_;
    if (index >= 0) {
        if (refused(index)) return Result::kFull;
        if (!WriteFullyAt(fd, Header(index + 1), 0)) {
            Close();
            return Result::kFailed;
        }
        ++index_;
    } else {
        // Someone else wrote this file's counter: go through the profile
        // layer, which keeps every other line as it is (and replaces the
        // file, which is opened again).
        Close();
        ProfileFile file(path);
        index = file.GetInt("System", "Index", 1);
        if (refused(index)) return Result::kFull;
        if (!file.WriteInt("System", "Index", index + 1) || !Open(folder, path)) return Result::kFailed;
    }
    const std::string_view written = text(index);
    if (!WriteFullyAt(fd_.get(), written, size_)) {
        Close();
        return Result::kFailed;
    }
    size_ += static_cast<off_t>(written.size());
    return note_due(index) ? Result::kLimitReached : Result::kWritten;
}

bool DailyLog::IsFull(const std::string& path, int max_lines) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return false;  // no file yet: nothing written today
    long long index = ReadFixedCounter(fd.get(), kHeaderStart);
    if (index < 0) index = ProfileFile(path).GetInt("System", "Index", 1);
    return index > std::max(max_lines, 0);
}

}  // namespace quorvex
