// The program's log files as the log dialog and the "Clear log file"
// command see them: today's file of each daily log, and the one safe way to
// clear logs. Clearing removes only files this program writes, directly in
// the log folder: a log folder shared with other programs (even /var/log)
// keeps everything else, subfolders included.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace quorvex::gui {

enum class LogKind { kSmtp, kPop3, kSystem, kInternet };

// "<folder>/smtplog<YYYYMMDD>.txt" and so on, for the local date of `now`.
std::string LogFilePath(LogKind kind, const std::string& folder, std::time_t now);

// True for the name of a file this program writes into its log folder: a
// daily log ("syslog", "smtplog", "pop3log" or "Internetsendlog" followed
// by eight digits and ".txt"), the error log and the traffic dump.
bool IsProgramLogFileName(std::string_view name);

// True when the folder's last component is "log" in any case (a folder the
// program's own settings name for its logs).
bool IsClearableLogFolder(const std::string& folder);

// Removes the program's log files (regular files only, never following a
// link) directly inside a clearable folder. Returns how many were removed;
// -1 when the folder is not clearable or cannot be read.
int ClearProgramLogs(const std::string& folder);

}  // namespace quorvex::gui
