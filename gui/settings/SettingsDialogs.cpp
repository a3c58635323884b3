#include "gui/settings/SettingsDialogs.h"

#include <memory>

#include "app/FirstSetup.h"
#include "app/WebSetup.h"
#include "gui/dialogs/ProgressDlg.h"
#include "gui/logic/ServiceSwitch.h"
#include "gui/logic/SettingsSource.h"
#include "gui/settings/SettingDlg.h"
#include "gui/settings/SettingsStrings.h"
#include "gui/support/WaitCursor.h"

namespace quorvex::gui {

namespace {

// Set-up's steps on a progress bar.
class ProgressWindow final : public app::SetupProgress {
public:
    explicit ProgressWindow(QWidget* parent) : dialog_(kTextSettingUp, parent) {}
    void Open(int first, int last) override {
        dialog_.SetRange(first, last);
        dialog_.SetValue(first);
        dialog_.show();
        QApplication::processEvents();
    }
    void Step() override {
        dialog_.Step();
        QApplication::processEvents();
    }
    void Close() override { dialog_.close(); }

private:
    ProgressDlg dialog_;
};

}  // namespace

DialogRunner SettingsDialogRunner(const GuiServices& services, ServiceSwitch& service) {
    return [&services, &service](const DialogRequest& request) {
        SettingDlg dialog(services, service, request.parent);
        const bool accepted = dialog.exec() == QDialog::Accepted;
        return DialogResult{accepted, accepted && dialog.outcome().quit_for_service() ? kQuitForService : 0};
    };
}

void RegisterSettingsDialogs(DialogTable& table, const GuiServices& services) {
    // One switch for the life of the program, as the table's runners are.
    static SystemdServiceSwitch service = SystemdServiceSwitch::ForThisSystem();
    table.Register(DialogKind::kSettings, SettingsDialogRunner(services, service));
    SettingsSource& settings = *services.settings;
    table.Register(DialogKind::kFirstRunSetup, [&settings](const DialogRequest& request) {
        const WaitCursor wait;
        ProgressWindow progress(request.parent);
        // A program set up as a service stays one: only a desktop set-up
        // turns the service choice off and the autostart entry on.
        app::RunFirstSetup({.desktop_user = settings.Current()->RunAsService == 0, .progress = &progress});
        settings.Reload();
        return DialogResult{true, 0};
    });
    table.Register(DialogKind::kWebDirectorySetup, [](const DialogRequest&) {
        const WaitCursor wait;
        return DialogResult{app::SetupWebMailDirectory() == 1, 0};
    });
}

}  // namespace quorvex::gui
