// What must hold before the program touches its folder: the folder can be
// written and config.ini is there and readable (its values are checked as
// the settings are loaded). Each problem is one clear sentence naming the
// file or folder; nothing is written while checking.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorvex::app {

// Empty when the program may start.
std::vector<std::string> CheckProgramFolder(const std::string& folder, const std::string& config_path);

// One warning line when config.ini or an account's settings file
// (mail/<account>/maillist.ini) can be read by other users, naming them;
// nothing when every one is private.
std::optional<std::string> ReadableByOthersWarning(const std::string& config_path,
                                                   const std::vector<std::string>& account_settings_paths);

}  // namespace quorvex::app
