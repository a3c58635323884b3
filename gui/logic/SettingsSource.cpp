#include "gui/logic/SettingsSource.h"

namespace quorvex::gui {

SettingsSnapshot PublishedSettings::Current() const { return Settings(); }

SettingsSnapshot PublishedSettings::Reload() { return ReloadSettings(); }

}  // namespace quorvex::gui
