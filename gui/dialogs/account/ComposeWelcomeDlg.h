// Editing the welcome message every new account receives ("Welcome.inbox"
// in the program folder): sender, receiver, subject and text. OK rewrites
// the file; when it cannot, the dialog says so and stays open.
#pragma once

#include <QDialog>
#include <string>

class QLineEdit;
class QPlainTextEdit;

namespace quorvex::gui {

class Prompts;

class ComposeWelcomeDlg final : public QDialog {
    Q_OBJECT
public:
    ComposeWelcomeDlg(std::string path, Prompts& prompts, QWidget* parent = nullptr);

private:
    void OnOk();

    std::string path_;
    Prompts& prompts_;
    QLineEdit* sender_;
    QLineEdit* receiver_;
    QLineEdit* subject_;
    QPlainTextEdit* body_;
};

}  // namespace quorvex::gui
