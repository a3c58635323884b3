#include <QGridLayout>
#include <QGroupBox>

#include "gui/settings/FormWidgets.h"
#include "gui/settings/SettingsPages.h"

namespace quorvex::gui {

namespace {
constexpr int kText4096 = 4096;
constexpr const char* kLabelDefaultVolume = "Default Mailbox Size";
constexpr const char* kLabelCollect = "Check POP3 Mail Every ";
}

AccountPage::AccountPage(CServerSettings& settings, const GuiServices& services, QWidget* parent)
    : SettingsPage(settings, services, parent),
      sign_up_(MakeCheck(this, "enableSignUp", "Enable Sign Up Account via Web Mail", settings.EnableSignUp)),
      need_authorization_(MakeCheck(this, "needAuthorized", "Sign-up of Mail Account Needs Authorization",
                                    settings.NeedAuthorized)),
      default_volume_(MakeNumberField(this, "defaultVolume", kMailboxSizeRange, settings.DefaultVolume,
                                      kLabelDefaultVolume)),
      abbreviate_(MakeCheck(this, "localAbbreviation", "Local Mail Address Can Be Abbreviated", settings.LocalAbbrv)),
      collect_(MakeCheck(this, "autoRecvPop3", kLabelCollect, settings.AutoRecvPOP3)),
      collect_minutes_(MakeNumberField(this, "recvInterval", kMinutesRange, settings.TimeIntervalRecvPOP3,
                                      kLabelCollect)),
      copy_all_(MakeCheck(this, "copyAll", "Copy All the Mails to Mail Address:", settings.EnableMailsCopyTo)),
      copy_to_(MakeTextField(this, "copyTo", settings.MailsCopyTo, kText4096)),
      save_outgoing_(MakeCheck(this, "saveOutgoing", "Save Outgoing Emails", settings.EnableOutMailsCopyTo)),
      save_incoming_(MakeCheck(this, "saveIncoming", "Save Incoming Emails", settings.EnableInMailsCopyTo)) {
    setObjectName(QStringLiteral("accountPage"));
    auto* grid = new QGridLayout(this);
    grid->addWidget(sign_up_, 0, 0, 1, 3);
    grid->addWidget(need_authorization_, 1, 0, 1, 3);
    grid->addWidget(MakeLabel(this, kLabelDefaultVolume), 2, 0);
    grid->addWidget(default_volume_, 2, 1);
    grid->addWidget(MakeLabel(this, "(M)"), 2, 2);
    grid->addWidget(abbreviate_, 3, 0, 1, 3);
    grid->addWidget(collect_, 4, 0);
    grid->addWidget(collect_minutes_, 4, 1);
    grid->addWidget(MakeLabel(this, "Minutes"), 4, 2);
    auto* copies = new QGroupBox(this);
    auto* copies_grid = new QGridLayout(copies);
    copies_grid->addWidget(copy_all_, 0, 0, 1, 2);
    copies_grid->addWidget(copy_to_, 1, 0, 1, 2);
    copies_grid->addWidget(save_outgoing_, 2, 0);
    copies_grid->addWidget(save_incoming_, 2, 1);
    grid->addWidget(copies, 5, 0, 1, 3);
    grid->setRowStretch(6, 1);
    grid->setColumnStretch(2, 1);
    connect(copy_all_, &QCheckBox::toggled, this, &AccountPage::ApplyRules);
    connect(collect_, &QCheckBox::toggled, this, &AccountPage::ApplyRules);
    ApplyRules();
}

void AccountPage::ApplyRules() {
    const bool copy = copy_all_->isChecked();
    copy_to_->setEnabled(copy);
    save_outgoing_->setEnabled(copy);
    save_incoming_->setEnabled(copy);
    collect_minutes_->setEnabled(collect_->isChecked());
}

void AccountPage::Store(CServerSettings& settings) const {
    settings.LocalAbbrv = abbreviate_->isChecked() ? 1 : 0;
    settings.EnableMailsCopyTo = copy_all_->isChecked() ? 1 : 0;
    settings.MailsCopyTo = FieldText(copy_to_);
    settings.DefaultVolume = default_volume_->value();
    settings.EnableSignUp = sign_up_->isChecked() ? 1 : 0;
    settings.NeedAuthorized = need_authorization_->isChecked() ? 1 : 0;
    settings.AutoRecvPOP3 = collect_->isChecked() ? 1 : 0;
    settings.TimeIntervalRecvPOP3 = collect_minutes_->value();
    settings.EnableInMailsCopyTo = save_incoming_->isChecked() ? 1 : 0;
    settings.EnableOutMailsCopyTo = save_outgoing_->isChecked() ? 1 : 0;
}

}  // namespace quorvex::gui
