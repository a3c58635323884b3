#include "gui/dialogs/account/ComposeWelcomeDlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "gui/logic/account/WelcomeFile.h"
#include "gui/support/AccountTexts.h"
#include "gui/support/DialogButtons.h"
#include "gui/support/Prompts.h"
#include "gui/support/TextCodec.h"
#include "gui/support/TabOrder.h"
#include "gui/support/WidgetTranslator.h"

namespace quorvex::gui {

ComposeWelcomeDlg::ComposeWelcomeDlg(std::string path, Prompts& prompts, QWidget* parent)
    : QDialog(parent), path_(std::move(path)), prompts_(prompts), sender_(new QLineEdit(this)),
      receiver_(new QLineEdit(this)), subject_(new QLineEdit(this)), body_(new QPlainTextEdit(this)) {
    setObjectName(QStringLiteral("welcomeDialog"));
    setWindowTitle(QString::fromLatin1(kTextWelcomeTitle.data(), kTextWelcomeTitle.size()));
    const WelcomeMail mail = LoadWelcomeForEditing(path_);
    auto* form = new QFormLayout;
    for (auto [edit, name, label, text] : {std::tuple{sender_, "sender", "Sender", &mail.sender},
                                           std::tuple{receiver_, "receiver", "Receiver", &mail.recipient},
                                           std::tuple{subject_, "subject", "Subject", &mail.subject}}) {
        edit->setObjectName(QString::fromLatin1(name));
        edit->setText(FromFileText(*text));
        form->addRow(new QLabel(QString::fromLatin1(label), this), edit);
    }
    body_->setObjectName(QStringLiteral("body"));
    body_->setPlainText(FromFileText(mail.body).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    body_->setMinimumSize(420, 220);
    QDialogButtonBox* buttons = MakeOkCancelButtons(this);
    connect(buttons, &QDialogButtonBox::accepted, this, &ComposeWelcomeDlg::OnOk);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(body_, 1);
    layout->addWidget(buttons);
    TranslateWidgetTree(this);
    SetTabOrderFromLayout(this);
}

void ComposeWelcomeDlg::OnOk() {
    WelcomeMail mail;
    mail.sender = ToFileText(sender_->text());
    mail.recipient = ToFileText(receiver_->text());
    mail.subject = ToFileText(subject_->text());
    mail.body = ToFileText(body_->toPlainText());
    switch (SaveWelcome(path_, mail)) {
        case WelcomeSave::kSaved: accept(); return;
        case WelcomeSave::kTooLong: prompts_.Information(this, Tr(kTextWelcomeTooLong)); return;
        case WelcomeSave::kFailed: prompts_.Warning(this, Tr(kTextWelcomeNotSaved)); return;
    }
}

}  // namespace quorvex::gui
