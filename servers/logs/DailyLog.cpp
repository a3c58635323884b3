// Daily counted log files.
#include "servers/logs/DailyLog.h"

#include <fcntl.h>
#include <unistd.h>

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

DailyLog::Result DailyLog::Append(const std::string& folder, int max_lines, std::string_view line, std::time_t now) {
    MakeFolders(folder);
    const std::string path = PathFor(folder, now);
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!fd) return Result::kFailed;
    const off_t size = ::lseek(fd.get(), 0, SEEK_END);
    if (size == 0) {
        if (max_lines < 1) return Result::kFull;
        const std::string header = Header(2);
        return WriteFullyAt(fd.get(), header, 0) && WriteFullyAt(fd.get(), line, static_cast<off_t>(header.size()))
                   ? Result::kWritten
                   : Result::kFailed;
    }
    long long index = ReadFixedCounter(fd.get(), kHeaderStart);
    if (index >= 0) {
        if (index > max_lines) return Result::kFull;
        if (!WriteFullyAt(fd.get(), Header(index + 1), 0)) return Result::kFailed;
    } else {
        // Someone else wrote this file's counter: go through the profile
        // layer, which keeps every other line as it is.
        fd.reset();
        ProfileFile file(path);
        index = file.GetInt("System", "Index", 1);
        if (index > max_lines) return Result::kFull;
        if (!file.WriteInt("System", "Index", index + 1)) return Result::kFailed;
        fd.reset(::open(path.c_str(), O_RDWR | O_CLOEXEC));
        if (!fd) return Result::kFailed;
    }
    const off_t end = ::lseek(fd.get(), 0, SEEK_END);
    return end >= 0 && WriteFullyAt(fd.get(), line, end) ? Result::kWritten : Result::kFailed;
}

}  // namespace quorvex
