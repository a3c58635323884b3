// The texts the program shows its administrator, and where they go while
// the program runs without its windows: a message box becomes a line of
// the system log and a line on standard error.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace quorvex::app {

// Numbered texts of the program (looked up through the language file).
inline constexpr unsigned IDS_SOCKETS_FAILED = 104;
inline constexpr unsigned IDS_PROGRAM_VERSION = 120;
inline constexpr unsigned IDS_SMTP_FAILED = 32806;
inline constexpr unsigned IDS_POP3_FAILED = 32807;
inline constexpr unsigned IDS_ACCOUNT_SERVER_FAILED = 32808;
inline constexpr unsigned IDS_ANOTHER_INSTANCE = 32809;
inline constexpr unsigned IDS_WEB_DIRECTORY_FAILED = 32811;
inline constexpr unsigned IDS_COM_REGISTRATION_FAILED = 32845;
inline constexpr unsigned IDS_STARTED = 32846;
inline constexpr unsigned IDS_STARTED_WITHOUT_WEB = 32847;

inline constexpr std::string_view kProgramName = "QuorvexServer";
inline constexpr std::string_view kProgramVersion = "5.3";

// Registers the texts above; once, before the first message.
void RegisterProgramStrings();

// The translated text of a numbered string.
std::string ProgramString(unsigned id);

// "QuorvexServer and http://<computer>/mail start successfully." with the
// computer name in lower case, where the web mail is published there;
// without it, "QuorvexServer started successfully.", naming no address
// that serves nothing.
std::string StartupLine(std::string_view computer_name, bool web_mail_published);

// What a message box shows: written to the system log and, with the
// program's name in front, to standard error; with a window, also shown
// in a message box through the display set here.
void ShowProgramMessage(std::string_view text);
// Where ShowProgramMessage shows its box (the window's message display);
// empty: nowhere. The display must not wait for the window.
void SetProgramMessageDisplay(std::function<void(std::string_view)> display);

// The same for a fault: also written to the error log.
void ShowErrorMessage(std::string_view text);

// A line of the system log alone (nothing when no settings are loaded yet).
void WriteProgramLog(std::string_view text);

// A line of the system log of the program folder `folder` before its
// settings are loaded: the log folder and line limit as its config.ini
// gives them (their defaults where the file is missing or unreadable).
// Nothing is written, and no folder made, when that log folder does not
// exist.
void WriteFolderLog(const std::string& folder, std::string_view text);

}  // namespace quorvex::app
