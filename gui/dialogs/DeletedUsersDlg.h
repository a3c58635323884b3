// "Deleted User Management": the set-aside account folders ("_name") of
// the mail folder, which the administrator can restore to their account
// name or delete with all their mail.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QTableWidget;

namespace quorvex::gui {

class Prompts;

class DeletedUsersDlg final : public QDialog {
    Q_OBJECT
public:
    explicit DeletedUsersDlg(Prompts& prompts, QWidget* parent = nullptr);

    QTableWidget* list() const { return list_; }

public Q_SLOTS:
    void FillList();
    void OnSelectAll();
    void OnRestore();
    void OnDelete();

private:
    std::vector<std::string> SelectedFolders() const;

    Prompts& prompts_;
    QTableWidget* list_;
};

}  // namespace quorvex::gui
