// The account sheet's forwarding page: the addresses the account's mail is
// forwarded to (at most 256), whether forwarding is on and whether a copy
// stays in the local mailbox.
#pragma once

#include "gui/dialogs/account/AccountSheetPage.h"
#include "mailmodel/account/EmailForward.h"

class QCheckBox;
class QLineEdit;

namespace quorvex::gui {

class AccEmailForwardDlg final : public AccountSheetListPage {
    Q_OBJECT
public:
    explicit AccEmailForwardDlg(AccBaseInfoDlg& basic, QWidget* parent = nullptr);
    bool Save() override;

private:
    bool Load(const std::string& account) override;
    QStringList Lines() const override;
    void ShowEntry(int row) override;
    bool AddFromFields() override;
    bool ReplaceFromFields(int row) override;
    bool RemoveEntry(int row) override;
    std::string Address() const;

    CEmailForward forward_;
    QLineEdit* address_;
    QCheckBox* leave_copy_;
    QCheckBox* enable_;
};

}  // namespace quorvex::gui
