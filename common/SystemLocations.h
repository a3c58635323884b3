// Where the per-machine and per-user system files go: the two registry
// profile files, the desktop folder for shortcuts and the XDG autostart
// folder. Each has a default from the environment and can be replaced
// (tests, packaging).
#pragma once

#include <string>

namespace quorvex {

struct SystemLocations {
    std::string machine_registry_folder;  // default: the program folder
    std::string user_registry_folder;     // default: $XDG_CONFIG_HOME (or ~/.config)/QuorvexServer
    std::string desktop_folder;           // default: XDG_DESKTOP_DIR of user-dirs.dirs, or ~/Desktop
    std::string autostart_folder;         // default: $XDG_CONFIG_HOME (or ~/.config)/autostart
};

// The locations in force; an empty field of the replacement falls back to
// its default. An empty result means the environment gives none (no HOME).
SystemLocations CurrentSystemLocations();
void SetSystemLocations(SystemLocations locations);

}  // namespace quorvex
