// Finding the configuration folder and driving the control program.
#include "vdirinstall/ApacheControl.h"

#include <signal.h>

#include <cerrno>
#include <cstdlib>

#include "common/AtomicFile.h"
#include "common/Paths.h"

namespace quorvex::vdir {

namespace {

std::string FromEnvironment(std::string_view variable, std::string_view fallback) {
    const char* value = std::getenv(std::string(variable).c_str());
    return value != nullptr && *value != '\0' ? std::string(value) : std::string(fallback);
}

// The quoted or plain value after "<key>: " on a line of the listing.
std::string ListingValue(std::string_view listing, std::string_view key) {
    std::size_t at = 0;
    while (at < listing.size()) {
        std::size_t end = listing.find('\n', at);
        if (end == std::string_view::npos) end = listing.size();
        std::string_view line = listing.substr(at, end - at);
        at = end + 1;
        if (!line.starts_with(key) || line.substr(key.size(), 2) != ": ") continue;
        line.remove_prefix(key.size() + 2);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
        if (line.size() >= 2 && line.front() == '"') {
            const std::size_t close = line.find('"', 1);
            if (close != std::string_view::npos) return std::string(line.substr(1, close - 1));
        }
        return std::string(line);
    }
    return {};
}

}  // namespace

std::string ApacheConfFolder() { return FromEnvironment(kConfFolderVariable, kDefaultConfFolder); }

std::string ApacheEnabledFolder(const std::string& conf_folder) {
    std::string_view folder = conf_folder;
    while (folder.size() > 1 && folder.back() == '/') folder.remove_suffix(1);
    if (BaseName(folder) != "conf-available") return {};
    std::string enabled = JoinPath(DirName(folder), "conf-enabled");
    return FolderExists(enabled) ? enabled : std::string();
}

ApacheControl::ApacheControl() : ApacheControl(FromEnvironment(kApachectlVariable, kDefaultApachectl)) {}

ApacheControl::ApacheControl(const std::string& program) : program_(FindProgram(program)) {}

CommandResult ApacheControl::Run(std::initializer_list<std::string_view> arguments) const {
    std::vector<std::string> argv{program_};
    for (const std::string_view argument : arguments) argv.emplace_back(argument);
    return RunCommand(argv, "", true);
}

CommandResult ApacheControl::CheckConfiguration() const { return Run({"-t", "-D", "DUMP_RUN_CFG"}); }

bool ApacheControl::IsRunning(std::string_view run_settings) {
    const std::string pid_file = PidFileOfRunConfig(run_settings);
    std::string text;
    if (pid_file.empty() || !ReadWholeFile(pid_file, text)) return false;
    char* end = nullptr;
    const long pid = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || pid <= 1) return false;
    // EPERM: the process exists but belongs to another user (root's server).
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

CommandResult ApacheControl::GracefulReload() const { return Run({"-k", "graceful"}); }

std::string PidFileOfRunConfig(std::string_view listing) {
    std::string pid_file = ListingValue(listing, "PidFile");
    if (pid_file.empty() || pid_file.front() == '/') return pid_file;
    const std::string root = ListingValue(listing, "ServerRoot");
    return root.empty() ? std::string() : JoinPath(root, pid_file);
}

std::string MissingModuleAdvice(std::string_view check_output) {
    // The directives of a web directory's configuration that come from a
    // module, with the module and what enables it on Debian.
    static constexpr struct {
        std::string_view directive;
        std::string_view module;
        std::string_view enable;
    } kModules[] = {
        {"Alias", "mod_alias", "a2enmod alias"},
        {"Header", "mod_headers", "a2enmod headers"},
        {"DirectoryIndex", "mod_dir", "a2enmod dir"},
        {"php_admin_value", "mod_php", "apt-get install libapache2-mod-php"},
        {"php_admin_flag", "mod_php", "apt-get install libapache2-mod-php"},
    };
    constexpr std::string_view kInvalid = "Invalid command '";
    const std::size_t at = check_output.find(kInvalid);
    if (at == std::string_view::npos) return {};
    const std::size_t start = at + kInvalid.size();
    const std::size_t end = check_output.find('\'', start);
    if (end == std::string_view::npos) return {};
    const std::string_view directive = check_output.substr(start, end - start);
    for (const auto& row : kModules) {
        if (row.directive != directive) continue;
        return "The web server lacks the module " + std::string(row.module) + " (Apache: Invalid command '" +
               std::string(directive) + "'); enable it (" + std::string(row.enable) + ") and run the set-up again.";
    }
    return {};
}

}  // namespace quorvex::vdir
