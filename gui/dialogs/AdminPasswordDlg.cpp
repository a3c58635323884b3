#include "gui/dialogs/AdminPasswordDlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/logic/AdminSettings.h"
#include "gui/support/DialogButtons.h"
#include "gui/support/GuiStrings.h"
#include "gui/support/Prompts.h"
#include "gui/support/TextCodec.h"
#include "gui/support/TabOrder.h"
#include "gui/support/WidgetTranslator.h"

namespace quorvex::gui {

AdminPasswordDlg::AdminPasswordDlg(std::string config_ini, Prompts& prompts, QWidget* parent)
    : QDialog(parent), config_ini_(std::move(config_ini)), prompts_(prompts), old_(new QLineEdit(this)),
      new_(new QLineEdit(this)), confirm_(new QLineEdit(this)) {
    setObjectName(QStringLiteral("adminPasswordDialog"));
    setWindowTitle(QStringLiteral("Change Password"));
    auto* form = new QFormLayout;
    for (auto [field, name, label] : {std::tuple{old_, "oldPassword", "Old Password"},
                                      std::tuple{new_, "newPassword", "New Password"},
                                      std::tuple{confirm_, "confirmPassword", "Confirm New"}}) {
        field->setObjectName(QString::fromLatin1(name));
        field->setEchoMode(QLineEdit::Password);
        form->addRow(new QLabel(QString::fromLatin1(label), this), field);
    }
    QDialogButtonBox* buttons = MakeOkCancelButtons(this);
    connect(buttons, &QDialogButtonBox::accepted, this, &AdminPasswordDlg::OnOk);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    TranslateWidgetTree(this);
    SetTabOrderFromLayout(this);
}

void AdminPasswordDlg::OnOk() {
    switch (ChangeAdminPassword(config_ini_, ToFileText(old_->text()), ToFileText(new_->text()),
                                ToFileText(confirm_->text()))) {
        case PasswordChange::kWrongOld:
            prompts_.Information(this, Tr(kTextIncorrectPassword));
            return;
        case PasswordChange::kMismatch:
            prompts_.Information(this, Tr(kTextPasswordMismatch));
            return;
        case PasswordChange::kWriteFailed:
            prompts_.Warning(this, Tr(kTextPasswordNotSaved));
            return;
        case PasswordChange::kUnreadable:
            prompts_.Warning(this, FromFileText(UnreadablePasswordText(config_ini_).value_or(
                                       std::string(kTextPasswordNotSaved))));
            return;
        case PasswordChange::kChanged:
            prompts_.Information(this, Tr(kTextPasswordChanged));
            accept();
            return;
    }
}

}  // namespace quorvex::gui
