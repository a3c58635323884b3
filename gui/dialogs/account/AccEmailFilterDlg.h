// The account sheet's filter page: the account's own filter rules (at most
// 100) in the order local delivery tries them, with Up and Down to change
// it. A rule either moves the message into a folder or deletes it; the
// folder choice offers the folders of the language's list, and a rule
// whose folder is not among them keeps it through an extra "folder N"
// item until another folder is picked.
#pragma once

#include "gui/dialogs/account/AccountSheetPage.h"
#include "servers/filters/EmailFilter.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace quorvex::gui {

class AccEmailFilterDlg final : public AccountSheetListPage {
    Q_OBJECT
public:
    explicit AccEmailFilterDlg(AccBaseInfoDlg& basic, QWidget* parent = nullptr);
    bool Save() override;

private:
    bool Load(const std::string& account) override;
    QStringList Lines() const override;
    void ShowEntry(int row) override;
    bool AddFromFields() override;
    bool ReplaceFromFields(int row) override;
    bool RemoveEntry(int row) override;
    void ReadFields(FilterRule& rule) const;
    void OnDeliverChanged();
    void OnUp();
    void OnDown();

    CEmailFilter filter_;
    QLineEdit* subject_;
    QComboBox* subject_compare_;
    QLineEdit* from_;
    QComboBox* from_compare_;
    QComboBox* deliver_;
    QComboBox* folder_;
    QCheckBox* enable_;
};

}  // namespace quorvex::gui
