#include "gui/dialogs/account/AccRemotePOP3Dlg.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "gui/logic/account/BasicInfoForm.h"
#include "gui/support/TextCodec.h"

namespace quorvex::gui {

AccRemotePOP3Dlg::AccRemotePOP3Dlg(AccBaseInfoDlg& basic, QWidget* parent)
    : AccountSheetListPage(basic, parent), server_(new QLineEdit(this)), account_(new QLineEdit(this)),
      password_(new QLineEdit(this)), enable_(new QCheckBox(QStringLiteral("Enable POP3 retriving"), this)),
      leave_copy_(new QCheckBox(QStringLiteral("Leave messages on remote server"), this)) {
    setObjectName(QStringLiteral("remotePop3Page"));
    auto* form = new QFormLayout;
    for (auto [edit, name, label] : {std::tuple{server_, "pop3Server", "POP3 Server"},
                                     std::tuple{account_, "pop3Account", "Account"},
                                     std::tuple{password_, "pop3Password", "Password"}}) {
        edit->setObjectName(QString::fromLatin1(name));
        edit->setMaxLength(static_cast<int>(kMaxRemoteBoxText));
        form->addRow(new QLabel(QString::fromLatin1(label), this), edit);
    }
    password_->setEchoMode(QLineEdit::Password);
    enable_->setObjectName(QStringLiteral("enableRetrieving"));
    leave_copy_->setObjectName(QStringLiteral("leaveCopy"));
    fields_column()->addLayout(form);
    fields_column()->addWidget(enable_);
    fields_column()->addWidget(leave_copy_);
    ShowEntry(-1);
}

bool AccRemotePOP3Dlg::Load(const std::string& account) { return boxes_.Load(account); }

bool AccRemotePOP3Dlg::Save() { return !opened() || boxes_.Save(); }

QStringList AccRemotePOP3Dlg::Lines() const {
    QStringList lines;
    RemotePop3Mailbox box;
    for (int i = 0; i < boxes_.GetCount(); ++i) {
        boxes_.GetMailbox(i, box);
        lines << FromFileText(box.POP3Account + "#" + box.POP3Server);
    }
    return lines;
}

void AccRemotePOP3Dlg::ShowEntry(int row) {
    RemotePop3Mailbox box;
    if (row >= 0) boxes_.GetMailbox(row, box);
    server_->setText(FromFileText(box.POP3Server));
    account_->setText(FromFileText(box.POP3Account));
    password_->setText(FromFileText(box.POP3Password));
    enable_->setChecked(box.Enable != 0);
    leave_copy_->setChecked(box.LeaveCopy != 0);
}

void AccRemotePOP3Dlg::ReadFields(RemotePop3Mailbox& box) const {
    box.POP3Server = SingleLineText(ToFileText(server_->text()));
    box.POP3Account = SingleLineText(ToFileText(account_->text()));
    box.POP3Password = SingleLineText(ToFileText(password_->text()));
    box.Enable = enable_->isChecked() ? 1 : 0;
    box.LeaveCopy = leave_copy_->isChecked() ? 1 : 0;
}

bool AccRemotePOP3Dlg::AddFromFields() {
    RemotePop3Mailbox box;
    ReadFields(box);
    return boxes_.AddMailbox(box);
}

bool AccRemotePOP3Dlg::ReplaceFromFields(int row) {
    RemotePop3Mailbox box;
    if (!boxes_.GetMailbox(row, box)) return false;
    ReadFields(box);
    return boxes_.SetMailbox(row, box);
}

bool AccRemotePOP3Dlg::RemoveEntry(int row) { return boxes_.DeleteMailbox(row); }

}  // namespace quorvex::gui
