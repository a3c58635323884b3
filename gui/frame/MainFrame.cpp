#include "gui/frame/MainFrame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMetaObject>
#include <QSplitter>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>

#include "app/ProgramMessages.h"
#include "common/Notices.h"
#include "gui/dialogs/ErrorAlertDlg.h"
#include "gui/dialogs/SplashWindow.h"
#include "gui/frame/DialogLock.h"
#include "gui/logic/SettingsSource.h"
#include "gui/support/DialogTable.h"
#include "gui/support/GuiStrings.h"
#include "gui/support/Prompts.h"
#include "gui/support/TextCodec.h"
#include "gui/support/WidgetTranslator.h"
#include "gui/views/AccountListView.h"
#include "gui/views/ServerLogView.h"
#include "mailmodel/account/AccountConfig.h"

namespace quorvex::gui {

namespace {

constexpr int kFrameWidth = 628;
constexpr int kFrameHeight = 420;
constexpr int kLogPaneHeight = 137;
constexpr int kTrayTipLength = 63;

QString Utf8(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

std::string ProgramVersion() { return std::string(app::kProgramVersion); }

// One row per command: its menu text (the translation key), an object name
// (tests and scripts find the action by it) and its key.
const std::vector<std::tuple<Command, std::string_view, const char*, QKeySequence>>& CommandTable() {
    static const std::vector<std::tuple<Command, std::string_view, const char*, QKeySequence>> table = {
        {Command::kRefresh, kMenuRefresh, "actionRefresh", QKeySequence(Qt::Key_F5)},
        {Command::kHide, kMenuHide, "actionHide", QKeySequence(Qt::Key_Escape)},
        {Command::kLock, kMenuLock, "actionLock", {}},
        {Command::kSendMailToAll, kMenuSendMailToAll, "actionSendMailToAll", {}},
        {Command::kOpenLog, kMenuOpenLog, "actionOpenLog", {}},
        {Command::kClearLog, kMenuClearLog, "actionClearLog", {}},
        {Command::kExport, kMenuExport, "actionExport", {}},
        {Command::kShutdown, kMenuShutdown, "actionShutdown", {}},
        {Command::kNewAccount, kMenuNewAccount, "actionNewAccount", QKeySequence(Qt::Key_Insert)},
        {Command::kDeleteAccount, kMenuDeleteAccount, "actionDeleteAccount", QKeySequence(Qt::Key_Delete)},
        {Command::kClearMail, kMenuClearMail, "actionClearMail", QKeySequence(Qt::Key_End)},
        {Command::kEditAccount, kMenuEditAccount, "actionEditAccount", QKeySequence(Qt::Key_Return)},
        {Command::kSelectAll, kMenuSelectAll, "actionSelectAll", QKeySequence(Qt::CTRL | Qt::Key_A)},
        {Command::kConfiguration, kMenuConfiguration, "actionConfiguration", {}},
        {Command::kReinstall, kMenuReinstall, "actionReinstall", {}},
        {Command::kVirtualDirectory, kMenuVirtualDirectory, "actionVirtualDirectory", {}},
        {Command::kRegisterCom, kMenuRegisterCom, "actionRegisterCom", {}},
        {Command::kDesktopShortcut, kMenuDesktopShortcut, "actionDesktopShortcut", {}},
        {Command::kAdminPassword, kMenuAdminPassword, "actionAdminPassword", {}},
        {Command::kWelcome, kMenuWelcome, "actionWelcome", {}},
        {Command::kTransferStatus, kMenuTransferStatus, "actionTransferStatus", {}},
        {Command::kRestartIis, kMenuRestartIis, "actionRestartIis", {}},
        {Command::kAbout, kMenuAbout, "actionAbout", {}},
        {Command::kUserManual, kMenuUserManual, "actionUserManual", {}},
        {Command::kDownload, kMenuDownload, "actionDownload", {}},
        {Command::kDeletedUsers, kMenuDeletedUsers, "actionDeletedUsers", {}},
        {Command::kSendMail, kMenuSendMail, "actionSendMail", QKeySequence(Qt::CTRL | Qt::Key_S)},
        {Command::kNewGroup, kMenuNewGroup, "actionNewGroup", {}},
        {Command::kEditGroup, kMenuEditGroup, "actionEditGroup", {}},
        {Command::kRebuild, kMenuRebuild, "actionRebuild", QKeySequence(Qt::Key_F3)},
    };
    return table;
}

}  // namespace

MainFrame::MainFrame(const GuiServices& services, app::ProgramHost* host, NoticeBus& bus, QWidget* parent)
    : QMainWindow(parent),
      services_(services),
      relay_(new NoticeRelay(bus, this)),
      splitter_(new QSplitter(Qt::Vertical, this)),
      account_view_(new AccountListView(services, splitter_)),
      log_view_(new ServerLogView(splitter_)),
      commands_(new CommandController(services, host, *this, *account_view_, this)),
      tray_state_(services.settings->Current()->AutoLock != 0),
      dialog_lock_(new DialogLock(this)) {
    setObjectName(QStringLiteral("mainFrame"));
    resize(kFrameWidth, kFrameHeight);
    setCentralWidget(splitter_);
    splitter_->setChildrenCollapsible(false);
    splitter_->setStretchFactor(0, 1);
    splitter_->setStretchFactor(1, 0);
    splitter_->setSizes({kFrameHeight - kLogPaneHeight, kLogPaneHeight});

    BuildActions();
    BuildMenus();
    BuildToolBar();
    status_bar_ = new FrameStatusBar(
        [active_jobs = services.active_jobs, active_deliveries = services.active_deliveries] {
            return (active_jobs ? active_jobs() : 0) + (active_deliveries ? active_deliveries() : 0);
        },
        this);
    setStatusBar(status_bar_);
    status_bar_->ShowDomains(*services.settings->Current());
    connect(status_bar_, &FrameStatusBar::DomainChosen, account_view_, &AccountListView::OnRefreshUserList);
    connect(status_bar_, &FrameStatusBar::PaneDoubleClicked, commands_, &CommandController::OnStatusPaneDoubleClick);
    BuildTray();
    setWindowIcon(QApplication::style()->standardIcon(QStyle::SP_DriveNetIcon));

    account_view_->SetDomainSelection([this] { return status_bar_->SelectedDomain(); });
    connect(account_view_, &AccountListView::UserCountChanged, this, &MainFrame::OnUpdateUserCount);
    connect(log_view_, &ServerLogView::OpenLogRequested, this, [this] { commands_->Run(Command::kOpenLog); });
    log_view_->InstallAsSystemLogDisplay();

    // A log line is a file append (its display is queued to the pane): it is
    // written on the relay's thread, and the window never waits for the disk.
    relay_->HandleOnDeliveryThread(NoticeId::WM_SHOW_MESSAGE, [](const Notice& notice) {
        if (!RepeatsFailedLogin(notice.payload)) app::WriteProgramLog(notice.payload);
    });
    // The frame takes each notice first, then the views.
    relay_->AddReceiver(this);
    relay_->AddReceiver(account_view_);

    Retranslate();
    OnUpdateUserCount(CountDomainAccounts({}));
    ShowLockState();  // "AutoLock" starts locked
}

MainFrame::~MainFrame() {
    // No notice may reach the views while they go.
    relay_->RemoveReceiver(account_view_);
    relay_->RemoveReceiver(this);
    if (tray_) tray_->hide();
}

QAction* MainFrame::action(Command command) const {
    const auto found = actions_.find(command);
    return found == actions_.end() ? nullptr : found->second;
}

bool MainFrame::WindowShown() const { return isVisible() && !isMinimized(); }

// ---- construction --------------------------------------------------------

void MainFrame::BuildActions() {
    for (const auto& [command, text, name, key] : CommandTable()) {
        auto* action = new QAction(Utf8(text), this);
        action->setObjectName(QString::fromLatin1(name));
        if (!key.isEmpty()) {
            action->setShortcut(key);
            action->setShortcutContext(Qt::WindowShortcut);
        }
        const Command which = command;
        connect(action, &QAction::triggered, this, [this, which] { commands_->Run(which); });
        addAction(action);  // the keys work while the menus are closed
        actions_[command] = action;
    }
    // The account list's right-click menu.
    account_view_->SetContextActions({action(Command::kNewAccount), action(Command::kEditAccount),
                                      action(Command::kDeleteAccount), action(Command::kClearMail),
                                      action(Command::kSelectAll), action(Command::kSendMail),
                                      action(Command::kNewGroup), action(Command::kEditGroup),
                                      action(Command::kRefresh)});
}

void MainFrame::BuildMenus() {
    auto add_menu = [this](std::string_view title, std::initializer_list<std::optional<Command>> items) {
        QMenu* menu = menuBar()->addMenu(Utf8(title));
        for (const auto& item : items) {
            if (item) {
                menu->addAction(action(*item));
            } else {
                menu->addSeparator();
            }
        }
    };
    add_menu(kMenuSystem, {Command::kConfiguration, Command::kAdminPassword, Command::kWelcome, std::nullopt,
                           Command::kReinstall, Command::kVirtualDirectory, Command::kRegisterCom,
                           Command::kDesktopShortcut, Command::kRestartIis, std::nullopt, Command::kHide,
                           Command::kLock, std::nullopt, Command::kShutdown});
    add_menu(kMenuAccount, {Command::kNewAccount, Command::kEditAccount, Command::kDeleteAccount,
                            Command::kClearMail, Command::kSelectAll, std::nullopt, Command::kNewGroup,
                            Command::kEditGroup, std::nullopt, Command::kSendMail, Command::kSendMailToAll,
                            std::nullopt, Command::kRefresh, Command::kRebuild, Command::kExport,
                            Command::kDeletedUsers});
    add_menu(kMenuLog, {Command::kOpenLog, Command::kClearLog, Command::kTransferStatus});
    add_menu(kMenuHelp, {Command::kUserManual, Command::kDownload, std::nullopt, Command::kAbout});
}

void MainFrame::BuildToolBar() {
    tool_bar_ = addToolBar(QStringLiteral("Tools"));
    tool_bar_->setObjectName(QStringLiteral("toolBar"));
    tool_bar_->setMovable(true);
    tool_bar_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    tool_bar_->setIconSize(QSize(16, 16));
    QStyle* style = QApplication::style();
    // The pieces of the tool-bar text in order; an empty piece is a separator.
    const std::vector<std::pair<std::optional<Command>, QStyle::StandardPixmap>> buttons = {
        {Command::kNewAccount, QStyle::SP_FileIcon},        {Command::kConfiguration, QStyle::SP_FileDialogDetailedView},
        {Command::kRefresh, QStyle::SP_BrowserReload},      {std::nullopt, QStyle::SP_CustomBase},
        {Command::kTransferStatus, QStyle::SP_ArrowRight},  {Command::kSendMailToAll, QStyle::SP_DialogSaveButton},
        {Command::kExport, QStyle::SP_FileDialogListView},  {std::nullopt, QStyle::SP_CustomBase},
        {Command::kHide, QStyle::SP_TitleBarMinButton},     {Command::kShutdown, QStyle::SP_DialogCloseButton},
    };
    new_menu_ = new QMenu(this);
    auto* new_account = new_menu_->addAction(Utf8(kMenuNewAccountShort));
    auto* new_group = new_menu_->addAction(Utf8(kMenuNewGroupShort));
    connect(new_account, &QAction::triggered, this, [this] { commands_->Run(Command::kNewAccount); });
    connect(new_group, &QAction::triggered, this, [this] { commands_->Run(Command::kNewGroup); });
    for (const auto& [command, icon] : buttons) {
        if (!command) {
            tool_actions_.push_back(tool_bar_->addSeparator());
            continue;
        }
        auto* button_action = new QAction(style->standardIcon(icon), QString(), this);
        KeepUntranslated(button_action);  // its text is a piece of the tool-bar text
        button_action->setObjectName(QStringLiteral("tool") + QString::number(static_cast<int>(*command)));
        const Command which = *command;
        connect(button_action, &QAction::triggered, this, [this, which] { commands_->Run(which); });
        if (which == Command::kNewAccount) button_action->setMenu(new_menu_);
        tool_bar_->addAction(button_action);
        if (which == Command::kNewAccount) {
            if (auto* button = qobject_cast<QToolButton*>(tool_bar_->widgetForAction(button_action))) {
                button->setPopupMode(QToolButton::MenuButtonPopup);
            }
        }
        tool_actions_.push_back(button_action);
    }
}

void MainFrame::BuildTray() {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return;  // hiding becomes minimising
    tray_ = new QSystemTrayIcon(QApplication::style()->standardIcon(QStyle::SP_DriveNetIcon), this);
    tray_menu_ = new QMenu(this);
    tray_menu_->addAction(Utf8(kMenuShow), this, [this] { ShowFromOutside(); });
    tray_menu_->addAction(action(Command::kLock));
    tray_menu_->addAction(action(Command::kShutdown));
    tray_->setContextMenu(tray_menu_);
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) OnTrayClick();
    });
    tray_->show();
}

