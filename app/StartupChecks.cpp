#include "app/StartupChecks.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "common/Paths.h"
#include "common/UniqueFd.h"

namespace quorvex::app {

std::optional<std::string> LoginNameOf(uid_t user) {
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(user, &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr) return std::nullopt;
    return std::string(found->pw_name);
}

namespace {

// A user's login name, or its number when it has none.
std::string UserName(uid_t user) { return LoginNameOf(user).value_or(std::to_string(user)); }

// The system's reason for `error`, with the user it was refused to.
std::string ErrorReason(int error) {
    std::string reason = std::strerror(error);
    if (error == EACCES || error == EPERM) reason += " for user " + UserName(::geteuid());
    return reason;
}

}  // namespace

std::string UnsafeFolderProblem(const std::string& folder, const struct stat& st) {
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) == 0) return {};
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return "The program folder " + folder + " (owner " + UserName(st.st_uid) + ", mode " + mode +
           ") can be written by other users than its owner and root: make it writable by its owner only (chmod go-w).";
}

std::string ReadProblemReason(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return ErrorReason(errno);
    if (S_ISDIR(st.st_mode)) return "it is a folder, not a file";
    if (!S_ISREG(st.st_mode)) return "it is a device or another special file, not a regular file";
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return ErrorReason(errno);
    char probe;
    if (::read(fd.get(), &probe, 1) < 0) return ErrorReason(errno);
    return {};
}

std::vector<std::string> CheckProgramFolder(const std::string& folder, const std::string& config_path) {
    std::vector<std::string> problems;
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) {
        const int error = errno;
        problems.push_back(error == ENOENT || error == ENOTDIR
                               ? "The program folder " + folder + " does not exist."
                               : "The program folder " + folder + " cannot be reached (" + ErrorReason(error) + ").");
        return problems;
    }
    if (!S_ISDIR(st.st_mode)) {
        problems.push_back("The program folder " + folder + " is not a folder.");
        return problems;
    }
    if (std::string unsafe = UnsafeFolderProblem(folder, st); !unsafe.empty()) {
        problems.push_back(std::move(unsafe));
        return problems;
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        problems.push_back("The program folder " + folder + " cannot be written (" + ErrorReason(errno) + ").");
    }
    // Only a file that is certainly not there is called missing: a folder
    // this user cannot enter hides whether it is.
    if (::stat(config_path.c_str(), &st) != 0 && errno == ENOENT) {
        problems.push_back("The settings file " + config_path + " does not exist.");
        return problems;
    }
    if (const std::string reason = ReadProblemReason(config_path); !reason.empty()) {
        problems.push_back("The settings file " + config_path + " cannot be read (" + reason + ").");
        return problems;
    }
    if (::access(config_path.c_str(), W_OK) != 0) {
        problems.push_back("The settings file " + config_path + " cannot be written (" + ErrorReason(errno) + ").");
    }
    return problems;
}

std::string PortChangeNote(const ListenerPorts& in_use, const ListenerPorts& configured) {
    const struct {
        const char* name;
        int used;
        int wanted;
    } rows[] = {{"SMTP", in_use.smtp, configured.smtp},
                {"POP3", in_use.pop3, configured.pop3},
                {"account server", in_use.admin, configured.admin}};
    std::string changed;
    for (const auto& row : rows) {
        if (row.used == 0 || row.used == row.wanted) continue;
        if (!changed.empty()) changed += ", ";
        changed += std::string(row.name) + " " + std::to_string(row.wanted) + " (in use: " + std::to_string(row.used) +
                   ")";
    }
    if (changed.empty()) return {};
    return "The new ports take effect at the next start: " + changed + ".";
}

std::optional<std::string> ReadableByOthersWarning(const std::string& config_path,
                                                   const std::vector<std::string>& account_settings_paths) {
    constexpr std::size_t kNamed = 3;
    const auto readable_by_others = [](const std::string& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IROTH) != 0;
    };
    std::vector<std::string> found;
    if (readable_by_others(config_path)) found.push_back(config_path);
    for (const std::string& path : account_settings_paths) {
        if (readable_by_others(path)) found.push_back(path);
    }
    if (found.empty()) return std::nullopt;
    std::string text = "Warning: other users can read ";
    for (std::size_t i = 0; i < found.size() && i < kNamed; ++i) text += (i ? ", " : "") + found[i];
    if (found.size() > kNamed) text += " and " + std::to_string(found.size() - kNamed) + " more";
    text += " (passwords are stored there): make them readable by their owner only (chmod go-rwx).";
    return text;
}

}  // namespace quorvex::app
