#include "gui/frame/MainFrame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMetaObject>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTime>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <thread>

#include "app/ProgramFrontEnd.h"
#include "app/ProgramMessages.h"
#include "app/WebMailLanguage.h"
#include "app/WebSetup.h"
#include "common/AsciiCase.h"
#include "common/ComRegistration.h"
#include "common/DesktopEntry.h"
#include "common/ErrorAlert.h"
#include "common/HostInfo.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/ServerSettings.h"
#include "common/Translation.h"
#include "gui/dialogs/AutoHeightComboBox.h"
#include "gui/dialogs/ErrorAlertDlg.h"
#include "gui/dialogs/LogDlg.h"
#include "gui/dialogs/ProgressDlg.h"
#include "gui/dialogs/SplashWindow.h"
#include "gui/dialogs/StatusLed.h"
#include "gui/logic/SettingsRules.h"
#include "gui/logic/VersionCheck.h"
#include "gui/settings/SettingsDialogs.h"
#include "gui/support/DialogTable.h"
#include "gui/support/GuiStrings.h"
#include "gui/support/Prompts.h"
#include "gui/support/TextCodec.h"
#include "gui/support/WaitCursor.h"
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
constexpr int kTimerPeriodMs = 1000;
constexpr std::string_view kComponentLibrary = "QuorvexCOM.so";
constexpr std::string_view kVersionHostKey = "VersionCheckHost";

QString Utf8(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

std::string ProgramVersion() { return std::string(app::kProgramVersion); }

}  // namespace

namespace {

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
      host_(host),
      relay_(new NoticeRelay(bus, this)),
      splitter_(new QSplitter(Qt::Vertical, this)),
      account_view_(new AccountListView(services, splitter_)),
      log_view_(new ServerLogView(splitter_)),
      tray_state_(Settings()->AutoLock != 0) {
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
    BuildStatusBar();
    BuildTray();
    setWindowIcon(QApplication::style()->standardIcon(QStyle::SP_DriveNetIcon));

    account_view_->SetDomainSelection([this] { return SelectedDomain(); });
    connect(account_view_, &AccountListView::UserCountChanged, this, &MainFrame::OnUpdateUserCount);
    connect(log_view_, &ServerLogView::OpenLogRequested, this, [this] { RunCommand(Command::kOpenLog); });
    log_view_->InstallAsSystemLogDisplay();

    // A log line is a file append (its display is queued to the pane): it is
    // written on the relay's thread, and the window never waits for the disk.
    relay_->HandleOnDeliveryThread(NoticeId::WM_SHOW_MESSAGE, [](const Notice& notice) {
        if (!RepeatsFailedLogin(notice.payload)) app::WriteProgramLog(notice.payload);
    });
    // The frame takes each notice first, then the views.
    relay_->AddReceiver(this);
    relay_->AddReceiver(account_view_);

    connect(&tick_, &QTimer::timeout, this, &MainFrame::Tick);
    tick_.start(kTimerPeriodMs);
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
        connect(action, &QAction::triggered, this, [this, which] { RunCommand(which); });
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
    connect(new_account, &QAction::triggered, this, [this] { RunCommand(Command::kNewAccount); });
    connect(new_group, &QAction::triggered, this, [this] { RunCommand(Command::kNewGroup); });
    for (const auto& [command, icon] : buttons) {
        if (!command) {
            tool_actions_.push_back(tool_bar_->addSeparator());
            continue;
        }
        auto* button_action = new QAction(style->standardIcon(icon), QString(), this);
        KeepUntranslated(button_action);  // its text is a piece of the tool-bar text
        button_action->setObjectName(QStringLiteral("tool") + QString::number(static_cast<int>(*command)));
        const Command which = *command;
        connect(button_action, &QAction::triggered, this, [this, which] { RunCommand(which); });
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

void MainFrame::BuildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("statusBar"));
    led_ = new StatusLed(bar);
    domain_selector_ = new AutoHeightComboBox(bar);
    domain_selector_->setObjectName(QStringLiteral("domainSelector"));
    domain_selector_->setMinimumWidth(100);
    domain_selector_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    main_pane_ = new QLabel(bar);
    user_count_ = new QLabel(bar);
    user_count_->setObjectName(QStringLiteral("userCount"));
    date_ = new QLabel(bar);
    date_->setObjectName(QStringLiteral("datePane"));
    time_ = new QLabel(bar);
    time_->setObjectName(QStringLiteral("timePane"));
    for (QLabel* pane : {main_pane_, user_count_, date_, time_}) {
        KeepUntranslated(pane);
        pane->installEventFilter(this);
    }
    bar->addWidget(led_);
    bar->addWidget(domain_selector_);
    bar->addWidget(main_pane_, 1);
    bar->addPermanentWidget(user_count_);
    bar->addPermanentWidget(date_);
    bar->addPermanentWidget(time_);
    connect(domain_selector_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0) account_view_->OnRefreshUserList();
    });
    RefillDomainSelector();
    UpdateClock();
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
    const auto settings = Settings();
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
            if (host_) {
                host_->ReloadSettings();
            } else {
                ReloadSettings();
            }
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
    user_count_->setText(QStringLiteral(" ") + FormatText(Tr(kTextUserCountFormat), {QString::number(count)}));
    RefillDomainSelector();
}