void MainFrame::Retranslate() {
    setWindowTitle(FormatText(Tr(kTextTitleFormat), {Tr(kTextProductName), Utf8(ProgramVersion())}));
    TranslateMenuBar(menuBar());
    TranslateMenuTree(new_menu_);
    if (tray_menu_) TranslateMenuTree(tray_menu_);
    const QStringList pieces = TrList(kTextToolbar);
    for (std::size_t i = 0; i < tool_actions_.size(); ++i) {
        if (tool_actions_[i]->isSeparator()) continue;
        tool_actions_[i]->setText(static_cast<qsizetype>(i) < pieces.size() ? pieces[static_cast<qsizetype>(i)] : QString());
    }
    if (tray_) tray_->setToolTip(Tr(kTextProductName).left(kTrayTipLength));
    account_view_->Retranslate();
}

void MainFrame::StartUp() {
    const SettingsSnapshot settings = services_.settings->Current();
    if (settings->Minimized != 0 || settings->AutoLock != 0) {
        // Only in the tray (or, without one, minimized on the task bar).
        if (tray_) {
            hide();
        } else {
            showMinimized();
        }
    } else {
        show();
        SplashWindow::ShowSplash(settings->Folder(), this);
    }
    account_view_->OnRefreshUserList();
}

// ---- notices -------------------------------------------------------------

