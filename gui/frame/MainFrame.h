// The main window: the account list above the live log, a tool bar, a
// status bar with the activity lamp, the domain selector, the user count,
// date and time, and an icon in the system tray. It receives the notices
// meant for the frame (log lines, the user count, a settings reload, a
// tray click, the error alert), carries every menu command that is not the
// account list's own, and decides what closing the window means: hide it
// or shut the server down.
//
// Without a system tray (plain desktops, offscreen) hiding becomes
// minimising, so the window can always be reached from the task bar.
//
// While the window is locked its contents are hidden and its menus, tool
// bar, status bar and commands (keys included) are off. However it comes
// back (the tray, a second start, the window manager restoring or
// activating it, a show), the Log on dialog runs first; without the
// password the window goes down again.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "gui/logic/FrameLogic.h"
#include "gui/notices/NoticeRelay.h"
#include "gui/support/GuiServices.h"

class QAction;
class QLabel;
class QMenu;
class QSplitter;
class QToolBar;

namespace quorvex::app {
class ProgramHost;
}

namespace quorvex::gui {

class AccountListView;
class AutoHeightComboBox;
class ErrorAlertDlg;
class ServerLogView;
class StatusLed;

// The commands of the menus and the tool bar, by their numbers.
enum class Command {
    kRefresh = 32778,
    kHide = 32776,
    kLock = 3210,
    kSendMailToAll = 32796,
    kOpenLog = 102,
    kClearLog = 103,
    kExport = 32779,
    kShutdown = 57665,
    kNewAccount = 32771,
    kDeleteAccount = 32773,
    kClearMail = 32783,
    kEditAccount = 32772,
    kSelectAll = 114,
    kConfiguration = 32774,
    kReinstall = 32907,
    kVirtualDirectory = 32782,
    kRegisterCom = 32900,
    kDesktopShortcut = 32901,
    kAdminPassword = 115,
    kWelcome = 32822,
    kTransferStatus = 32905,
    kRestartIis = 32909,
    kAbout = 57664,
    kUserManual = 57670,
    kDownload = 32784,
    kDeletedUsers = 32908,
    kSendMail = 32794,
    kNewGroup = 32903,
    kEditGroup = 32904,
    kRebuild = 32910,
};

class MainFrame final : public QMainWindow, public NoticeReceiver {
    Q_OBJECT
public:
    // `host` (the running application) may be null: a window without
    // servers (tests, screenshots). The frame subscribes to `bus`.
    MainFrame(const GuiServices& services, app::ProgramHost* host, NoticeBus& bus, QWidget* parent = nullptr);
    ~MainFrame() override;

    AccountListView* account_view() const { return account_view_; }
    ServerLogView* log_view() const { return log_view_; }
    NoticeRelay* relay() const { return relay_; }
    QAction* action(Command command) const;
    AutoHeightComboBox* domain_selector() const { return domain_selector_; }
    QLabel* user_count_pane() const { return user_count_; }
    QLabel* date_pane() const { return date_; }
    QLabel* time_pane() const { return time_; }
    StatusLed* led() const { return led_; }
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
    // After the settings dialog saved: reload, translate again, write the
    // web-mail language file, refill the domain selector, refresh.
    void ApplyNewConfiguration();
    // Puts every text of the window in the current language.
    void Retranslate();
    // Reads the version host and runs the version check (date pane).
    void CheckNewVersion();

Q_SIGNALS:
    // The user chose to shut the server down: the message loop ends.
    void QuitRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildActions();
    void BuildMenus();
    void BuildToolBar();
    void BuildStatusBar();
    void BuildTray();
    void RefillDomainSelector();
    std::optional<std::string> SelectedDomain() const;
    void HideWindow();
    // Hides the contents and switches the commands off while locked, and
    // back on when not.
    void ShowLockState();
    // Runs the Log on dialog; true (and unlocked) on the right password.
    bool PassGate();
    // The window is on the screen again: locked, it passes the gate first
    // (once the event that brought it back has been handled).
    void QueueGateCheck();
    void CheckGate();
    void Tick();
    void UpdateClock();
    void RunCommand(Command command);
    void ShowVersionVerdict(const std::optional<std::string>& reply);
    void OnStatusPaneDoubleClick(QObject* pane);

    GuiServices services_;
    app::ProgramHost* host_;
    NoticeRelay* relay_;
    QSplitter* splitter_;
    AccountListView* account_view_;
    ServerLogView* log_view_;
    QToolBar* tool_bar_ = nullptr;
    std::map<Command, QAction*> actions_;
    std::vector<QAction*> tool_actions_;
    QMenu* new_menu_ = nullptr;
    StatusLed* led_ = nullptr;
    AutoHeightComboBox* domain_selector_ = nullptr;
    QLabel* main_pane_ = nullptr;
    QLabel* user_count_ = nullptr;
    QLabel* date_ = nullptr;
    QLabel* time_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    QMenu* tray_menu_ = nullptr;
    QPointer<ErrorAlertDlg> error_alert_;
    QTimer tick_;
    TrayStateMachine tray_state_;
    bool quitting_ = false;
    bool gate_check_queued_ = false;
    bool version_check_running_ = false;
};

}  // namespace quorvex::gui
