// Changing the administrator password: the old password, the new one and
// its confirmation. A refusal leaves the stored password as it was and the
// dialog open.
#pragma once

#include <QDialog>
#include <string>

class QLineEdit;

namespace quorvex::gui {

class Prompts;

class AdminPasswordDlg final : public QDialog {
    Q_OBJECT
public:
    AdminPasswordDlg(std::string config_ini, Prompts& prompts, QWidget* parent = nullptr);

private:
    void OnOk();

    std::string config_ini_;
    Prompts& prompts_;
    QLineEdit* old_;
    QLineEdit* new_;
    QLineEdit* confirm_;
};

}  // namespace quorvex::gui