void MainFrame::OnNotice(const Notice& notice) {
    switch (notice.id) {
        case NoticeId::WM_UPDATE_USER_COUNT:
            OnUpdateUserCount(std::atoi(notice.payload.c_str()));
            return;
        case NoticeId::WM_UPDATE_PARAM:
            commands_->ReloadSettings();
            return;
        case NoticeId::WM_NOTIFYICON:
            OnTrayClick();
            return;
        case NoticeId::WM_ERROR_ALERT:
            if (!error_alert_) error_alert_ = new ErrorAlertDlg(this);
            error_alert_->Raise(FromFileText(notice.payload));
            return;
        default:
            return;
    }
}

void MainFrame::OnUpdateUserCount(int count) {
    status_bar_->ShowUserCount(count);
    status_bar_->ShowDomains(*services_.settings->Current());
}

void MainFrame::FollowSettings(const CServerSettings& settings) {
    tray_state_.SetAutoLock(settings.AutoLock != 0);
    Retranslate();
    status_bar_->ShowDomains(settings);
}

// ---- showing, hiding and the lock -----------------------------------------

void MainFrame::HideWindow() {
    if (tray_) {
        showMinimized();
        hide();
    } else {
        showMinimized();
    }
}

void MainFrame::LockWindow() {
    tray_state_.Lock();
    ShowLockState();
    HideWindow();
}

