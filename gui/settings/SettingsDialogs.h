// The settings window and the set-up commands as the dialog table runs
// them: "Configuration", "Reinstall" (first-run set-up again, with a
// progress window) and "Create virtual directory" (the web directories).
#pragma once

#include "gui/support/DialogTable.h"
#include "gui/support/GuiServices.h"

namespace quorvex::gui {

class ServiceSwitch;

// The settings window's result: accepted after its OK; the value
// kQuitForService when the program is to end so that the service takes
// over.
inline constexpr int kQuitForService = 1;

// The settings window over `service` (which must outlive the table).
DialogRunner SettingsDialogRunner(const GuiServices& services, ServiceSwitch& service);

// Registers kSettings (with this system's service switch), kFirstRunSetup
// and kWebDirectorySetup.
void RegisterSettingsDialogs(DialogTable& table, const GuiServices& services);

}  // namespace quorvex::gui
