#include "gui/dialogs/LoginDlg.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/logic/AdminSettings.h"
#include "gui/support/DialogTable.h"
#include "gui/support/GuiStrings.h"
#include "gui/support/Prompts.h"
#include "gui/support/TextCodec.h"
#include "gui/support/TabOrder.h"
#include "gui/support/WidgetTranslator.h"

namespace quorvex::gui {

LoginDlg::LoginDlg(std::string config_ini, Prompts& prompts, DialogTable& dialogs, QWidget* parent)
    : QDialog(parent), config_ini_(std::move(config_ini)), prompts_(prompts), dialogs_(dialogs),
      password_(new QLineEdit(this)) {
    setObjectName(QString::fromLatin1(kLoginDialogName));
    setWindowTitle(QString::fromUtf8(kTextLogOn.data()));
    auto* user = new QComboBox(this);
    user->addItem(Tr(kTextAdministrator));
    user->setCurrentIndex(0);
    password_->setObjectName(QStringLiteral("password"));
    password_->setEchoMode(QLineEdit::Password);
    auto* form = new QFormLayout;
    form->addRow(new QLabel(QStringLiteral("User Name:"), this), user);
    form->addRow(new QLabel(QStringLiteral("Password:"), this), password_);
    auto* hint = new QLabel(QStringLiteral("*- The default password is null."), this);
    auto* login = new QPushButton(QStringLiteral("Login"), this);
    login->setObjectName(QStringLiteral("login"));
    login->setDefault(true);
    auto* change = new QPushButton(QStringLiteral("ChangePass"), this);
    change->setObjectName(QStringLiteral("changePassword"));
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(login);
    buttons->addWidget(change);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(hint);
    layout->addLayout(buttons);
    connect(login, &QPushButton::clicked, this, &LoginDlg::OnLogin);
    connect(change, &QPushButton::clicked, this,
            [this] { dialogs_.Run(DialogRequest{DialogKind::kAdminPassword, this, {}, {}}); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    TranslateWidgetTree(this);
    SetTabOrderFromLayout(this);
}

void LoginDlg::OnLogin() {
    if (VerifyAdminPassword(config_ini_, ToFileText(password_->text()))) {
        accept();
        return;
    }
    if (const auto unreadable = UnreadablePasswordText(config_ini_)) {
        prompts_.Warning(this, FromFileText(*unreadable));
        return;
    }
    prompts_.Information(this, Tr(kTextIncorrectPassword));
}

}  // namespace quorvex::gui
