#include "app/StartupChecks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/Paths.h"
#include "common/UniqueFd.h"

namespace quorvex::app {

std::vector<std::string> CheckProgramFolder(const std::string& folder, const std::string& config_path) {
    std::vector<std::string> problems;
    if (!FolderExists(folder)) {
        problems.push_back("The program folder " + folder + " does not exist.");
        return problems;
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        problems.push_back("The program folder " + folder + " cannot be written (" + std::strerror(errno) + ").");
    }
    if (::access(config_path.c_str(), F_OK) != 0) {
        problems.push_back("The settings file " + config_path + " does not exist.");
        return problems;
    }
    UniqueFd fd(::open(config_path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        problems.push_back("The settings file " + config_path + " cannot be read (" + std::strerror(errno) + ").");
        return problems;
    }
    char probe;
    if (::read(fd.get(), &probe, 1) < 0) {
        problems.push_back("The settings file " + config_path + " cannot be read (" + std::strerror(errno) + ").");
        return problems;
    }
    if (::access(config_path.c_str(), W_OK) != 0) {
        problems.push_back("The settings file " + config_path + " cannot be written (" + std::strerror(errno) + ").");
    }
    return problems;
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
