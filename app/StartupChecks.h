// What must hold before the program touches its folder: the folder can be
// written, config.ini is there and readable, and the values the program
// cannot run without are sound. Each problem is one clear sentence naming
// the file, key or folder; nothing is written while checking.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorvex::app {

// Empty when the program may start.
std::vector<std::string> CheckProgramFolder(const std::string& folder, const std::string& config_path);

// The problems of the port keys ([Port] SMTP, POP3, Admin): a value that is
// not a whole number from 1 to 65535. Missing keys take their defaults.
std::vector<std::string> CheckPortValues(const std::string& config_path);

// One warning line when config.ini or an account's settings file
// (mail/<account>/maillist.ini) can be read by other users, naming them;
// nothing when every one is private.
std::optional<std::string> ReadableByOthersWarning(const std::string& config_path,
                                                   const std::vector<std::string>& account_settings_paths);

}  // namespace quorvex::app
