// The password gate of a locked window: the administrator's password must
// match the stored digest; a wrong one keeps the dialog open.
#pragma once

#include <QDialog>
#include <string>

class QLineEdit;

namespace quorvex::gui {

// The dialog's object name: the main window's lock leaves it (and what it
// opens) usable.
inline constexpr const char* kLoginDialogName = "loginDialog";

class DialogTable;
class Prompts;

class LoginDlg final : public QDialog {
    Q_OBJECT
public:
    LoginDlg(std::string config_ini, Prompts& prompts, DialogTable& dialogs, QWidget* parent = nullptr);

private:
    void OnLogin();

    std::string config_ini_;
    Prompts& prompts_;
    DialogTable& dialogs_;
    QLineEdit* password_;
};

}  // namespace quorvex::gui
