// The account sheet's first page: the account's name, password, user
// name, description, contact address, mailbox size and its switches and
// rights. An empty name opens a new account: its name can be typed until
// it has passed the name checks once (on leaving the page or at OK), and
// the account is created only when no account of that name exists by
// then. The password field starts empty; only a typed password is stored.
#pragma once

#include <string>

#include "gui/dialogs/account/AccountSheetPage.h"
#include "gui/logic/SettingsSource.h"
#include "mailmodel/account/AccountConfig.h"

class QCheckBox;
class QLineEdit;
class QRadioButton;
class QSpinBox;

namespace quorvex {
class AccountList;
}

namespace quorvex::gui {

class Prompts;
struct BasicInfoFields;

class AccBaseInfoDlg final : public AccountSheetPage {
    Q_OBJECT
public:
    AccBaseInfoDlg(std::string account, SettingsSnapshot settings, const AccountList& accounts, Prompts& prompts,
                   QWidget* parent = nullptr);

    // The name in the Account field.
    std::string account_name() const;
    bool is_new() const { return is_new_; }
    // Where the sheet opens: the name of a new account, else the password.
    QWidget* first_field() const;

    // The name checks of a new account, run when the page is left: false
    // (with the message shown) keeps the user on the page; true fixes the
    // name. An existing account passes at once.
    bool CheckNameForHandOver();
    // A limited mailbox size outside its range is refused naming the field
    // and the range, before any page is saved.
    bool CheckBeforeSave() override;
    // Saves the account; false (with the reason shown) keeps the sheet open.
    bool Save() override;

private:
    BasicInfoFields ReadFields() const;
    void OnUnlimitedToggled();

    SettingsSnapshot settings_;
    const AccountList& accounts_;
    Prompts& prompts_;
    bool is_new_;
    AccountRecord record_;
    QLineEdit* account_;
    QLineEdit* password_;
    QLineEdit* user_name_;
    QLineEdit* description_;
    QLineEdit* contact_;
    QSpinBox* volume_;
    QCheckBox* unlimited_;
    QCheckBox* disabled_;
    QRadioButton* permissions_[3];
};

}  // namespace quorvex::gui
