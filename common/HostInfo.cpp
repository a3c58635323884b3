// Host name, locale language and program file from the C library and /proc.
#include "common/HostInfo.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>

#include "common/AsciiCase.h"

namespace quorvex {

std::string ComputerName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

std::string CurrentLocaleName() {
    for (const char* variable : {"LC_ALL", "LANG"}) {
        if (const char* value = std::getenv(variable); value && *value) return value;
    }
    return "C";
}

std::string LocaleLanguageAbbreviation(std::string_view locale) {
    // language[_territory][.codeset][@modifier]
    locale = locale.substr(0, locale.find_first_of(".@"));
    const std::size_t underscore = locale.find('_');
    const std::string_view language = locale.substr(0, underscore);
    const std::string_view territory =
        underscore == std::string_view::npos ? std::string_view() : locale.substr(underscore + 1);
    if (language.size() < 2 || language == "POSIX" || !std::isalpha(static_cast<unsigned char>(language[0])))
        return "ENU";
    if (language == "zh") {
        if (territory == "TW" || territory == "HK" || territory == "MO") return "CHT";
        return "CHS";
    }
    std::string abbreviation;
    abbreviation += AsciiUpper(language[0]);
    abbreviation += AsciiUpper(language[1]);
    abbreviation += territory.empty() ? 'X' : AsciiUpper(territory[0]);
    return abbreviation;
}

std::string LocaleLanguageAbbreviation() { return LocaleLanguageAbbreviation(CurrentLocaleName()); }

std::string ExecutablePath() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    std::string program(path, static_cast<std::size_t>(n));
    // A program file replaced while it runs (a package upgrade) shows as
    // "<path> (deleted)"; the path itself is where the program now is.
    constexpr std::string_view kDeleted = " (deleted)";
    if (program.ends_with(kDeleted)) program.resize(program.size() - kDeleted.size());
    return program;
}

}  // namespace quorvex
