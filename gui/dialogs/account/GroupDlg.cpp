#include "gui/dialogs/account/GroupDlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/AccountName.h"
#include "gui/support/AccountTexts.h"
#include "gui/support/DialogButtons.h"
#include "gui/support/Prompts.h"
#include "gui/support/TextCodec.h"
#include "gui/support/TabOrder.h"
#include "gui/support/WidgetTranslator.h"
#include "mailmodel/account/AccountList.h"
#include "mailmodel/account/EmailForward.h"

namespace quorvex::gui {

namespace {

QListWidget* MakeList(QWidget* parent, const char* name) {
    auto* list = new QListWidget(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    return list;
}

}  // namespace

GroupDlg::GroupDlg(std::string group, SettingsSnapshot settings, const AccountList& accounts, Prompts& prompts,
                   QWidget* parent)
    : QDialog(parent), settings_(std::move(settings)), accounts_(accounts), prompts_(prompts), is_new_(group.empty()),
      name_(new QLineEdit(this)), description_(new QLineEdit(this)), disabled_(new QCheckBox(QStringLiteral("Disabled"), this)),
      others_(MakeList(this, "otherUsers")), members_(MakeList(this, "groupMembers")) {
    setObjectName(QStringLiteral("groupDialog"));
    const std::string_view title = is_new_ ? kTextNewGroupTitle : kTextEditGroupTitle;
    setWindowTitle(QString::fromLatin1(title.data(), title.size()));
    name_->setObjectName(QStringLiteral("groupName"));
    name_->setMaxLength(static_cast<int>(kMaxAccountNameLength));
    description_->setObjectName(QStringLiteral("description"));
    description_->setMaxLength(static_cast<int>(kMaxAccountText));
    disabled_->setObjectName(QStringLiteral("disabled"));

    std::vector<std::string> members;
    if (!is_new_) {
        AccountRecord record;
        LoadAccount(group, record);
        disabled_->setChecked(record.Disabled != 0);
        description_->setText(FromFileText(record.Comment));
        int count = 0;
        CEmailGroup().LoadMembers(group, members, count);
        name_->setText(FromFileText(group));
        name_->setReadOnly(true);
    }
    model_.Load(accounts.Names(), group, members);

    // A double-click moves what is selected, the clicked entry among it.
    connect(others_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        item->setSelected(true);
        OnAdd();
    });
    connect(members_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        item->setSelected(true);
        OnRemove();
    });
    auto* moves = new QVBoxLayout;
    moves->addStretch();
    for (auto [name, text, slot] : {std::tuple{"add", "Add", &GroupDlg::OnAdd},
                                    std::tuple{"addAll", "Add All", &GroupDlg::OnAddAll},
                                    std::tuple{"remove", "Remove", &GroupDlg::OnRemove},
                                    std::tuple{"removeAll", "Remove All", &GroupDlg::OnRemoveAll}}) {
        auto* button = new QPushButton(QString::fromLatin1(text), this);
        button->setObjectName(QString::fromLatin1(name));
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, slot);
        moves->addWidget(button);
    }
    moves->addStretch();

    auto* form = new QFormLayout;
    form->addRow(new QLabel(QStringLiteral("Group name"), this), name_);
    form->addRow(new QLabel(QStringLiteral("Description"), this), description_);
    auto* lists = new QGridLayout;
    lists->addWidget(new QLabel(QStringLiteral("Other users:"), this), 0, 0);
    lists->addWidget(new QLabel(QStringLiteral("Group members:"), this), 0, 2);
    lists->addWidget(others_, 1, 0);
    lists->addLayout(moves, 1, 1);
    lists->addWidget(members_, 1, 2);
    QDialogButtonBox* buttons = MakeOkCancelButtons(this);
    connect(buttons, &QDialogButtonBox::accepted, this, &GroupDlg::OnOk);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(disabled_);
    layout->addLayout(lists);
    layout->addWidget(buttons);
    ShowLists();
    TranslateWidgetTree(this);
    SetTabOrderFromLayout(this);
}

void GroupDlg::ShowLists() {
    for (auto [list, names] : {std::pair{others_, &model_.others()}, std::pair{members_, &model_.members()}}) {
        list->clear();
        for (const std::string& name : *names) list->addItem(FromFileText(name));
    }
}

std::vector<int> GroupDlg::SelectedRows(const QListWidget* list) {
    std::vector<int> rows;
    for (const QListWidgetItem* item : list->selectedItems()) rows.push_back(list->row(item));
    return rows;
}

void GroupDlg::OnAdd() {
    const bool all_fitted = model_.Add(SelectedRows(others_));
    ShowLists();
    if (!all_fitted) prompts_.Information(this, Tr(kTextGroupFull));
}

void GroupDlg::OnAddAll() {
    const bool all_fitted = model_.AddAll();
    ShowLists();
    if (!all_fitted) prompts_.Information(this, Tr(kTextGroupFull));
}

void GroupDlg::OnRemove() {
    model_.Remove(SelectedRows(members_));
    ShowLists();
}

void GroupDlg::OnRemoveAll() {
    model_.RemoveAll();
    ShowLists();
}

void GroupDlg::OnOk() {
    const GroupFields fields{ToFileText(name_->text()), ToFileText(description_->text()), disabled_->isChecked()};
    const GroupSave result = SaveGroup(fields, is_new_, model_.members(), *settings_, accounts_);
    if (!result.saved) {
        if (result.message == kTextMembersNotSaved) {
            // The group itself was stored: a second OK updates it.
            is_new_ = false;
            name_->setReadOnly(true);
        }
        prompts_.Information(this, Tr(result.message));
        return;
    }
    accept();
}

}  // namespace quorvex::gui
