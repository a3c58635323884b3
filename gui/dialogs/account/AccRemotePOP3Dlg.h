// The account sheet's remote POP3 page: the mailboxes on other servers the
// account collects from (at most 20). Editing a box changes only what the
// page shows; its port stays as it was.
#pragma once

#include "gui/dialogs/account/AccountSheetPage.h"
#include "mailmodel/account/EmailPOP3Remote.h"

class QCheckBox;
class QLineEdit;

namespace quorvex::gui {

class AccRemotePOP3Dlg final : public AccountSheetListPage {
    Q_OBJECT
public:
    explicit AccRemotePOP3Dlg(AccBaseInfoDlg& basic, QWidget* parent = nullptr);
    bool Save() override;

private:
    bool Load(const std::string& account) override;
    QStringList Lines() const override;
    void ShowEntry(int row) override;
    bool AddFromFields() override;
    bool ReplaceFromFields(int row) override;
    bool RemoveEntry(int row) override;
    // The shown fields written over `box`.
    void ReadFields(RemotePop3Mailbox& box) const;

    CEmailPOP3Remote boxes_;
    QLineEdit* server_;
    QLineEdit* account_;
    QLineEdit* password_;
    QCheckBox* enable_;
    QCheckBox* leave_copy_;
};

}  // namespace quorvex::gui
