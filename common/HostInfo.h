// Facts about the host the program runs on: its name, the language of its
// locale, the program file, and the platform family (always the NT one:
// wherever the system distinguishes, the NT branch is the one taken).
#pragma once

#include <string>
#include <string_view>

namespace quorvex {

// gethostname(); empty when it fails.
std::string ComputerName();

// A three-letter abbreviation of the locale's language in the style the
// settings expect: "CHS" for Simplified Chinese (zh_CN, zh_SG), "CHT" for
// Traditional Chinese (zh_TW, zh_HK, zh_MO), otherwise the language's two
// letters in upper case followed by the first letter of the territory
// ("ENU" for en_US; "ENU" also for the C and POSIX locales).
std::string LocaleLanguageAbbreviation();
// The same for a given locale name such as "zh_TW.UTF-8".
std::string LocaleLanguageAbbreviation(std::string_view locale);
// The locale in force: LC_ALL, else LANG, else "C".
std::string CurrentLocaleName();

// The full path of the running program file; empty when unknown.
std::string ExecutablePath();

// Always true: this system takes the NT family's branches.
constexpr bool IsWindowsNT() { return true; }

}  // namespace quorvex
