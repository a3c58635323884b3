// Default system folders from the XDG variables and the home folder.
#include "common/SystemLocations.h"

#include <cstdlib>
#include <mutex>

#include "common/AtomicFile.h"
#include "common/Paths.h"

namespace quorvex {

namespace {

std::mutex g_mutex;
SystemLocations& Replacement() {
    static auto* locations = new SystemLocations;
    return *locations;
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string ConfigHome() {
    if (std::string config = Environment("XDG_CONFIG_HOME"); !config.empty()) return config;
    const std::string home = Environment("HOME");
    return home.empty() ? std::string() : JoinPath(home, ".config");
}

// XDG_DESKTOP_DIR="$HOME/Desktop" from user-dirs.dirs, as xdg-user-dirs writes it.
std::string DesktopFolder() {
    const std::string home = Environment("HOME");
    if (home.empty()) return {};
    std::string dirs;
    const std::string config = ConfigHome();
    if (!config.empty() && ReadWholeFile(JoinPath(config, "user-dirs.dirs"), dirs)) {
        constexpr std::string_view kKey = "XDG_DESKTOP_DIR=\"";
        for (std::size_t start = 0; start < dirs.size();) {
            std::size_t end = dirs.find('\n', start);
            if (end == std::string::npos) end = dirs.size();
            std::string_view line(dirs.data() + start, end - start);
            start = end + 1;
            if (!line.starts_with(kKey) || !line.ends_with('"')) continue;
            line = line.substr(kKey.size(), line.size() - kKey.size() - 1);
            if (line.starts_with("$HOME/")) return JoinPath(home, line.substr(6));
            if (line.starts_with("/")) return std::string(line);
        }
    }
    return JoinPath(home, "Desktop");
}

}  // namespace

SystemLocations CurrentSystemLocations() {
    SystemLocations locations;
    {
        std::lock_guard lock(g_mutex);
        locations = Replacement();
    }
    if (locations.machine_registry_folder.empty()) locations.machine_registry_folder = ProgramFolder();
    if (locations.user_registry_folder.empty()) {
        const std::string config = ConfigHome();
        if (!config.empty()) locations.user_registry_folder = JoinPath(config, "QuorvexServer");
    }
    if (locations.desktop_folder.empty()) locations.desktop_folder = DesktopFolder();
    if (locations.autostart_folder.empty()) {
        const std::string config = ConfigHome();
        if (!config.empty()) locations.autostart_folder = JoinPath(config, "autostart");
    }
    return locations;
}

void SetSystemLocations(SystemLocations locations) {
    std::lock_guard lock(g_mutex);
    Replacement() = std::move(locations);
}

}  // namespace quorvex
