// One page of the account sheet. A page loads what it edits when the sheet
// first opens it (only once the account's name has passed its checks, so
// a page never loads the lists of a name that is then changed) and writes
// it when the sheet's OK saves the pages; a page never opened writes
// nothing and counts as saved.
#pragma once

#include <QWidget>
#include <string>

class QListWidget;
class QPushButton;
class QVBoxLayout;

namespace quorvex::gui {

class AccBaseInfoDlg;

class AccountSheetPage : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    // Tests the page's fields before the sheet saves any page; false (with
    // the reason shown) keeps the sheet open with nothing saved.
    virtual bool CheckBeforeSave() { return true; }
    // True when saved, or when there was nothing to save.
    virtual bool Save() = 0;
    // Called by the sheet each time the page becomes the current one.
    void Open();
    bool opened() const { return opened_; }

protected:
    // Called once, when the page is first opened.
    virtual void OnFirstOpen() {}

private:
    bool opened_ = false;
};

// A page editing a list of the account (remote boxes, forwarding
// addresses, filter rules): the list box, the fields of one entry and the
// buttons Add New, Edit and Delete. The list box always shows one line per
// entry of the page's list object, rebuilt from it after every change, so
// a line's position is its entry's position.
class AccountSheetListPage : public AccountSheetPage {
    Q_OBJECT
public:
    AccountSheetListPage(AccBaseInfoDlg& basic, QWidget* parent);

protected:
    void OnFirstOpen() override;
    // The account's list is loaded for `account`; false when it cannot be.
    virtual bool Load(const std::string& account) = 0;
    virtual QStringList Lines() const = 0;
    // Shows the entry in the fields; -1: the fields of an empty entry.
    virtual void ShowEntry(int row) = 0;
    // Add, replace and remove through the list object; false when refused.
    virtual bool AddFromFields() = 0;
    virtual bool ReplaceFromFields(int row) = 0;
    virtual bool RemoveEntry(int row) = 0;

    // Rebuilds the lines and selects `row` (-1: none), showing its entry.
    void ShowLines(int row);
    int SelectedRow() const;
    // The column that holds the entry's fields, beside the list.
    QVBoxLayout* fields_column() const { return fields_; }
    // Adds a button under the three standard ones.
    QPushButton* AddButton(const char* name, const char* text);

    AccBaseInfoDlg& basic_;
    QListWidget* list_;

private:
    void OnAddNew();
    void OnEdit();
    void OnDelete();

    QVBoxLayout* fields_;
    QVBoxLayout* buttons_;
};

}  // namespace quorvex::gui
