// The SMTP log and the system log: daily files in the log folder, each
// with its own lock, and their copies for the administration window. The
// lock covers only the file update; notices and the display hand-off are
// queued, so no writer ever waits for the window.
#pragma once

#include <ctime>
#include <functional>
#include <string>
#include <string_view>

#include "common/Notices.h"

namespace quorvex {

struct LogSettings {
    std::string folder;      // [Log] FilePath
    int max_lines = 10000;   // [Log] MaxLogLine
};

// The log folder ("log" in the program folder when [Log] FilePath is
// empty) and the line limit of the current settings.
LogSettings CurrentLogSettings();

// The last line of a full SMTP or POP3 log: "<time> QuorvexServer
// <file name> is full ([Log] MaxLogLine=<n> lines a day): further lines of
// this day are not written to it." and where failed logins still go, with
// CR LF.
std::string ServerLogFullLine(const std::string& path, int max_lines, std::time_t now);
// Says once, in the system log and on standard error, that `what` ("The
// SMTP log") at `path` is full for the day.
void ReportFullServerLog(const LogSettings& settings, std::string_view what, const std::string& path);

// Appends "<time> <peer> <text>" to "smtplog<date>.txt" and sends the
// notice "SMTP <peer> <text>" (or "SMTP LOG File Overflow" first, when the
// day's file is full). `peer` is what the line shows: the client address,
// "WebMail" for a web-mail front end, or a tag naming the caller. The
// first line refused leaves the note of ServerLogFullLine in the file and
// is reported with ReportFullServerLog.
void WriteSmtpLog(const LogSettings& settings, std::string_view peer, std::string_view text, NoticeSink& notices);

// The longest system log line, time stamp and line end included.
inline constexpr std::size_t kMaxSystemLogLine = 4096;

// Appends "[<time>] <text>" CR LF to "syslog<date>.txt" (control
// characters of the text written as "\r", "\n", "\xNN", so one call is
// always one line) and hands the line
// (with " SYS LOG File Overflow" added when the day's file is full) to the
// display installed with SetSystemLogDisplay. The first line refused
// leaves a note that the file is full in its place, and the same note goes
// to standard error.
void WriteSystemLog(const LogSettings& settings, std::string_view text);

// "QuorvexServer: <text>" as a line of standard error (the journal of a
// service).
void ReportOnStandardError(std::string_view text);

// A line that must reach the administrator even when the day's system log
// is full: written to the system log of the current settings and, with the
// program's name in front, to standard error (the journal of a service).
void WriteSystemLogAndStderr(std::string_view text);

// Where system log lines go for display (the log pane). The handler runs on
// the writer's thread after the log lock is released; it must only queue.
void SetSystemLogDisplay(std::function<void(const std::string&)> display);

}  // namespace quorvex
