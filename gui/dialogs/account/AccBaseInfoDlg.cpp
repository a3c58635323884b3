#include "gui/dialogs/account/AccBaseInfoDlg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <limits>

#include "common/AccountName.h"
#include "common/SettingRanges.h"
#include "gui/logic/account/AccountNameCheck.h"
#include "gui/logic/account/BasicInfoForm.h"
#include "gui/support/FieldFocus.h"
#include "gui/support/GuiStrings.h"
#include "gui/support/Prompts.h"
#include "gui/support/TextCodec.h"
#include "gui/support/WidgetTranslator.h"

namespace quorvex::gui {

namespace {

constexpr const char* kMailboxSizeLabel = "Mailbox size (M)";

QLineEdit* MakeEdit(QWidget* parent, const char* name, int max_length) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setMaxLength(max_length);
    return edit;
}

}  // namespace

AccBaseInfoDlg::AccBaseInfoDlg(std::string account, SettingsSnapshot settings, const AccountList& accounts,
                               Prompts& prompts, QWidget* parent)
    : AccountSheetPage(parent), settings_(std::move(settings)), accounts_(accounts), prompts_(prompts),
      is_new_(account.empty()),
      account_(MakeEdit(this, "account", static_cast<int>(kMaxAccountNameLength))),
      password_(MakeEdit(this, "password", static_cast<int>(kMaxAccountText))),
      user_name_(MakeEdit(this, "userName", static_cast<int>(kMaxAccountText))),
      description_(MakeEdit(this, "description", static_cast<int>(kMaxAccountText))),
      contact_(MakeEdit(this, "contactMail", static_cast<int>(kMaxAccountText))), volume_(new QSpinBox(this)),
      unlimited_(new QCheckBox(QStringLiteral("Unlimited size"), this)),
      disabled_(new QCheckBox(QStringLiteral("Disabled"), this)),
      permissions_{new QRadioButton(QStringLiteral("Mail account"), this),
                   new QRadioButton(QStringLiteral("Domain admin"), this),
                   new QRadioButton(QStringLiteral("System admin"), this)} {
    setObjectName(QStringLiteral("basicInfoPage"));
    password_->setEchoMode(QLineEdit::Password);
    volume_->setObjectName(QStringLiteral("mailboxSize"));
    volume_->setRange(0, std::numeric_limits<int>::max());
    unlimited_->setObjectName(QStringLiteral("unlimited"));
    disabled_->setObjectName(QStringLiteral("disabled"));
    auto* rights = new QButtonGroup(this);
    const char* right_names[] = {"mailAccount", "domainAdmin", "systemAdmin"};
    for (int i = 0; i < 3; ++i) {
        permissions_[i]->setObjectName(QString::fromLatin1(right_names[i]));
        rights->addButton(permissions_[i], i);
    }

    if (!is_new_) LoadAccount(account, record_);
    const BasicInfoFields fields = FieldsFromRecord(account, record_);
    account_->setText(FromFileText(fields.name));
    account_->setEnabled(is_new_);
    user_name_->setText(FromFileText(fields.user_name));
    description_->setText(FromFileText(fields.comment));
    contact_->setText(FromFileText(fields.inter_mail));
    volume_->setValue(fields.volume);
    unlimited_->setChecked(fields.unlimited);
    disabled_->setChecked(fields.disabled);
    permissions_[fields.permission]->setChecked(true);
    connect(unlimited_, &QCheckBox::toggled, this, &AccBaseInfoDlg::OnUnlimitedToggled);
    OnUnlimitedToggled();

    auto* form = new QFormLayout;
    form->addRow(new QLabel(QStringLiteral("Account"), this), account_);
    form->addRow(new QLabel(QStringLiteral("Password"), this), password_);
    form->addRow(new QLabel(QStringLiteral("User name"), this), user_name_);
    form->addRow(new QLabel(QStringLiteral("Description"), this), description_);
    form->addRow(new QLabel(QStringLiteral("Contact email address"), this), contact_);
    auto* size_row = new QHBoxLayout;
    size_row->addWidget(volume_);
    size_row->addWidget(unlimited_);
    size_row->addStretch();
    form->addRow(new QLabel(QString::fromLatin1(kMailboxSizeLabel), this), size_row);
    auto* rights_box = new QGroupBox(this);
    auto* rights_row = new QHBoxLayout(rights_box);
    for (QRadioButton* button : permissions_) rights_row->addWidget(button);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(disabled_);
    layout->addWidget(rights_box);
    layout->addStretch();
}

std::string AccBaseInfoDlg::account_name() const { return ToFileText(account_->text()); }

QWidget* AccBaseInfoDlg::first_field() const {
    if (account_->isEnabled()) return account_;
    return password_;
}

void AccBaseInfoDlg::OnUnlimitedToggled() { volume_->setEnabled(!unlimited_->isChecked()); }

BasicInfoFields AccBaseInfoDlg::ReadFields() const {
    BasicInfoFields fields;
    fields.name = account_name();
    fields.password = ToFileText(password_->text());
    fields.password_typed = password_->isModified();
    fields.user_name = ToFileText(user_name_->text());
    fields.comment = ToFileText(description_->text());
    fields.inter_mail = ToFileText(contact_->text());
    fields.volume = volume_->value();
    fields.unlimited = unlimited_->isChecked();
    fields.disabled = disabled_->isChecked();
    for (int i = 0; i < 3; ++i) {
        if (permissions_[i]->isChecked()) fields.permission = i;
    }
    return fields;
}

bool AccBaseInfoDlg::CheckNameForHandOver() {
    if (!is_new_ || !account_->isEnabled()) return true;
    if (const std::string_view refusal = CheckNewAccountName(account_name(), *settings_, accounts_); !refusal.empty()) {
        prompts_.Information(window(), Tr(refusal));
        return false;
    }
    account_->setEnabled(false);
    return true;
}

bool AccBaseInfoDlg::CheckBeforeSave() {
    // A limited mailbox takes the sizes the settings window takes for one.
    if (!unlimited_->isChecked() && !kMailboxSizeRange.Accepts(volume_->value())) {
        RevealField(volume_);
        prompts_.Warning(window(), FormatText(Tr(kTextNumberRefusedFormat),
                                              {Tr(kMailboxSizeLabel), QString::number(volume_->value()),
                                               QString::fromStdString(kMailboxSizeRange.Expected())}));
        FocusField(volume_);
        return false;
    }
    return true;
}

bool AccBaseInfoDlg::Save() {
    const BasicInfoSave result = SaveBasicInfo(ReadFields(), is_new_, record_, *settings_, accounts_);
    if (!result.saved) {
        QWidget* field = nullptr;
        switch (result.field) {
            case BasicInfoField::kNone: break;
            case BasicInfoField::kName: field = account_; break;
            case BasicInfoField::kMailboxSize: field = volume_; break;
        }
        RevealField(field);
        prompts_.Information(window(), Tr(result.message));
        FocusField(field);
        return false;
    }
    is_new_ = false;
    account_->setEnabled(false);
    return true;
}

}  // namespace quorvex::gui
