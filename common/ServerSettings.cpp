// Publishing the settings record: one shared snapshot, replaced whole.
// Readers copy the pointer under a short lock and then read without one.
#include "common/ServerSettings.h"

#include <mutex>

#include "common/Paths.h"

namespace quorvex {

namespace {

std::mutex g_published_mutex;  // guards the pointer, held only to copy it
std::mutex g_update_mutex;     // serialises UpdateSettings and reloads

std::shared_ptr<const CServerSettings>& Published() {
    static auto* current = new std::shared_ptr<const CServerSettings>(std::make_shared<CServerSettings>());
    return *current;
}

}  // namespace

void CServerSettings::SetProgramFolder(const std::string& folder) {
    ProgramFolderPath = folder;
    ConfigIniPath = JoinPath(folder, "config.ini");
}

std::string CServerSettings::Folder() const {
    return ProgramFolderPath.empty() ? ProgramFolder() : ProgramFolderPath;
}

std::string CServerSettings::ConfigIni() const {
    return ConfigIniPath.empty() ? JoinPath(Folder(), "config.ini") : ConfigIniPath;
}

std::string CServerSettings::EmailFilterIni() const { return JoinPath(Folder(), "EmailFilter.ini"); }

std::shared_ptr<const CServerSettings> Settings() {
    std::lock_guard guard(g_published_mutex);
    return Published();
}

void PublishSettings(std::shared_ptr<const CServerSettings> settings) {
    if (!settings) return;
    std::lock_guard guard(g_published_mutex);
    Published() = std::move(settings);
}

void UpdateSettings(const std::function<void(CServerSettings&)>& change) {
    std::lock_guard update_guard(g_update_mutex);
    auto copy = std::make_shared<CServerSettings>(*Settings());
    change(*copy);
    PublishSettings(std::move(copy));
}

std::shared_ptr<const CServerSettings> ReloadSettings() {
    auto fresh = std::make_shared<CServerSettings>();
    fresh->Load();
    std::lock_guard update_guard(g_update_mutex);
    PublishSettings(fresh);
    return fresh;
}

bool LoadAndSaveSettingsAtStartup(std::vector<std::string>* refused) {
    auto fresh = std::make_shared<CServerSettings>();
    fresh->Load();
    if (!fresh->refused_values().empty()) {
        if (refused != nullptr) *refused = fresh->refused_values();
        return false;
    }
    const bool saved = fresh->Save();
    std::lock_guard update_guard(g_update_mutex);
    PublishSettings(fresh);
    return saved;
}

}  // namespace quorvex
