// The main window's commands, away from its widgets: the window only
// dispatches (each menu item, tool button, key and tray item hands its
// command to Run) and the views only show. The controller opens the
// dialogs, runs the set-up steps and tells their outcome, puts new
// settings in force, checks for a new version and answers the status
// panes' double clicks; the account commands act on the account list's
// selection (AccountCommands). Each command takes its settings snapshot
// when it starts.
#pragma once

#include <QObject>
#include <optional>
#include <string>

#include "common/ServerSettings.h"
#include "gui/frame/Commands.h"
#include "gui/support/GuiServices.h"

class QWidget;

namespace quorvex::app {
class ProgramHost;
}

namespace quorvex::gui {

class AccountCommands;
class AccountListView;
class VersionCheckWorker;

// What a command asks of the window it came from.
class CommandWindow {
public:
    virtual ~CommandWindow() = default;
    // The parent of the dialogs and message boxes.
    virtual QWidget* DialogParent() = 0;
    // Out of sight: to the tray, or minimised without one.
    virtual void HideWindow() = 0;
    // Locked, then out of sight.
    virtual void LockWindow() = 0;
    // As the close button: the close choice decides.
    virtual void CloseWindow() = 0;
    // Ends the run at once (the service takes the server over).
    virtual void QuitNow() = 0;
    // New settings are in force: texts, lock and domain selector follow.
    virtual void FollowSettings(const CServerSettings& settings) = 0;
};

class CommandController final : public QObject {
    Q_OBJECT
public:
    // `host` (the running program) may be null: a window without servers.
    CommandController(const GuiServices& services, app::ProgramHost* host, CommandWindow& window,
                      AccountListView& view, QObject* parent = nullptr);
    ~CommandController() override;

    void Run(Command command);
    AccountCommands& account_commands() { return *account_commands_; }

    // After the settings window's OK: reloads, writes the web-mail language
    // file, and the window and the list follow.
    void ApplyNewConfiguration();
    // The settings notice: the program reloads its settings (keeping those
    // in force when config.ini cannot be read or holds refused values) and
    // the window follows them.
    void ReloadSettings();
    // The settings in force changed ("-update"): the window's language,
    // lock and domain selector and the list follow them.
    void FollowSettingsInForce();
    // The date pane: one HTTP request to the configured vendor host, on
    // the worker; the answer (if any) is shown when it comes.
    void CheckNewVersion();
    bool version_check_running() const;
    // Double clicks on the status panes (`control`: Ctrl held).
    void OnStatusPaneDoubleClick(StatusPane pane, bool control);

private:
    void ShowVersionVerdict(const std::optional<std::string>& reply);
    void RegisterComponent(const CServerSettings& settings);
    void OpenUserManual(const CServerSettings& settings);

    GuiServices services_;
    app::ProgramHost* host_;
    CommandWindow& window_;
    AccountListView& view_;
    AccountCommands* account_commands_;
    VersionCheckWorker* version_check_;
};

}  // namespace quorvex::gui
