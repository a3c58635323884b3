#include "gui/dialogs/account/AccountSheetPage.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "gui/dialogs/account/AccBaseInfoDlg.h"

namespace quorvex::gui {

void AccountSheetPage::Open() {
    if (opened_) return;
    opened_ = true;
    OnFirstOpen();
}

AccountSheetListPage::AccountSheetListPage(AccBaseInfoDlg& basic, QWidget* parent)
    : AccountSheetPage(parent), basic_(basic), list_(new QListWidget(this)), fields_(new QVBoxLayout),
      buttons_(new QVBoxLayout) {
    list_->setObjectName(QStringLiteral("entries"));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setMinimumWidth(220);
    connect(list_, &QListWidget::itemSelectionChanged, this, [this] { ShowEntry(SelectedRow()); });
    for (auto [name, text, slot] : {std::tuple{"addNew", "Add New", &AccountSheetListPage::OnAddNew},
                                    std::tuple{"edit", "Edit", &AccountSheetListPage::OnEdit},
                                    std::tuple{"delete", "Delete", &AccountSheetListPage::OnDelete}}) {
        connect(AddButton(name, text), &QPushButton::clicked, this, slot);
    }
    auto* right = new QVBoxLayout;
    right->addLayout(fields_);
    right->addLayout(buttons_);
    right->addStretch();
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(list_, 1);
    layout->addLayout(right, 1);
}

QPushButton* AccountSheetListPage::AddButton(const char* name, const char* text) {
    auto* button = new QPushButton(QString::fromLatin1(text), this);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    buttons_->addWidget(button);
    return button;
}

void AccountSheetListPage::OnFirstOpen() {
    Load(basic_.account_name());
    ShowLines(-1);
}

void AccountSheetListPage::ShowLines(int row) {
    {
        const QSignalBlocker block(list_);
        list_->clear();
        list_->addItems(Lines());
        if (row >= 0 && row < list_->count()) list_->setCurrentRow(row);
        else list_->clearSelection();
    }
    ShowEntry(row >= 0 && row < list_->count() ? row : -1);
}

int AccountSheetListPage::SelectedRow() const {
    const QList<QListWidgetItem*> selected = list_->selectedItems();
    return selected.isEmpty() ? -1 : list_->row(selected.front());
}

void AccountSheetListPage::OnAddNew() {
    if (AddFromFields()) ShowLines(-1);
}

void AccountSheetListPage::OnEdit() {
    const int row = SelectedRow();
    if (row >= 0 && ReplaceFromFields(row)) ShowLines(row);
}

void AccountSheetListPage::OnDelete() {
    const int row = SelectedRow();
    if (row >= 0 && RemoveEntry(row)) ShowLines(-1);
}

}  // namespace quorvex::gui
