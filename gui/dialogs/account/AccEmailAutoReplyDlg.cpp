#include "gui/dialogs/account/AccEmailAutoReplyDlg.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/dialogs/account/AccBaseInfoDlg.h"
#include "gui/logic/account/BasicInfoForm.h"
#include "gui/support/AccountTexts.h"
#include "gui/support/FieldFocus.h"
#include "gui/support/Prompts.h"
#include "gui/support/TextCodec.h"
#include "gui/support/WidgetTranslator.h"
#include "mailmodel/compose/MessageText.h"

namespace quorvex::gui {

AccEmailAutoReplyDlg::AccEmailAutoReplyDlg(AccBaseInfoDlg& basic, Prompts& prompts, QWidget* parent)
    : AccountSheetPage(parent), basic_(basic), prompts_(prompts),
      enable_(new QCheckBox(QStringLiteral("Enable email auto reply"), this)), subject_(new QLineEdit(this)),
      body_(new QPlainTextEdit(this)) {
    setObjectName(QStringLiteral("autoReplyPage"));
    enable_->setObjectName(QStringLiteral("enableAutoReply"));
    subject_->setObjectName(QStringLiteral("replySubject"));
    subject_->setMaxLength(static_cast<int>(kMaxAutoReplySubject));
    body_->setObjectName(QStringLiteral("replyBody"));
    auto* form = new QFormLayout;
    form->addRow(new QLabel(QStringLiteral("Subject"), this), subject_);
    form->addRow(new QLabel(QStringLiteral("Body"), this), body_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(enable_);
    layout->addLayout(form);
}

void AccEmailAutoReplyDlg::OnFirstOpen() {
    reply_.Load(basic_.account_name());
    AutoReplySettings settings;
    reply_.GetSettings(settings);
    enable_->setChecked(settings.Enable != 0);
    subject_->setText(FromFileText(settings.Subject));
    body_->setPlainText(FromFileText(settings.Body).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
}

AutoReplySettings AccEmailAutoReplyDlg::ReadFields() const {
    AutoReplySettings settings;
    settings.Enable = enable_->isChecked() ? 1 : 0;
    settings.Subject = SingleLineText(ToFileText(subject_->text()));
    settings.Body = compose::NormalizeLineEnds(ToFileText(body_->toPlainText()));
    std::erase(settings.Body, '\0');
    return settings;
}

bool AccEmailAutoReplyDlg::CheckBeforeSave() {
    if (!opened()) return true;
    // The file writes each line end as the four characters "\r\n" and
    // keeps at most 4096 characters: a longer text would be cut.
    const std::string body = ReadFields().Body;
    const auto breaks = static_cast<std::size_t>(std::count(body.begin(), body.end(), '\n'));
    if (body.size() + 2 * breaks <= kMaxAutoReplyBody + 1) return true;
    RevealField(body_);
    prompts_.Information(window(), Tr(kTextReplyTooLong));
    FocusField(body_);
    return false;
}

bool AccEmailAutoReplyDlg::Save() {
    if (!opened()) return true;
    reply_.SetSettings(ReadFields());
    return reply_.Save();
}

}  // namespace quorvex::gui