void MainFrame::ShowLockState() {
    const bool usable = !tray_state_.locked();
    splitter_->setVisible(usable);
    for (QWidget* part : std::initializer_list<QWidget*>{menuBar(), tool_bar_, statusBar()}) part->setEnabled(usable);
    for (const auto& [command, item] : actions_) item->setEnabled(usable);
    if (!usable) {
        dialog_lock_->Engage();
    } else if (dialog_lock_->engaged()) {
        dialog_lock_->Release();
    }
}

bool MainFrame::PassGate() {
    tray_state_.OnGateOpened();
    const bool accepted = services_.dialogs->Run(DialogRequest{DialogKind::kLogin, this, {}, {}}).accepted;
    tray_state_.OnGateClosed(accepted);
    ShowLockState();
    return accepted;
}

void MainFrame::QueueGateCheck() {
    if (gate_check_queued_ || !tray_state_.locked()) return;
    gate_check_queued_ = true;
    QMetaObject::invokeMethod(this, &MainFrame::CheckGate, Qt::QueuedConnection);
}

void MainFrame::CheckGate() {
    gate_check_queued_ = false;
    if (quitting_ || !tray_state_.locked() || tray_state_.gate_open() || !WindowShown()) return;
    if (PassGate()) {
        showMaximized();
        raise();
        activateWindow();
    } else {
        HideWindow();
    }
}

