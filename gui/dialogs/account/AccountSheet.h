// The account sheet: a new account or an existing one on five pages (Basic
// Info, Remote POP3, Email Forwarding, Email Filter, Email Auto Reply).
// Leaving Basic Info runs the name checks of a new account first; OK saves
// the pages in a fixed order (Basic Info, filter, forwarding, remote POP3,
// auto-reply) and stops at the first that fails, keeping the sheet open.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "gui/logic/SettingsSource.h"

class QTabWidget;

namespace quorvex {
class AccountList;
}

namespace quorvex::gui {

class Prompts;
class AccountSheetPage;
class AccBaseInfoDlg;

class AccountSheet final : public QDialog {
    Q_OBJECT
public:
    // An empty account name opens a new account; `settings`: those in
    // force when the sheet opened, and `accounts` the account list (its
    // name checks).
    AccountSheet(std::string account, SettingsSnapshot settings, const AccountList& accounts, Prompts& prompts,
                 QWidget* parent = nullptr);

    QTabWidget* tabs() const { return tabs_; }

private:
    void OnTabChanged(int index);
    void OnOk();

    Prompts& prompts_;
    QTabWidget* tabs_;
    AccBaseInfoDlg* basic_;
    std::vector<AccountSheetPage*> save_order_;
    int current_tab_ = 0;
};

}  // namespace quorvex::gui
