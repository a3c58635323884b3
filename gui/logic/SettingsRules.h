// The rules the settings window applies to what the administrator types
// (the ranges of its numbers are those of every setting,
// common/SettingRanges.h): the clean-up of a domain name, the form of a
// block-list entry, the white list, the language files on offer and the
// log folder picked with the folder chooser. No widget here: the dialogs
// call these, the tests call them directly.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex::gui {

// Single-line text for an INI value: CR, LF and NUL removed.
std::string SingleLine(std::string_view text);

// A domain name as typed: white space around it removed, lower case.
// Nothing when no name is left.
std::optional<std::string> CleanDomainName(std::string_view typed);

// The "Dominame" text as the settings' OK stores it: cut to 260
// characters, blanks around it removed, lower case.
std::string CleanDominame(std::string_view typed);

// An entry of the IP block list: a dotted address, or two joined by "-"
// with the first not above the second.
enum class IpEntryCheck { kValid, kNotAnAddress, kReversedRange };
IpEntryCheck CheckIpEntry(std::string_view entry);

// An entry of the sender block list: a whole address "name@domain" or
// "@domain", without blanks.
bool IsValidSenderEntry(std::string_view entry);

// The anti-spam white list with empty and blank entries dropped (an empty
// entry would be found in every sender address) and the others trimmed.
std::string CleanWhiteList(std::string_view list);

// The language names offered: every "<name>.ini" (extension in any case)
// of "<program folder>/Language" and of the installed "<shared>/Language"
// (the translation lookup falls back to those) whose name is a plain
// language name, each name once, sorted. An empty folder is skipped.
std::vector<std::string> ScanLanguages(const std::string& program_folder, const std::string& installed_folder);

// The line that names `current` (whole, without regard to case), or -1.
int FindLanguage(const std::vector<std::string>& names, std::string_view current);

// The log folder for a folder picked with the chooser: one trailing "/"
// dropped, "/Log" appended. Nothing when the result would be 260
// characters or longer (the text is then left as it was).
std::optional<std::string> LogFolderFromChosen(std::string chosen);

// The command that makes the web server of the web-mail pages reread its
// configuration and finish the requests in hand: the Apache control
// program the web directory installer uses ($QUORVEX_APACHECTL, else
// "apachectl") with "-k graceful".
std::vector<std::string> WebServerRestartCommand();

}  // namespace quorvex::gui