void MainFrame::OnTrayClick() {
    switch (tray_state_.OnClick(WindowShown())) {
        case TrayStateMachine::Click::kIgnore:
            return;
        case TrayStateMachine::Click::kHide:
            HideWindow();
            return;
        case TrayStateMachine::Click::kAskPassword:
            raise();
            if (!PassGate()) return;
            break;
        case TrayStateMachine::Click::kShow:
            break;
    }
    showMaximized();
    raise();
    activateWindow();
}

void MainFrame::ShowFromOutside() {
    if (WindowShown()) {
        raise();
        activateWindow();
        return;
    }
    OnTrayClick();
}

void MainFrame::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    QueueGateCheck();
}

void MainFrame::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange) {
        if (isActiveWindow()) QueueGateCheck();
        return;
    }
    if (event->type() != QEvent::WindowStateChange) return;
    if (!isMinimized()) {
        // Restored (by the window manager, the task bar or a program).
        QueueGateCheck();
        return;
    }
    tray_state_.SetAutoLock(services_.settings->Current()->AutoLock != 0);
    tray_state_.OnMinimized();
    ShowLockState();
    // It lives on in the tray; without one it stays on the task bar.
    if (tray_) QMetaObject::invokeMethod(this, [this] { if (isMinimized()) hide(); }, Qt::QueuedConnection);
}

void MainFrame::ForceQuit() {
    quitting_ = true;
    if (tray_) tray_->hide();
    Q_EMIT QuitRequested();
}

void MainFrame::closeEvent(QCloseEvent* event) {
    if (quitting_) {
        event->accept();
        return;
    }
    event->ignore();
    // Closing a locked window (from the task bar) asks for the password too.
    if (tray_state_.locked() && (tray_state_.gate_open() || !PassGate())) return;
    const DialogResult result = services_.dialogs->Run(DialogRequest{DialogKind::kShutdown, this, {}, {}});
    const CloseDecision decision = DecideClose(
        result.accepted, result.value, [this] { return services_.has_queued_mail && services_.has_queued_mail(); },
        [this] { return services_.prompts->Question(this, Tr(kTextMailInTransfer)); });
    switch (decision) {
        case CloseDecision::kStay:
            return;
        case CloseDecision::kHide:
            HideWindow();
            return;
        case CloseDecision::kQuit:
            ForceQuit();
            return;
    }
}

}  // namespace quorvex::gui
