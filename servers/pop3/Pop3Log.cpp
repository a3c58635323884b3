// The daily POP3 log with its line counter kept inside the file.
#include "servers/pop3/Pop3Log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/UniqueFd.h"

namespace quorvex::pop3 {
namespace {

constexpr std::string_view kCounterHead = "[System]\r\nIndex=";

std::string TimeText(std::time_t when, const char* format) {
    std::tm local{};
    ::localtime_r(&when, &local);
    char buffer[64];
    const std::size_t n = std::strftime(buffer, sizeof buffer, format, &local);
    return std::string(buffer, n);
}

bool WriteAll(int fd, std::string_view data, off_t offset, bool positional) {
    while (!data.empty()) {
        const ssize_t n = positional ? ::pwrite(fd, data.data(), data.size(), offset)
                                     : ::write(fd, data.data(), data.size());
        if (n <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(n));
        offset += n;
    }
    return true;
}

std::string FileIdentity(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return {};
    return std::to_string(info.st_ino) + ":" + std::to_string(info.st_size) + ":" +
           std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec);
}

}  // namespace

std::string Pop3Log::FilePath(const std::string& folder, std::time_t when) {
    return JoinPath(folder, "pop3log" + TimeText(when, "%Y%m%d") + ".txt");
}

// Writes "Index" = index + 1 and appends the line. The counter digits are
// overwritten in place while their width stays the same (the file was
// written by this code and begins with the counter); otherwise the file is
// rewritten through the profile layer once and the line appended.
bool Pop3Log::WriteCounterAndLine(const std::string& path, int index, std::string_view line) {
    const std::string old_digits = std::to_string(index);
    const std::string new_digits = std::to_string(index + 1);
    bool in_place = false;
    if (old_digits.size() == new_digits.size()) {
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        std::string head(kCounterHead.size() + old_digits.size() + 2, '\0');
        if (fd && ::pread(fd.get(), head.data(), head.size(), 0) == static_cast<ssize_t>(head.size())) {
            in_place = head == std::string(kCounterHead) + old_digits + "\r\n";
        }
    }
    if (in_place) {
        UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
        if (!fd || !WriteAll(fd.get(), new_digits, static_cast<off_t>(kCounterHead.size()), true)) return false;
    } else if (!ProfileFile(path).WriteInt("System", "Index", index + 1)) {
        return false;
    }
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
    if (!fd || !WriteAll(fd.get(), line, 0, false)) return false;
    cached_path_ = path;
    cached_index_ = index + 1;
    cached_identity_ = FileIdentity(path);
    return true;
}

void Pop3Log::Write(std::string_view source, std::string_view text) {
    const Pop3LogConfig config = config_();
    const std::time_t now = config.Now ? config.Now() : std::time(nullptr);
    const std::string shown_source =
        (config.IsWebMail && config.IsWebMail(source)) ? std::string("WebMail") : std::string(source);
    std::string notice;
    {
        std::lock_guard guard(lock_);
        MakeFolders(config.Folder);
        const std::string path = FilePath(config.Folder, now);
        int index = 0;
        if (path == cached_path_ && !cached_identity_.empty() && FileIdentity(path) == cached_identity_) {
            index = cached_index_;
        } else {
            ProfileFile::ClearCache();
            index = ReadProfileInt(path, "System", "Index", 1);
        }
        if (index > config.MaxLogLine) {
            notice = kPop3LogOverflowNotice;
        } else {
            std::string line = TimeText(now, "%Y/%m/%d %H:%M:%S");
            line += ' ';
            line += shown_source;
            line += ' ';
            line += text;
            line += "\r\n";
            if (!WriteCounterAndLine(path, index, line)) cached_path_.clear();
        }
    }
    // Notices go out after the lock: a slow reader never holds up the log.
    if (config.Notice) {
        if (!notice.empty()) config.Notice(notice);
        config.Notice("POP3 " + shown_source + " " + std::string(text));
    }
}

}  // namespace quorvex::pop3
