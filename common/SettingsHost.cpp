// The machine's answers to the settings loader, and their test override.
#include "common/SettingsHost.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <mutex>

#include "common/AccountName.h"

namespace quorvex {

namespace {

std::mutex g_host_mutex;
SettingsHost& InstalledHost() {
    static auto* host = new SettingsHost;
    return *host;
}

std::string HostName() {
    char name[256] = "";
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

// The locale that decides the language of messages, as setlocale would.
std::string PosixLocale() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') return value;
    }
    return "C";
}

// The autostart entry joins once the desktop-entry helpers are in; until
// then saving AutoRun only records the setting.
bool NoAutostart(bool, const std::string&) { return false; }

}  // namespace

SettingsHost SystemSettingsHost() {
    return SettingsHost{
        HostName,
        [] { return LocaleAbbreviation(PosixLocale()); },
        NoAutostart,
    };
}

void SetSettingsHost(SettingsHost host) {
    std::lock_guard guard(g_host_mutex);
    InstalledHost() = std::move(host);
}

SettingsHost CurrentSettingsHost() {
    SettingsHost host;
    {
        std::lock_guard guard(g_host_mutex);
        host = InstalledHost();
    }
    const SettingsHost system = SystemSettingsHost();
    if (!host.computer_name) host.computer_name = system.computer_name;
    if (!host.locale_language) host.locale_language = system.locale_language;
    if (!host.set_autostart) host.set_autostart = system.set_autostart;
    return host;
}

std::string LanguageForLocale(std::string_view abbreviation) {
    if (SameName(abbreviation, "CHS")) return "ChineseGB";
    if (SameName(abbreviation, "CHT")) return "ChineseBig5";
    return "English";
}

std::string LocaleAbbreviation(std::string_view posix_locale) {
    const std::string_view name = posix_locale.substr(0, posix_locale.find_first_of(".@"));
    const std::string_view language = name.substr(0, name.find('_'));
    if (SameName(language, "zh")) {
        const std::string_view territory = name.size() > 3 ? name.substr(3) : std::string_view{};
        return SameName(territory, "TW") || SameName(territory, "HK") || SameName(territory, "MO") ? "CHT" : "CHS";
    }
    std::string out;
    for (char c : language) out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace quorvex