void MainFrame::RefillDomainSelector() {
    const auto settings = Settings();
    if (settings->DomainNameType != 1) {
        domain_selector_->hide();
        return;
    }
    std::vector<std::string> domains;
    for (int i = 0; i < settings->Domains.GetCount(); ++i) {
        DomainRecord record;
        if (settings->Domains.Get(i, record)) domains.push_back(record.Name);
    }
    const std::vector<std::string> items = DomainSelectorItems(ToFileText(Tr(kTextAllDomains)), domains);
    const std::string old_text = ToFileText(domain_selector_->currentText());
    const int old_index = domain_selector_->currentIndex();
    {
        const QSignalBlocker quiet(domain_selector_);
        domain_selector_->clear();
        for (const std::string& item : items) domain_selector_->addItem(FromFileText(item));
        domain_selector_->setCurrentIndex(ReselectDomain(items, old_index < 0 ? std::string() : old_text, old_index));
    }
    domain_selector_->show();
}

std::optional<std::string> MainFrame::SelectedDomain() const {
    if (!domain_selector_->isVisibleTo(const_cast<MainFrame*>(this)) || domain_selector_->currentIndex() < 0) {
        return std::nullopt;
    }
    return ToFileText(domain_selector_->currentText());
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

void MainFrame::ShowLockState() {
    const bool usable = !tray_state_.locked();
    splitter_->setVisible(usable);
    for (QWidget* part : std::initializer_list<QWidget*>{menuBar(), tool_bar_, statusBar()}) part->setEnabled(usable);
    for (const auto& [command, item] : actions_) item->setEnabled(usable);
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
    tray_state_.SetAutoLock(Settings()->AutoLock != 0);
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

// ---- timers and the status bar -------------------------------------------

void MainFrame::Tick() {
    UpdateClock();
    const int busy = (services_.active_jobs ? services_.active_jobs() : 0) +
                     (services_.active_deliveries ? services_.active_deliveries() : 0);
    led_->Flash(busy > 0 ? kTimerPeriodMs : 0);
}

void MainFrame::UpdateClock() {
    date_->setText(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
    time_->setText(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")));
}

bool MainFrame::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick &&
        (watched == user_count_ || watched == date_ || watched == time_)) {
        OnStatusPaneDoubleClick(watched);
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainFrame::OnStatusPaneDoubleClick(QObject* pane) {
    // Only while the product keeps its name (a rebranding translation
    // switches these extras off).
    if (!Tr(kTextProductName).contains(Utf8(kTextProductName))) return;
    if (pane == time_) {
        if (QGuiApplication::keyboardModifiers() & Qt::ControlModifier) {
            services_.opener->OpenPath(QString::fromStdString(Settings()->Folder()));
        } else {
            services_.prompts->Information(this, Utf8(kTextBuildDate));
        }
    } else if (pane == date_) {
        CheckNewVersion();
    } else if (pane == user_count_) {
        std::string host = AsciiLowerCase(ComputerName());
        if (host.empty()) host = "localhost";
        services_.opener->OpenUrl(QString::fromStdString("http://" + host + "/mail/index.asp"));
    }
}

// ---- commands ------------------------------------------------------------

void MainFrame::RunCommand(Command command) {
    const auto settings = Settings();
    DialogTable& dialogs = *services_.dialogs;
    Prompts& prompts = *services_.prompts;
    auto run = [&](DialogKind kind) { return dialogs.Run(DialogRequest{kind, this, {}, {}}); };
    switch (command) {
        case Command::kRefresh: account_view_->OnRefreshUserList(); return;
        case Command::kHide: HideWindow(); return;
        case Command::kLock:
            tray_state_.Lock();
            ShowLockState();
            HideWindow();
            return;
        case Command::kSendMailToAll: account_view_->OnSendMailToAll(); return;
        case Command::kOpenLog: run(DialogKind::kLog); return;
        case Command::kClearLog: ClearLogsWithQuestion(settings->LogFilePath, prompts, this); return;
        case Command::kExport: run(DialogKind::kExportUsers); return;
        case Command::kShutdown: close(); return;
        case Command::kNewAccount: account_view_->OnNewAccount(); return;
        case Command::kDeleteAccount: account_view_->OnDeleteAccount(); return;
        case Command::kClearMail: account_view_->OnClearMail(); return;
        case Command::kEditAccount: account_view_->OnEditAccount(); return;
        case Command::kSelectAll: account_view_->OnSelectAll(); return;
        case Command::kConfiguration: {
            const DialogResult result = run(DialogKind::kSettings);
            if (result.accepted && result.value == kQuitForService) {
                // The service runs the server from now on.
                ForceQuit();
            } else if (result.accepted) {
                ApplyNewConfiguration();
            }
            return;
        }
        case Command::kReinstall: run(DialogKind::kFirstRunSetup); return;
        case Command::kVirtualDirectory:
            if (run(DialogKind::kWebDirectorySetup).accepted) {
                prompts.Information(this, Tr(kTextWebDirectoryDone));
            } else {
                prompts.Warning(this, Tr(kTextWebDirectoryFailed));
            }
            return;
        case Command::kRegisterCom: {
            const WaitCursor wait;
            // Its configuration follows the settings (the ports those the
            // listeners use), then the library is recorded as the component.
            const bool registered = app::WriteWebComponentConfig() &&
                                    app::WriteWebComponentPorts(services_.ports_in_use) &&
                                    RegisterComServer(JoinPath(settings->Folder(), kComponentLibrary)) == 1;
            if (registered) {
                prompts.Information(this, Tr(kTextComRegistered));
            } else {
                prompts.Warning(this, Tr(kTextComFailed));
            }
            return;
        }
        case Command::kDesktopShortcut: {
            const WaitCursor wait;
            if (CreateDesktopShortcut() >= 0) {
                prompts.Information(this, Tr(kTextShortcutCreated));
            } else {
                prompts.Warning(this, Tr(kTextShortcutFailed));
            }
            return;
        }
        case Command::kAdminPassword: run(DialogKind::kAdminPassword); return;
        case Command::kWelcome: run(DialogKind::kWelcomeMessage); return;
        case Command::kTransferStatus: run(DialogKind::kTransferStatus); return;
        case Command::kRestartIis: {
            // The web server of the web-mail pages is Apache: it rereads its
            // configuration and finishes the requests in hand.
            const WaitCursor wait;
            const CommandResult result =
                services_.run_command ? services_.run_command(WebServerRestartCommand()) : CommandResult{};
            if (result.exit_status != 0) prompts.Warning(this, Tr(kTextWebServerReloadFailed));
            return;
        }
        case Command::kAbout: run(DialogKind::kAbout); return;
        case Command::kUserManual: {
            const std::string manual = FindUserManual(settings->Folder(), settings->Language,
                                                      [](const std::string& path) { return FileExists(path); });
            if (manual.empty()) {
                prompts.Information(this, Tr(kTextNoUserManual));
            } else if (!services_.opener->OpenPath(QString::fromStdString(manual))) {
                prompts.Warning(this, FormatText(Tr(kTextOpenFailedFormat), {QString::fromStdString(manual)}));
            }
            return;
        }
        case Command::kDownload: services_.opener->OpenUrl(Tr(kTextHomePage)); return;
        case Command::kDeletedUsers:
            run(DialogKind::kDeletedUsers);
            account_view_->OnRefreshUserList();
            return;
        case Command::kSendMail: account_view_->OnSendMail(); return;
        case Command::kNewGroup: account_view_->OnNewGroup(); return;
        case Command::kEditGroup: account_view_->OnEditGroup(); return;
        case Command::kRebuild: account_view_->OnRebuildMailList(); return;
    }
}

void MainFrame::ApplyNewConfiguration() {
    ReloadSettings();
    const auto settings = Settings();
    tray_state_.SetAutoLock(settings->AutoLock != 0);
    Retranslate();
    app::WriteWebMailLanguageFile(settings->Folder(), settings->Language);
    RefillDomainSelector();
    account_view_->OnRefreshUserList();
}

// ---- version check -------------------------------------------------------

void MainFrame::CheckNewVersion() {
    if (version_check_running_) return;
    const auto host = ParseVersionHost(ReadProfileString(Settings()->ConfigIni(), "System", kVersionHostKey));
    if (!host) return;  // no vendor host configured: the check is off
    version_check_running_ = true;
    auto* progress = new ProgressDlg(kTextCheckingVersion, this);
    progress->SetRange(0, 4);
    progress->SetValue(1);
    progress->show();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QPointer<MainFrame> self(this);
    std::thread([self, host = *host, progress] {
        std::optional<std::string> reply = FetchVersionReply(host);
        QMetaObject::invokeMethod(
            qApp,
            [self, progress, reply = std::move(reply)] {
                QApplication::restoreOverrideCursor();
                if (!self) return;
                progress->SetValue(4);
                progress->close();
                progress->deleteLater();
                self->version_check_running_ = false;
                self->ShowVersionVerdict(reply);
            },
            Qt::QueuedConnection);
    }).detach();
}

void MainFrame::ShowVersionVerdict(const std::optional<std::string>& reply) {
    if (!reply) return;  // a failed connection ends the check silently
    const auto parsed = ParseVersionReply(*reply);
    if (!parsed) return;
    Prompts& prompts = *services_.prompts;
    bool ask = false;
    QString text;
    switch (JudgeVersion(*parsed, kTextBuildDate)) {
        case VersionVerdict::kNothing: return;
        case VersionVerdict::kLatest:
            prompts.Information(this, FormatText(Tr(kTextLatestVersionFormat),
                                                 {QString::number(parsed->number / 100),
                                                  QString::number(parsed->number % 100), FromFileText(parsed->date)}));
            return;
        case VersionVerdict::kNewVersion:
            ask = true;
            text = FormatText(Tr(kTextNewVersionFormat), {QString::number(parsed->number / 100),
                                                          QString::number(parsed->number % 100),
                                                          FromFileText(parsed->date)});
            break;
        case VersionVerdict::kNewUnknown:
            ask = true;
            text = Tr(kTextNewVersion);
            break;
    }
    if (ask && prompts.Question(this, text)) services_.opener->OpenUrl(Tr(kTextHomePage));
}

}  // namespace quorvex::gui
