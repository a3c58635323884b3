#include "gui/DialogRegistry.h"

#include "common/ServerSettings.h"
#include "gui/dialogs/AboutDlg.h"
#include "gui/dialogs/AdminPasswordDlg.h"
#include "gui/dialogs/LogDlg.h"
#include "gui/dialogs/LoginDlg.h"
#include "gui/dialogs/ShutdownDlg.h"
#include "gui/settings/SettingsDialogs.h"
// Account tools: the account sheet, groups and the welcome message.
#include "gui/dialogs/account/AccountSheet.h"
#include "gui/dialogs/account/ComposeWelcomeDlg.h"
#include "gui/dialogs/account/GroupDlg.h"
#include "common/Paths.h"
#include "mailmodel/WelcomeMail.h"
// The mail and account tools: send mail, transfer status, deleted users, report.
#include "app/ServerSmtpServices.h"
#include "gui/dialogs/DeletedUsersDlg.h"
#include "gui/dialogs/ReportDlg.h"
#include "gui/dialogs/SendMailDlg.h"
#include "gui/dialogs/TransferStatusDlg.h"
#include "gui/frame/MainFrame.h"
#include "gui/views/AccountListView.h"

namespace quorvex::gui {

namespace {

template <typename Dialog>
DialogResult RunModal(Dialog& dialog) {
    return DialogResult{dialog.exec() == QDialog::Accepted, 0};
}

}  // namespace

void RegisterDialogs(DialogTable& table, const GuiServices& services) {
    Prompts& prompts = *services.prompts;
    DesktopOpener& opener = *services.opener;
    table.Register(DialogKind::kLogin, [&table, &prompts](const DialogRequest& request) {
        LoginDlg dialog(Settings()->ConfigIni(), prompts, table, request.parent);
        return RunModal(dialog);
    });
    table.Register(DialogKind::kAdminPassword, [&prompts](const DialogRequest& request) {
        AdminPasswordDlg dialog(Settings()->ConfigIni(), prompts, request.parent);
        return RunModal(dialog);
    });
    table.Register(DialogKind::kShutdown, [&prompts](const DialogRequest& request) {
        ShutdownDlg dialog(Settings()->ConfigIni(), prompts, request.parent);
        const bool accepted = dialog.exec() == QDialog::Accepted;
        return DialogResult{accepted, dialog.choice()};
    });
    table.Register(DialogKind::kLog, [&prompts, &opener](const DialogRequest& request) {
        LogDlg dialog(Settings()->LogFilePath, opener, prompts, request.parent);
        return RunModal(dialog);
    });
    table.Register(DialogKind::kAbout, [&prompts, &opener](const DialogRequest& request) {
        AboutDlg dialog(opener, prompts, request.parent);
        return RunModal(dialog);
    });
    // Account tools: the account sheet, groups and the welcome message.
    table.Register(DialogKind::kAccountSheet, [&prompts](const DialogRequest& request) {
        AccountSheet sheet(request.account, prompts, request.parent);
        return RunModal(sheet);
    });
    table.Register(DialogKind::kGroup, [&prompts](const DialogRequest& request) {
        GroupDlg dialog(request.account, prompts, request.parent);
        return RunModal(dialog);
    });
    table.Register(DialogKind::kWelcomeMessage, [&prompts](const DialogRequest& request) {
        ComposeWelcomeDlg dialog(JoinPath(ProgramFolder(), kWelcomeMailFileName), prompts, request.parent);
        return RunModal(dialog);
    });
    // Sending mail, the outgoing queue, deleted accounts and the report.
    FileChooser& files = *services.files;
    OutgoingQueue* queue = services.queue;
    table.Register(DialogKind::kSendMail, [&prompts, &files, queue](const DialogRequest& request) {
        smtp::ServerSmtpServices directory(ProcessNoticeBus(), *queue);
        QWidget* parent = request.parent;
        SendMailDlg dialog(request.recipients, directory, prompts, files, parent, [parent] {
            if (auto* frame = qobject_cast<MainFrame*>(parent)) frame->account_view()->OnRefreshUserList();
        });
        return RunModal(dialog);
    });
    table.Register(DialogKind::kTransferStatus, [&prompts, queue](const DialogRequest& request) {
        TransferStatusDlg dialog(prompts, *queue, request.parent);
        return RunModal(dialog);
    });
    table.Register(DialogKind::kDeletedUsers, [&prompts](const DialogRequest& request) {
        DeletedUsersDlg dialog(prompts, request.parent);
        return RunModal(dialog);
    });
    table.Register(DialogKind::kExportUsers, [&prompts, &opener](const DialogRequest& request) {
        // The rows of the main window's account list, in the order shown.
        std::vector<std::string> accounts;
        if (auto* frame = qobject_cast<MainFrame*>(request.parent)) accounts = frame->account_view()->ShownNames();
        ReportDlg dialog(std::move(accounts), opener, prompts, request.parent);
        return RunModal(dialog);
    });
    // Settings and set-up: the configuration window, "Reinstall" and
    // "Create virtual directory".
    RegisterSettingsDialogs(table, services);
}

}  // namespace quorvex::gui
