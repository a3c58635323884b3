// The account sheet's auto-reply page: whether the account answers mail
// automatically, and the answer's subject and text.
#pragma once

#include "gui/dialogs/account/AccountSheetPage.h"
#include "mailmodel/autoreply/EmailAutoReply.h"

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;

namespace quorvex::gui {

class Prompts;

class AccEmailAutoReplyDlg final : public AccountSheetPage {
    Q_OBJECT
public:
    AccEmailAutoReplyDlg(AccBaseInfoDlg& basic, Prompts& prompts, QWidget* parent = nullptr);
    // A text too long to be kept whole is refused with a message.
    bool CheckBeforeSave() override;
    bool Save() override;

private:
    void OnFirstOpen() override;
    AutoReplySettings ReadFields() const;

    AccBaseInfoDlg& basic_;
    Prompts& prompts_;
    EmailAutoReply reply_;
    QCheckBox* enable_;
    QLineEdit* subject_;
    QPlainTextEdit* body_;
};

}  // namespace quorvex::gui
