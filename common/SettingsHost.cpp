// The machine's answers to the settings loader, and their test override.
#include "common/SettingsHost.h"

#include <mutex>

#include "common/AccountName.h"
#include "common/DesktopEntry.h"
#include "common/HostInfo.h"

namespace quorvex {

namespace {

std::mutex g_host_mutex;
SettingsHost& InstalledHost() {
    static auto* host = new SettingsHost;
    return *host;
}

bool WriteAutostart(bool enabled, const std::string& program_path) {
    return WriteAutostartEntry(enabled ? &program_path : nullptr);
}

}  // namespace

SettingsHost SystemSettingsHost() {
    return SettingsHost{
        [] { return ComputerName(); },
        [] { return LocaleLanguageAbbreviation(); },
        WriteAutostart,
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

}  // namespace quorvex
