#include "gui/dialogs/account/AccEmailForwardDlg.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "gui/logic/account/BasicInfoForm.h"
#include "gui/support/TextCodec.h"

namespace quorvex::gui {

AccEmailForwardDlg::AccEmailForwardDlg(AccBaseInfoDlg& basic, QWidget* parent)
    : AccountSheetListPage(basic, parent), address_(new QLineEdit(this)),
      leave_copy_(new QCheckBox(QStringLiteral("Leave messages on local server"), this)),
      enable_(new QCheckBox(QStringLiteral("Enable email forwarding"), this)) {
    setObjectName(QStringLiteral("forwardingPage"));
    address_->setObjectName(QStringLiteral("address"));
    address_->setMaxLength(static_cast<int>(kMaxListEntryLength));
    leave_copy_->setObjectName(QStringLiteral("leaveCopyLocal"));
    enable_->setObjectName(QStringLiteral("enableForwarding"));
    auto* form = new QFormLayout;
    form->addRow(new QLabel(QStringLiteral("Email address"), this), address_);
    fields_column()->addLayout(form);
    fields_column()->addWidget(leave_copy_);
    fields_column()->addWidget(enable_);
}

bool AccEmailForwardDlg::Load(const std::string& account) {
    const bool loaded = forward_.Load(account);
    leave_copy_->setChecked(forward_.LeaveCopyLocal != 0);
    enable_->setChecked(forward_.EnableForwardMailAddresses != 0);
    return loaded;
}

bool AccEmailForwardDlg::Save() {
    if (!opened()) return true;
    forward_.LeaveCopyLocal = leave_copy_->isChecked() ? 1 : 0;
    forward_.EnableForwardMailAddresses = enable_->isChecked() ? 1 : 0;
    return forward_.Save();
}

QStringList AccEmailForwardDlg::Lines() const {
    QStringList lines;
    for (int i = 0; i < forward_.GetCount(); ++i) lines << FromFileText(forward_.GetAddress(i).value_or(""));
    return lines;
}

void AccEmailForwardDlg::ShowEntry(int row) {
    address_->setText(row >= 0 ? FromFileText(forward_.GetAddress(row).value_or("")) : QString());
}

std::string AccEmailForwardDlg::Address() const { return SingleLineText(ToFileText(address_->text().trimmed())); }

bool AccEmailForwardDlg::AddFromFields() { return forward_.AddAddress(Address()); }

bool AccEmailForwardDlg::ReplaceFromFields(int row) { return forward_.SetAddress(row, Address()); }

bool AccEmailForwardDlg::RemoveEntry(int row) { return forward_.DeleteAddress(row); }

}  // namespace quorvex::gui
