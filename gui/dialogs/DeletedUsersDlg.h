// "Deleted User Management": the set-aside account folders ("_name") of
// the mail folder, which the administrator can restore to their account
// name or delete with all their mail.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "gui/logic/SettingsSource.h"

class QTableWidget;

namespace quorvex {
class AccountList;
}

namespace quorvex::gui {

class Prompts;

class DeletedUsersDlg final : public QDialog {
    Q_OBJECT
public:
    // A restored account goes back into `accounts`, its name checked
    // against the domains of `settings`.
    DeletedUsersDlg(SettingsSnapshot settings, AccountList& accounts, Prompts& prompts, QWidget* parent = nullptr);

    QTableWidget* list() const { return list_; }

public Q_SLOTS:
    void FillList();
    void OnSelectAll();
    void OnRestore();
    void OnDelete();

private:
    std::vector<std::string> SelectedFolders() const;

    SettingsSnapshot settings_;
    AccountList& accounts_;
    Prompts& prompts_;
    QTableWidget* list_;
};

}  // namespace quorvex::gui
