// The account commands of the menus, the tool bar, the account list's
// right-click menu and its double clicks: new, edit, delete, clear mail,
// send mail, groups and rebuild. They act on the list's selection, open
// their dialogs through the dialog table, ask and tell through the prompts,
// and have the list read again the rows they changed; the list itself only
// shows.
#pragma once

#include <QObject>

#include "gui/support/DialogTable.h"
#include "gui/support/GuiServices.h"

namespace quorvex::gui {

class AccountListView;

class AccountCommands final : public QObject {
    Q_OBJECT
public:
    // Takes the list's double clicks: on a row it edits that account (or
    // group), on the empty space it opens the transfer status.
    AccountCommands(const GuiServices& services, AccountListView& view, QObject* parent = nullptr);

    void NewAccount();
    // The first selected row: its account sheet, or its group dialog.
    void EditAccount();
    // Asks once, then deletes each selected account; tells how many were
    // refused.
    void DeleteAccounts();
    // Asks once, then empties each selected mailbox.
    void ClearMail();
    // The send-mail dialog to the selected accounts, or to every account.
    void SendMail();
    void SendMailToAll();
    void NewGroup();
    void EditGroup();
    // Asks, then rebuilds the first selected mailbox from its backups, and
    // tells the outcome (also to the system log).
    void RebuildMailList();
    void ShowTransferStatus();

private:
    QWidget* DialogParent() const;
    DialogResult Open(DialogKind kind, std::string account = {}, std::string recipients = {});

    GuiServices services_;
    AccountListView& view_;
};

}  // namespace quorvex::gui
