// The main window: the account list above the live log, a tool bar, a
// status bar with the activity lamp, the domain selector, the user count,
// date and time, and an icon in the system tray. It receives the notices
// meant for the frame (log lines, the user count, a settings reload, a
// tray click, the error alert), hands every command of its menus, tool
// bar, keys and tray to the command controller, and decides what closing
// the window means: hide it or shut the server down.
//
// Without a system tray (plain desktops, offscreen) hiding becomes
// minimising, so the window can always be reached from the task bar.
//
// While the window is locked its contents are hidden and its menus, tool
// bar, status bar and commands (keys included) are off, and no other
// dialog of the program can be used (DialogLock). However it comes back
// (the tray, a second start, the window manager restoring or activating
// it, a show), the Log on dialog runs first; without the password the
// window goes down again.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QSystemTrayIcon>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "gui/frame/CommandController.h"
#include "gui/frame/Commands.h"
#include "gui/frame/FrameStatusBar.h"
#include "gui/logic/FrameLogic.h"
#include "gui/notices/NoticeRelay.h"
#include "gui/support/GuiServices.h"

class QAction;
class QLabel;
class QMenu;
class QSplitter;
class QToolBar;

namespace quorvex::gui {

class AccountListView;
class AutoHeightComboBox;
class DialogLock;
class ErrorAlertDlg;
class ServerLogView;
class StatusLed;

class MainFrame final : public QMainWindow, public NoticeReceiver, private CommandWindow {
    Q_OBJECT
public:
    // `host` (the running application) may be null: a window without
    // servers (tests, screenshots). The frame subscribes to `bus`.
    MainFrame(const GuiServices& services, app::ProgramHost* host, NoticeBus& bus, QWidget* parent = nullptr);
    ~MainFrame() override;

    AccountListView* account_view() const { return account_view_; }
    ServerLogView* log_view() const { return log_view_; }
    NoticeRelay* relay() const { return relay_; }
    CommandController& commands() const { return *commands_; }
    QAction* action(Command command) const;
    AutoHeightComboBox* domain_selector() const { return status_bar_->domain_selector(); }
    QLabel* user_count_pane() const { return status_bar_->user_count_pane(); }
    QLabel* date_pane() const { return status_bar_->date_pane(); }
    QLabel* time_pane() const { return status_bar_->time_pane(); }
    StatusLed* led() const { return status_bar_->led(); }
    QToolBar* tool_bar() const { return tool_bar_; }
    // The drop-down of the tool bar's "New" button.
    QMenu* new_menu() const { return new_menu_; }
    const TrayStateMachine& tray_state() const { return tray_state_; }
    bool tray_available() const { return tray_ != nullptr; }
    // The window is on the screen and not minimized.
    bool WindowShown() const;

    // Start-up: shown, or (with "Minimized" or "AutoLock") only in the
    // tray; fills the list and shows the splash.
    void StartUp();

    void OnNotice(const Notice& notice) override;

    // A left click on the tray icon, and a second start of the program:
    // hide a shown window; show a hidden one (after the password when
    // locked).
    void OnTrayClick();
    // Shows the window (a second start): as a tray click on a hidden window.
    void ShowFromOutside();
    // Ends the run without asking (service stop, SIGTERM, "STOP").
    void ForceQuit();

    void OnUpdateUserCount(int count);
    // Puts every text of the window in the current language.
    void Retranslate();

Q_SIGNALS:
    // The user chose to shut the server down: the message loop ends.
    void QuitRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void BuildActions();
    void BuildMenus();
    void BuildToolBar();
    void BuildTray();

    // What the commands ask of the window.
    QWidget* DialogParent() override { return this; }
    void HideWindow() override;
    void LockWindow() override;
    void CloseWindow() override { close(); }
    void QuitNow() override { ForceQuit(); }
    void FollowSettings(const CServerSettings& settings) override;
    // Hides the contents, switches the commands off and puts the other
    // dialogs away while locked; back on (the modeless dialogs back too)
    // when not.
    void ShowLockState();
    // Runs the Log on dialog; true (and unlocked) on the right password.
    bool PassGate();
    // The window is on the screen again: locked, it passes the gate first
    // (once the event that brought it back has been handled).
    void QueueGateCheck();
    void CheckGate();

    GuiServices services_;
    NoticeRelay* relay_;
    QSplitter* splitter_;
    AccountListView* account_view_;
    ServerLogView* log_view_;
    CommandController* commands_;
    QToolBar* tool_bar_ = nullptr;
    std::map<Command, QAction*> actions_;
    std::vector<QAction*> tool_actions_;
    QMenu* new_menu_ = nullptr;
    FrameStatusBar* status_bar_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    QMenu* tray_menu_ = nullptr;
    QPointer<ErrorAlertDlg> error_alert_;
    TrayStateMachine tray_state_;
    DialogLock* dialog_lock_;
    bool quitting_ = false;
    bool gate_check_queued_ = false;
};

}  // namespace quorvex::gui
