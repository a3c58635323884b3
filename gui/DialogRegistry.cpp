#include "gui/DialogRegistry.h"

#include "gui/dialogs/AboutDlg.h"
#include "gui/dialogs/AdminPasswordDlg.h"
#include "gui/dialogs/LogDlg.h"
#include "gui/dialogs/LoginDlg.h"
#include "gui/dialogs/ShutdownDlg.h"
#include "gui/logic/SettingsSource.h"
#include "gui/settings/SettingsDialogs.h"
// Account tools: the account sheet, groups and the welcome message.
#include "common/Paths.h"
#include "gui/dialogs/account/AccountSheet.h"
#include "gui/dialogs/account/ComposeWelcomeDlg.h"
#include "gui/dialogs/account/GroupDlg.h"
#include "mailmodel/WelcomeMail.h"
// The mail and account tools: send mail, transfer status, deleted users, report.
#include "app/ServerSmtpServices.h"
#include "gui/dialogs/DeletedUsersDlg.h"
#include "gui/dialogs/ReportDlg.h"
#include "gui/dialogs/SendMailDlg.h"
#include "gui/dialogs/TransferStatusDlg.h"

namespace quorvex::gui {

namespace {

template <typename Dialog>
DialogResult RunModal(Dialog& dialog) {
    return DialogResult{dialog.exec() == QDialog::Accepted, 0};
}

}  // namespace

// Each dialog takes the settings in force when it opens.
void RegisterDialogs(DialogTable& table, const GuiServices& services) {
    Prompts& prompts = *services.prompts;
    DesktopOpener& opener = *services.opener;
    SettingsSource& settings = *services.settings;
    AccountList& accounts = *services.accounts;
    table.Register(DialogKind::kLogin, [&table, &prompts, &settings](const DialogRequest& request) {
        LoginDlg dialog(settings.Current()->ConfigIni(), prompts, table, request.parent);
        return RunModal(dialog);
    });
    table.Register(DialogKind::kAdminPassword, [&prompts, &settings](const DialogRequest& request) {
        AdminPasswordDlg dialog(settings.Current()->ConfigIni(), prompts, request.parent);
        return RunModal(dialog);
    });
    table.Register(DialogKind::kShutdown, [&prompts, &settings](const DialogRequest& request) {
        ShutdownDlg dialog(settings.Current()->ConfigIni(), prompts, request.parent);
        const bool accepted = dialog.exec() == QDialog::Accepted;
        return DialogResult{accepted, dialog.choice()};
    });
    table.Register(DialogKind::kLog, [&prompts, &opener, &settings](const DialogRequest& request) {
        LogDlg dialog(settings.Current()->LogFilePath, opener, prompts, request.parent);
        return RunModal(dialog);
    });
    table.Register(DialogKind::kAbout, [&prompts, &opener](const DialogRequest& request) {
        AboutDlg dialog(opener, prompts, request.parent);
        return RunModal(dialog);
    });
    // Account tools: the account sheet, groups and the welcome message.
    table.Register(DialogKind::kAccountSheet, [&prompts, &settings, &accounts](const DialogRequest& request) {
        AccountSheet sheet(request.account, settings.Current(), accounts, prompts, request.parent);
        return RunModal(sheet);
    });
    table.Register(DialogKind::kGroup, [&prompts, &settings, &accounts](const DialogRequest& request) {
        GroupDlg dialog(request.account, settings.Current(), accounts, prompts, request.parent);
        return RunModal(dialog);
    });
    table.Register(DialogKind::kWelcomeMessage, [&prompts, &settings](const DialogRequest& request) {
        ComposeWelcomeDlg dialog(JoinPath(settings.Current()->Folder(), kWelcomeMailFileName), prompts,
                                 request.parent);
        return RunModal(dialog);
    });
    // Sending mail, the outgoing queue, deleted accounts and the report.
    FileChooser& files = *services.files;
    OutgoingQueue* queue = services.queue;
    auto send_mail = [&prompts, &files, &settings, &accounts, queue](const DialogRequest& request) {
        smtp::ServerSmtpServices directory(ProcessNoticeBus(), *queue);
        SendMailDlg dialog(request.recipients, settings.Current(), directory, accounts, prompts, files, request.parent);
        return RunModal(dialog);
    };
    table.Register(DialogKind::kSendMail, send_mail);
    table.Register(DialogKind::kTransferStatus, [&prompts, queue](const DialogRequest& request) {
        TransferStatusDlg dialog(prompts, *queue, request.parent);
        return RunModal(dialog);
    });
    table.Register(DialogKind::kDeletedUsers, [&prompts, &settings, &accounts](const DialogRequest& request) {
        DeletedUsersDlg dialog(settings.Current(), accounts, prompts, request.parent);
        return RunModal(dialog);
    });
    table.Register(DialogKind::kExportUsers, [&prompts, &opener, &settings, &accounts](const DialogRequest& request) {
        ReportDlg dialog(request.accounts, settings.Current(), accounts, opener, prompts, request.parent);
        return RunModal(dialog);
    });
    // Settings and set-up: the configuration window, "Reinstall" and
    // "Create virtual directory".
    RegisterSettingsDialogs(table, services);
}

}  // namespace quorvex::gui
