// Creating or editing a mail group: its name, description and switch, and
// its members, moved between the list of other users and the member list
// with Add, Add All, Remove, Remove All or a double-click.
#pragma once

#include <QDialog>
#include <string>

#include "gui/logic/SettingsSource.h"
#include "gui/logic/account/GroupEditModel.h"

class QCheckBox;
class QLineEdit;
class QListWidget;

namespace quorvex {
class AccountList;
}

namespace quorvex::gui {

class Prompts;

class GroupDlg final : public QDialog {
    Q_OBJECT
public:
    // An empty group name creates a new group. The other users are the
    // accounts of `accounts`; a new name is checked under `settings`.
    GroupDlg(std::string group, SettingsSnapshot settings, const AccountList& accounts, Prompts& prompts,
             QWidget* parent = nullptr);

private:
    void ShowLists();
    static std::vector<int> SelectedRows(const QListWidget* list);
    void OnAdd();
    void OnAddAll();
    void OnRemove();
    void OnRemoveAll();
    void OnOk();

    SettingsSnapshot settings_;
    const AccountList& accounts_;
    Prompts& prompts_;
    bool is_new_;
    GroupEditModel model_;
    QLineEdit* name_;
    QLineEdit* description_;
    QCheckBox* disabled_;
    QListWidget* others_;
    QListWidget* members_;
};

}  // namespace quorvex::gui
