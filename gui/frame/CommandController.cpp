#include "gui/frame/CommandController.h"

#include <QPointer>
#include <memory>

#include "app/FirstSetup.h"
#include "app/ProgramFrontEnd.h"
#include "app/WebMailLanguage.h"
#include "app/WebSetup.h"
#include "common/AsciiCase.h"
#include "common/ComRegistration.h"
#include "common/DesktopEntry.h"
#include "common/HostInfo.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/net/HostConnect.h"
#include "gui/dialogs/LogDlg.h"
#include "gui/dialogs/ProgressDlg.h"
#include "gui/frame/AccountCommands.h"
#include "gui/frame/VersionCheckWorker.h"
#include "gui/logic/FrameLogic.h"
#include "gui/logic/SettingsRules.h"
#include "gui/logic/SettingsSource.h"
#include "gui/logic/VersionCheck.h"
#include "gui/settings/SettingsDialogs.h"
#include "gui/support/DesktopOpener.h"
#include "gui/support/DialogTable.h"
#include "gui/support/GuiStrings.h"
#include "gui/support/Prompts.h"
#include "gui/support/TextCodec.h"
#include "gui/support/WaitCursor.h"
#include "gui/support/WidgetTranslator.h"
#include "gui/views/AccountListView.h"

namespace quorvex::gui {

namespace {

constexpr std::string_view kComponentLibrary = "QuorvexCOM.so";
constexpr std::string_view kVersionHostKey = "VersionCheckHost";

QString Utf8(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

}  // namespace

CommandController::CommandController(const GuiServices& services, app::ProgramHost* host, CommandWindow& window,
                                     AccountListView& view, QObject* parent)
    : QObject(parent),
      services_(services),
      host_(host),
      window_(window),
      view_(view),
      account_commands_(new AccountCommands(services, view, this)),
      version_check_(new VersionCheckWorker(this)) {}

CommandController::~CommandController() = default;

void CommandController::Run(Command command) {
    const SettingsSnapshot settings = services_.settings->Current();
    DialogTable& dialogs = *services_.dialogs;
    Prompts& prompts = *services_.prompts;
    QWidget* parent = window_.DialogParent();
    AccountCommands& accounts = *account_commands_;
    auto run = [&](DialogKind kind) { return dialogs.Run(DialogRequest{kind, parent, {}, {}}); };
    switch (command) {
        case Command::kRefresh: view_.OnRefreshUserList(); return;
        case Command::kHide: window_.HideWindow(); return;
        case Command::kLock: window_.LockWindow(); return;
        case Command::kSendMailToAll: accounts.SendMailToAll(); return;
        case Command::kOpenLog: run(DialogKind::kLog); return;
        case Command::kClearLog: ClearLogsWithQuestion(settings->LogFilePath, prompts, parent); return;
        case Command::kExport: {
            // The report holds the rows of the list, in the order shown.
            DialogRequest request{DialogKind::kExportUsers, parent, {}, {}};
            request.accounts = view_.ShownNames();
            dialogs.Run(request);
            return;
        }
        case Command::kShutdown: window_.CloseWindow(); return;
        case Command::kNewAccount: accounts.NewAccount(); return;
        case Command::kDeleteAccount: accounts.DeleteAccounts(); return;
        case Command::kClearMail: accounts.ClearMail(); return;
        case Command::kEditAccount: accounts.EditAccount(); return;
        case Command::kSelectAll: view_.OnSelectAll(); return;
        case Command::kConfiguration: {
            const DialogResult result = run(DialogKind::kSettings);
            if (result.accepted && result.value == kQuitForService) {
                // The service runs the server from now on.
                window_.QuitNow();
            } else if (result.accepted) {
                ApplyNewConfiguration();
            }
            return;
        }
        case Command::kReinstall: run(DialogKind::kFirstRunSetup); return;
        case Command::kVirtualDirectory:
            if (run(DialogKind::kWebDirectorySetup).accepted) {
                prompts.Information(parent, Tr(kTextWebDirectoryDone));
            } else {
                prompts.Warning(parent, Tr(kTextWebDirectoryFailed));
            }
            return;
        case Command::kRegisterCom: RegisterComponent(*settings); return;
        case Command::kDesktopShortcut: {
            const WaitCursor wait;
            // The program a user starts, on the folder this one runs on.
            if (CreateDesktopShortcut(app::ProgramLauncherPath()) == 0) {
                prompts.Information(parent, Tr(kTextShortcutCreated));
            } else {
                prompts.Warning(parent, Tr(kTextShortcutFailed));
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
            if (result.exit_status != 0) prompts.Warning(parent, Tr(kTextWebServerReloadFailed));
            return;
        }
        case Command::kAbout: run(DialogKind::kAbout); return;
        case Command::kUserManual: OpenUserManual(*settings); return;
        case Command::kDownload: OpenUrlOrSayWhy(*services_.opener, prompts, parent, Tr(kTextHomePage)); return;
        case Command::kDeletedUsers:
            run(DialogKind::kDeletedUsers);
            view_.OnRefreshUserList();
            return;
        case Command::kSendMail: accounts.SendMail(); return;
        case Command::kNewGroup: accounts.NewGroup(); return;
        case Command::kEditGroup: accounts.EditGroup(); return;
        case Command::kRebuild: accounts.RebuildMailList(); return;
    }
}

void CommandController::RegisterComponent(const CServerSettings& settings) {
    const WaitCursor wait;
    // Its configuration follows the settings (the ports those the listeners
    // use), then the library is recorded as the component.
    const bool registered = app::WriteWebComponentConfig() && app::WriteWebComponentPorts(services_.ports_in_use) &&
                            RegisterComServer(JoinPath(settings.Folder(), kComponentLibrary)) == 1;
    if (registered) {
        services_.prompts->Information(window_.DialogParent(), Tr(kTextComRegistered));
    } else {
        services_.prompts->Warning(window_.DialogParent(), Tr(kTextComFailed));
    }
}

void CommandController::OpenUserManual(const CServerSettings& settings) {
    const std::string manual = FindUserManual(settings.Folder(), settings.Language,
                                              [](const std::string& path) { return FileExists(path); });
    if (manual.empty()) {
        services_.prompts->Information(window_.DialogParent(), Tr(kTextNoUserManual));
    } else {
        OpenPathOrSayWhy(*services_.opener, *services_.prompts, window_.DialogParent(),
                         QString::fromStdString(manual));
    }
}

void CommandController::ApplyNewConfiguration() {
    const SettingsSnapshot settings = services_.settings->Reload();
    app::WriteWebMailLanguageFile(settings->Folder(), settings->Language);
    FollowSettingsInForce();
}

void CommandController::ReloadSettings() {
    if (host_) {
        host_->ReloadSettings();
    } else {
        services_.settings->Reload();
    }
    FollowSettingsInForce();
}

void CommandController::FollowSettingsInForce() {
    window_.FollowSettings(*services_.settings->Current());
    view_.OnRefreshUserList();
}

void CommandController::OnStatusPaneDoubleClick(StatusPane pane, bool control) {
    // Only while the product keeps its name (a rebranding translation
    // switches these extras off).
    if (!Tr(kTextProductName).contains(Utf8(kTextProductName))) return;
    switch (pane) {
        case StatusPane::kTime:
            if (control) {
                OpenPathOrSayWhy(*services_.opener, *services_.prompts, window_.DialogParent(),
                                 QString::fromStdString(services_.settings->Current()->Folder()));
            } else {
                services_.prompts->Information(window_.DialogParent(), Utf8(kTextBuildDate));
            }
            return;
        case StatusPane::kDate: CheckNewVersion(); return;
        case StatusPane::kUserCount: {
            std::string host = AsciiLowerCase(ComputerName());
            if (host.empty()) host = "localhost";
            // The web-mail folder set-up publishes; the web server gives
            // its start page.
            OpenUrlOrSayWhy(*services_.opener, *services_.prompts, window_.DialogParent(),
                            QString::fromStdString("http://" + host + "/mail/"));
            return;
        }
    }
}

// ---- version check -------------------------------------------------------

bool CommandController::version_check_running() const { return version_check_->running(); }

void CommandController::CheckNewVersion() {
    if (version_check_->running()) return;
    const SettingsSnapshot settings = services_.settings->Current();
    const auto host = ParseVersionHost(ReadProfileString(settings->ConfigIni(), "System", kVersionHostKey));
    if (!host) return;  // no vendor host configured: the check is off
    QPointer<ProgressDlg> progress = new ProgressDlg(kTextCheckingVersion, window_.DialogParent());
    progress->SetRange(0, 4);
    progress->SetValue(1);
    progress->show();
    // The wait cursor ends with the check, also when the window goes first.
    auto wait = std::make_shared<WaitCursor>();
    version_check_->Start(
        [host = *host, proxy = OutgoingProxy(*settings)](std::stop_token stop) {
            return FetchVersionReply(host, proxy, stop);
        },
        [this, progress, wait](std::optional<std::string> reply) mutable {
            wait.reset();
            if (progress) {
                progress->SetValue(4);
                progress->close();
                progress->deleteLater();
            }
            ShowVersionVerdict(reply);
        });
}

void CommandController::ShowVersionVerdict(const std::optional<std::string>& reply) {
    if (!reply) return;  // a failed connection ends the check silently
    const auto parsed = ParseVersionReply(*reply);
    if (!parsed) return;
    Prompts& prompts = *services_.prompts;
    QWidget* parent = window_.DialogParent();
    const auto version_text = [&](std::string_view format) {
        return FormatText(Tr(format), {QString::number(parsed->number / 100), QString::number(parsed->number % 100),
                                       FromFileText(parsed->date)});
    };
    QString question;
    switch (JudgeVersion(*parsed, kTextBuildDate)) {
        case VersionVerdict::kNothing: return;
        case VersionVerdict::kLatest: prompts.Information(parent, version_text(kTextLatestVersionFormat)); return;
        case VersionVerdict::kNewVersion: question = version_text(kTextNewVersionFormat); break;
        case VersionVerdict::kNewUnknown: question = Tr(kTextNewVersion); break;
    }
    if (prompts.Question(parent, question)) OpenUrlOrSayWhy(*services_.opener, prompts, parent, Tr(kTextHomePage));
}

}  // namespace quorvex::gui
