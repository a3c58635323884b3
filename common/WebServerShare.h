// What the web server may use of the program folder. The web-mail
// component runs inside the web server as another user: the files and
// folders it reads or writes belong to the web server's group ([WebMail]
// "Group" of config.ini, default "www-data") with explicit modes, whatever
// the program's umask; nothing is ever writable by everybody.
#pragma once

#include <string>
#include <string_view>

namespace quorvex {

inline constexpr std::string_view kDefaultWebGroup = "www-data";

// Folders the web server writes into: its group may do what the owner
// does, and files made inside keep the group (setgid).
inline constexpr unsigned kWebWorkFolderMode = 02770;
// The pages' folder and the files the web server only reads.
inline constexpr unsigned kWebPagesFolderMode = 02750;
inline constexpr unsigned kWebReadFileMode = 0640;
inline constexpr unsigned kWebWriteFileMode = 0660;

// [WebMail] "Group" of config.ini, default "www-data".
std::string WebServerGroup();

// Gives the path to the web server's group with `mode`; a missing group or
// a refused change is logged and the mode is set without the group (the
// web server then cannot use the path): false, and `reason`, when given,
// gets one sentence on why.
bool ShareWithWebServer(const std::string& path, unsigned mode, std::string* reason = nullptr);

}  // namespace quorvex
