#include "gui/dialogs/account/AccEmailFilterDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/logic/account/BasicInfoForm.h"
#include "gui/support/AccountTexts.h"
#include "gui/support/TextCodec.h"
#include "gui/support/WidgetTranslator.h"

namespace quorvex::gui {

namespace {

// Folder choice item i stands for folder i + 4.
constexpr int kFirstChoiceFolder = 4;

// A drop list whose items carry the numbers they stand for.
QComboBox* MakeChoice(QWidget* parent, const char* name, const QStringList& items, int first_value) {
    auto* box = new QComboBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    for (int i = 0; i < items.size(); ++i) box->addItem(items[i], first_value + i);
    KeepUntranslated(box);
    return box;
}

// Selects the item standing for `value`. A value no item stands for gets
// an extra last item (`extra` text), so it is kept until another is
// picked; an extra item of an earlier value goes first.
void SelectValue(QComboBox* box, int value, int fixed_items, const QString& extra) {
    while (box->count() > fixed_items) box->removeItem(box->count() - 1);
    int index = box->findData(value);
    if (index < 0) {
        box->addItem(extra, value);
        index = box->count() - 1;
    }
    box->setCurrentIndex(index);
}

unsigned char ValueOf(const QComboBox* box) { return static_cast<unsigned char>(box->currentData().toInt()); }

}  // namespace

AccEmailFilterDlg::AccEmailFilterDlg(AccBaseInfoDlg& basic, QWidget* parent)
    : AccountSheetListPage(basic, parent), subject_(new QLineEdit(this)),
      subject_compare_(MakeChoice(this, "subjectCompare", TrList(kTextCompareChoices), 0)),
      from_(new QLineEdit(this)), from_compare_(MakeChoice(this, "fromCompare", TrList(kTextCompareChoices), 0)),
      deliver_(MakeChoice(this, "deliver", TrList(kTextDeliverChoices), 0)),
      folder_(MakeChoice(this, "folder", TrList(kTextFolderChoices), kFirstChoiceFolder)),
      enable_(new QCheckBox(QStringLiteral("Enable email filtering"), this)) {
    setObjectName(QStringLiteral("filterPage"));
    subject_->setObjectName(QStringLiteral("subject"));
    subject_->setMaxLength(static_cast<int>(kMaxFilterText));
    from_->setObjectName(QStringLiteral("from"));
    from_->setMaxLength(static_cast<int>(kMaxFilterText));
    enable_->setObjectName(QStringLiteral("enableFilter"));
    auto* form = new QFormLayout;
    auto row = [&](QWidget* a, QWidget* b) {
        auto* line = new QHBoxLayout;
        line->addWidget(a, 1);
        line->addWidget(b);
        return line;
    };
    form->addRow(new QLabel(QStringLiteral("Subject"), this), row(subject_, subject_compare_));
    form->addRow(new QLabel(QStringLiteral("From"), this), row(from_, from_compare_));
    form->addRow(new QLabel(QStringLiteral("Deliver"), this), row(deliver_, folder_));
    fields_column()->addLayout(form);
    fields_column()->addWidget(enable_);
    connect(deliver_, &QComboBox::currentIndexChanged, this, &AccEmailFilterDlg::OnDeliverChanged);
    connect(AddButton("up", "Up"), &QPushButton::clicked, this, &AccEmailFilterDlg::OnUp);
    connect(AddButton("down", "Down"), &QPushButton::clicked, this, &AccEmailFilterDlg::OnDown);
    ShowEntry(-1);
}

bool AccEmailFilterDlg::Load(const std::string& account) { return filter_.Load(account); }

bool AccEmailFilterDlg::Save() { return !opened() || filter_.Save(); }

QStringList AccEmailFilterDlg::Lines() const {
    QStringList lines;
    FilterRule rule;
    for (int i = 0; i < filter_.GetCount(); ++i) {
        filter_.GetRule(i, rule);
        lines << FromFileText(rule.Subject + "#" + rule.From);
    }
    return lines;
}

void AccEmailFilterDlg::ShowEntry(int row) {
    // The empty entry: empty texts, every choice at its first item.
    FilterRule rule;
    rule.FolderDeliverTo = kFirstChoiceFolder;
    if (row >= 0) filter_.GetRule(row, rule);
    subject_->setText(FromFileText(rule.Subject));
    from_->setText(FromFileText(rule.From));
    const int compare_items = static_cast<int>(TrList(kTextCompareChoices).size());
    SelectValue(subject_compare_, rule.SubjectCompare, compare_items, QString::number(rule.SubjectCompare));
    SelectValue(from_compare_, rule.FromCompare, compare_items, QString::number(rule.FromCompare));
    SelectValue(deliver_, rule.EmailDeliver, static_cast<int>(TrList(kTextDeliverChoices).size()),
                QString::number(rule.EmailDeliver));
    SelectValue(folder_, rule.FolderDeliverTo, static_cast<int>(TrList(kTextFolderChoices).size()),
                FormatText(Tr(kTextOtherFolderFormat), {QString::number(rule.FolderDeliverTo)}));
    enable_->setChecked(rule.Enable != 0);
    OnDeliverChanged();
}

void AccEmailFilterDlg::OnDeliverChanged() { folder_->setEnabled(deliver_->currentIndex() == 0); }

void AccEmailFilterDlg::ReadFields(FilterRule& rule) const {
    rule.Subject = SingleLineText(ToFileText(subject_->text()));
    rule.SubjectCompare = ValueOf(subject_compare_);
    rule.From = SingleLineText(ToFileText(from_->text()));
    rule.FromCompare = ValueOf(from_compare_);
    rule.EmailDeliver = ValueOf(deliver_);
    rule.FolderDeliverTo = ValueOf(folder_);
    rule.Enable = enable_->isChecked() ? 1 : 0;
}

bool AccEmailFilterDlg::AddFromFields() {
    FilterRule rule;
    ReadFields(rule);
    return filter_.AddRule(rule);
}

bool AccEmailFilterDlg::ReplaceFromFields(int row) {
    FilterRule rule;
    if (!filter_.GetRule(row, rule)) return false;
    ReadFields(rule);
    return filter_.SetRule(row, rule);
}

bool AccEmailFilterDlg::RemoveEntry(int row) { return filter_.DeleteRule(row); }

void AccEmailFilterDlg::OnUp() {
    const int row = SelectedRow();
    if (row > 0 && filter_.MoveRuleUp(row)) ShowLines(row - 1);
}

void AccEmailFilterDlg::OnDown() {
    const int row = SelectedRow();
    if (row >= 0 && row + 1 < filter_.GetCount() && filter_.MoveRuleDown(row)) ShowLines(row + 1);
}

}  // namespace quorvex::gui
