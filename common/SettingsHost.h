// What loading and saving the settings ask of the machine: its name (for
// the default mail domain), the language of its locale (for the default
// interface language), the autostart entry that follows AutoRun and
// whether a desktop session started the program (for AutoRun's default). Tests
// and the application replace these through SetSettingsHost.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace quorvex {

struct SettingsHost {
    // The computer name; empty when it cannot be had.
    std::function<std::string()> computer_name;
    // The locale's abbreviated language name ("ENU", "CHS", "CHT", ...).
    std::function<std::string()> locale_language;
    // Creates (enabled) or removes the entry that starts `program_path`
    // when the user logs in. False when that failed.
    std::function<bool(bool enabled, const std::string& program_path)> set_autostart;
    // False outside a desktop session (a service, a start without a
    // display): there a config.ini that does not say AutoRun takes 0, as
    // the default 1 would have the next desktop start write the entry.
    bool desktop_session = true;
};

// The machine's own answers: ComputerName, LocaleLanguageAbbreviation and
// the XDG autostart entry (HostInfo.h, DesktopEntry.h).
SettingsHost SystemSettingsHost();
// Replaces the host used by later loads and saves; functions left empty
// take the machine's own.
void SetSettingsHost(SettingsHost host);
SettingsHost CurrentSettingsHost();

// "CHS" gives "ChineseGB", "CHT" "ChineseBig5", anything else "English";
// case is ignored.
std::string LanguageForLocale(std::string_view abbreviation);
}  // namespace quorvex
