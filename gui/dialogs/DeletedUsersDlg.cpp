#include "gui/dialogs/DeletedUsersDlg.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <set>

#include "gui/logic/DeletedAccounts.h"
#include "gui/support/GuiStrings.h"
#include "gui/support/Prompts.h"
#include "gui/support/TextCodec.h"
#include "gui/support/TabOrder.h"
#include "gui/support/WidgetTranslator.h"

namespace quorvex::gui {

namespace {

constexpr std::string_view kTextAccountColumns =
    "Account|User Name|Used Space(K)|Total Size(M)|Mail Number|Last Visit Time|Status|Description";  // 32813
constexpr std::string_view kTextDeleteQuestion = "Are you sure to delete this account?";                 // 32825
constexpr std::string_view kTextNotRestoredFormat = "These accounts were not restored:\n%s";
constexpr std::string_view kTextNameTaken = "an account of this name exists";
constexpr std::string_view kTextInvalidName = "not a valid account name";
constexpr std::string_view kTextMoveFailed = "the folder could not be moved";
constexpr std::string_view kTextNotDeletedFormat = "These folders could not be deleted entirely:\n%s";

QString ReasonText(RestoreResult result) {
    switch (result) {
        case RestoreResult::kNameTaken: return Tr(kTextNameTaken);
        case RestoreResult::kInvalidName: return Tr(kTextInvalidName);
        default: return Tr(kTextMoveFailed);
    }
}

}  // namespace

DeletedUsersDlg::DeletedUsersDlg(SettingsSnapshot settings, AccountList& accounts, Prompts& prompts, QWidget* parent)
    : QDialog(parent), settings_(std::move(settings)), accounts_(accounts), prompts_(prompts),
      list_(new QTableWidget(this)) {
    setObjectName(QStringLiteral("deletedUsersDialog"));
    setWindowTitle(QStringLiteral("Deleted User Management"));
    list_->setObjectName(QStringLiteral("deletedList"));
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->horizontalHeader()->setSectionsMovable(true);
    list_->verticalHeader()->hide();
    const QStringList titles = TrList(kTextAccountColumns);
    list_->setColumnCount(2);
    list_->setHorizontalHeaderLabels({titles.value(0), titles.value(1)});
    list_->setColumnWidth(0, 150);
    list_->horizontalHeader()->setStretchLastSection(true);

    struct Button {
        const char* name;
        const char* text;
        void (DeletedUsersDlg::*slot)();
    };
    auto* buttons = new QVBoxLayout;
    for (const Button& b : {Button{"selectAll", "Select All", &DeletedUsersDlg::OnSelectAll},
                            Button{"restore", "Restore", &DeletedUsersDlg::OnRestore},
                            Button{"delete", "Delete", &DeletedUsersDlg::OnDelete}}) {
        auto* button = new QPushButton(QString::fromLatin1(b.text), this);
        button->setObjectName(QString::fromLatin1(b.name));
        connect(button, &QPushButton::clicked, this, b.slot);
        buttons->addWidget(button);
    }
    buttons->addStretch();
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("close"));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    buttons->addWidget(close);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(list_, 1);
    layout->addLayout(buttons);
    setMinimumSize(460, 280);
    TranslateWidgetTree(this);
    SetTabOrderFromLayout(this);
    FillList();
}

void DeletedUsersDlg::FillList() {
    const std::vector<DeletedAccount> found = ListDeletedAccounts();
    list_->clearContents();
    list_->setRowCount(static_cast<int>(found.size()));
    for (int r = 0; r < static_cast<int>(found.size()); ++r) {
        auto* name = new QTableWidgetItem(FromFileText(found[r].folder));
        name->setData(Qt::UserRole, QByteArray::fromStdString(found[r].folder));
        list_->setItem(r, 0, name);
        list_->setItem(r, 1, new QTableWidgetItem(FromFileText(found[r].user_name)));
    }
}

void DeletedUsersDlg::OnSelectAll() { list_->selectAll(); }

std::vector<std::string> DeletedUsersDlg::SelectedFolders() const {
    std::set<int> rows;
    for (const QModelIndex& index : list_->selectionModel()->selectedRows()) rows.insert(index.row());
    std::vector<std::string> folders;
    for (int row : rows) {
        if (const QTableWidgetItem* item = list_->item(row, 0)) {
            folders.push_back(item->data(Qt::UserRole).toByteArray().toStdString());
        }
    }
    return folders;
}

void DeletedUsersDlg::OnRestore() {
    const std::vector<std::string> folders = SelectedFolders();
    if (folders.empty()) return;
    QStringList refused;
    for (const std::string& folder : folders) {
        const RestoreResult result = RestoreDeletedAccount(folder, settings_->Domains, accounts_);
        if (result != RestoreResult::kRestored) refused << FromFileText(folder) + QStringLiteral(": ") + ReasonText(result);
    }
    FillList();
    if (!refused.isEmpty()) prompts_.Warning(this, FormatText(Tr(kTextNotRestoredFormat), {refused.join('\n')}));
}

void DeletedUsersDlg::OnDelete() {
    const std::vector<std::string> folders = SelectedFolders();
    if (folders.empty()) return;
    if (!prompts_.Question(this, Tr(kTextDeleteQuestion))) return;
    QStringList failed;
    for (const std::string& folder : folders) {
        if (!RemoveDeletedAccount(folder)) failed << FromFileText(folder);
    }
    FillList();
    if (!failed.isEmpty()) prompts_.Warning(this, FormatText(Tr(kTextNotDeletedFormat), {failed.join('\n')}));
}

}  // namespace quorvex::gui
