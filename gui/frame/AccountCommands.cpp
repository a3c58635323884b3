#include "gui/frame/AccountCommands.h"

#include "app/ProgramMessages.h"
#include "gui/logic/AccountRows.h"
#include "gui/support/DialogTable.h"
#include "gui/support/GuiStrings.h"
#include "gui/support/Prompts.h"
#include "gui/support/TextCodec.h"
#include "gui/support/WidgetTranslator.h"
#include "gui/views/AccountListView.h"
#include "mailmodel/account/AccountConfig.h"
#include "mailmodel/account/AccountList.h"
#include "mailmodel/store/MailStore.h"

namespace quorvex::gui {

AccountCommands::AccountCommands(const GuiServices& services, AccountListView& view, QObject* parent)
    : QObject(parent), services_(services), view_(view) {
    connect(&view_, &AccountListView::RowDoubleClicked, this, &AccountCommands::EditAccount);
    connect(&view_, &AccountListView::EmptySpaceDoubleClicked, this, &AccountCommands::ShowTransferStatus);
}

QWidget* AccountCommands::DialogParent() const { return view_.window(); }

DialogResult AccountCommands::Open(DialogKind kind, std::string account, std::string recipients) {
    return services_.dialogs->Run(DialogRequest{kind, DialogParent(), std::move(account), std::move(recipients)});
}

void AccountCommands::NewAccount() { Open(DialogKind::kAccountSheet); }

void AccountCommands::EditAccount() {
    const auto name = view_.FirstSelectedName();
    if (!name) return;
    if (services_.accounts->IsGroup(*name) != 0) {
        EditGroup();
        return;
    }
    if (Open(DialogKind::kAccountSheet, *name).accepted) view_.UpdateAccountRow(*name);
}

void AccountCommands::DeleteAccounts() {
    const std::vector<std::string> names = view_.SelectedNames();
    if (names.empty()) return;
    Prompts& prompts = *services_.prompts;
    const QString question = names.size() == 1 ? Tr(kTextDeleteAccountQuestion)
                                               : FormatText(Tr(kTextDeleteAccountsQuestionFormat),
                                                            {QString::number(names.size())});
    if (!prompts.Question(DialogParent(), question)) return;
    // Each selected name once: a refused account is not taken again. The
    // rows leave through the notices the deletions send.
    int refused = 0;
    for (const std::string& name : names) {
        if (DeleteAccount(name)) {
            app::WriteProgramLog("Account " + name + " deleted by the administrator");
        } else {
            ++refused;
        }
    }
    if (refused > 0) {
        prompts.Warning(DialogParent(), FormatText(Tr(kTextDeleteRefusedFormat), {QString::number(refused)}));
    }
}

void AccountCommands::ClearMail() {
    const std::vector<std::string> names = view_.SelectedNames();
    if (names.empty()) return;
    Prompts& prompts = *services_.prompts;
    if (!prompts.Question(DialogParent(), Tr(kTextClearMailQuestion))) return;
    for (const std::string& name : names) {
        MailboxSnapshot snapshot;
        bool cleared = LoadMailboxIndexLocked(name, snapshot);
        if (cleared) {
            MarkAllMessagesForDeletion(snapshot);
            cleared = ApplyMailboxChanges(name, snapshot);
        }
        if (!cleared) {
            prompts.Warning(DialogParent(), FormatText(Tr(kTextClearMailFailedFormat), {FromFileText(name)}));
        }
        view_.UpdateAccountRow(name);
    }
}

void AccountCommands::SendMail() {
    // Mail that was sent changed mailboxes: the list is read again.
    if (Open(DialogKind::kSendMail, {}, RecipientsFromSelection(view_.SelectedNames())).accepted) {
        view_.OnRefreshUserList();
    }
}

void AccountCommands::SendMailToAll() {
    if (Open(DialogKind::kSendMail, {}, "All").accepted) view_.OnRefreshUserList();
}

void AccountCommands::NewGroup() { Open(DialogKind::kGroup); }

void AccountCommands::EditGroup() {
    const auto name = view_.FirstSelectedName();
    if (!name || services_.accounts->IsGroup(*name) == 0) return;
    if (Open(DialogKind::kGroup, *name).accepted) view_.UpdateAccountRow(*name);
}

void AccountCommands::RebuildMailList() {
    const auto name = view_.FirstSelectedName();
    if (!name) return;
    Prompts& prompts = *services_.prompts;
    if (!prompts.Question(DialogParent(), Tr(kTextRebuildQuestion))) return;
    const bool rebuilt = RestoreBackupMails(*name);
    view_.UpdateAccountRow(*name);
    if (!rebuilt) {
        app::WriteProgramLog("Mail list of " + *name + " could not be rebuilt");
        prompts.Warning(DialogParent(), Tr(kTextRebuildFailed));
        return;
    }
    const int count = GetMailboxMessageCount(*name);
    app::WriteProgramLog("Mail list of " + *name + " rebuilt by the administrator: " + std::to_string(count) +
                         " mail(s)");
    prompts.Information(DialogParent(),
                        FormatText(Tr(kTextRebuiltFormat), {FromFileText(*name), QString::number(count)}));
}

void AccountCommands::ShowTransferStatus() { Open(DialogKind::kTransferStatus); }

}  // namespace quorvex::gui
