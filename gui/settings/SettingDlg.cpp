#include "gui/settings/SettingDlg.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QListWidget>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "gui/logic/ServiceSwitch.h"
#include "gui/settings/AdvancedDlg.h"
#include "gui/settings/DomainInputDlg.h"
#include "gui/settings/FormWidgets.h"
#include "gui/settings/SettingsStrings.h"
#include "gui/support/DialogButtons.h"
#include "gui/support/Prompts.h"
#include "gui/support/WaitCursor.h"
#include "gui/support/TabOrder.h"
#include "gui/support/WidgetTranslator.h"

namespace quorvex::gui {

namespace {
constexpr int kDominameFieldLength = 260;
}

SettingDlg::SettingDlg(const GuiServices& services, ServiceSwitch& service, QWidget* parent)
    : QDialog(parent), services_(services), service_(service), form_(*services.settings),
      model_(new QButtonGroup(this)) {
    setObjectName(QStringLiteral("settingDialog"));
    setWindowTitle(QStringLiteral("Configuration"));
    auto* server = new QGroupBox(this);
    auto* server_grid = new QGridLayout(server);
    const char* models[] = {"Run As LAN Mail Server", "Run As Internet Mail Server", "Run As LAN/Dial-up Mail Server"};
    for (int i = 0; i < 3; ++i) {
        auto* radio = new QRadioButton(QString::fromLatin1(models[i]), server);
        radio->setObjectName(QStringLiteral("serverModel%1").arg(i));
        model_->addButton(radio, i);
        server_grid->addWidget(radio, i, 0);
    }
    esmtp_ = MakeCheck(server, "esmtp", "Enable ESMTP", 0);
    run_as_service_ = MakeCheck(server, "runAsService", "Run As NT Service", 0);
    mail_proxy_ = MakeCheck(server, "mailProxy", "Enable Mail Proxy", 0);
    run_as_service_->setEnabled(service_.available());
    server_grid->addWidget(esmtp_, 0, 1);
    server_grid->addWidget(run_as_service_, 1, 1);
    server_grid->addWidget(mail_proxy_, 2, 1);

    auto* domain = new QGroupBox(this);
    auto* domain_grid = new QGridLayout(domain);
    single_ = new QRadioButton(QStringLiteral("Single Domain"), domain);
    single_->setObjectName(QStringLiteral("singleDomain"));
    multiple_ = new QRadioButton(QStringLiteral("Multiple Domain"), domain);
    multiple_->setObjectName(QStringLiteral("multipleDomain"));
    domain_name_ = MakeTextField(domain, "domainName", std::string(), kDominameFieldLength);
    edit_single_ = MakeButton(domain, "editSingleDomain", "Edit");
    domains_ = new QListWidget(domain);
    domains_->setObjectName(QStringLiteral("domainList"));
    domains_->setMinimumHeight(110);
    add_ = MakeButton(domain, "addDomain", "Add");
    edit_ = MakeButton(domain, "editDomain", "Edit");
    remove_ = MakeButton(domain, "removeDomain", "Remove");
    domain_grid->addWidget(single_, 0, 0, 1, 3);
    domain_grid->addWidget(domain_name_, 1, 0, 1, 2);
    domain_grid->addWidget(edit_single_, 1, 2);
    domain_grid->addWidget(multiple_, 2, 0, 1, 3);
    domain_grid->addWidget(domains_, 3, 0, 4, 2);
    domain_grid->addWidget(add_, 3, 2);
    domain_grid->addWidget(edit_, 4, 2);
    domain_grid->addWidget(remove_, 5, 2);
    domain_grid->setRowStretch(6, 1);
    domain_grid->setColumnStretch(0, 1);

    QPushButton* advanced = MakeButton(this, "advanced", "Advanced");
    QDialogButtonBox* buttons = MakeOkCancelButtons(this);
    buttons->addButton(advanced, QDialogButtonBox::ActionRole);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(server);
    layout->addWidget(domain, 1);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(advanced, &QPushButton::clicked, this, &SettingDlg::OnAdvanced);
    connect(single_, &QRadioButton::toggled, this, &SettingDlg::ApplyRules);
    connect(multiple_, &QRadioButton::toggled, this, &SettingDlg::OnMultipleDomain);
    connect(add_, &QPushButton::clicked, this, &SettingDlg::OnAddDomain);
    connect(edit_, &QPushButton::clicked, this, &SettingDlg::OnEditDomain);
    connect(domains_, &QListWidget::itemDoubleClicked, this, &SettingDlg::OnEditDomain);
    connect(remove_, &QPushButton::clicked, this, &SettingDlg::OnRemoveDomain);
    connect(edit_single_, &QPushButton::clicked, this, &SettingDlg::OnEditSingleDomain);
    FillControls();
    TranslateWidgetTree(this);
    SetTabOrderFromLayout(this);
}

void SettingDlg::FillControls() {
    const CServerSettings& work = form_.work();
    {
        // Only the user's own choices run the domain-mode handlers.
        const QSignalBlocker block_single(single_);
        const QSignalBlocker block_multiple(multiple_);
        (work.DomainNameType == DomainTable::kMultiDomain ? multiple_ : single_)->setChecked(true);
    }
    if (QAbstractButton* chosen = model_->button(work.MailServerModel)) chosen->setChecked(true);
    esmtp_->setChecked(work.ESMTP != 0);
    run_as_service_->setChecked(work.RunAsService != 0);
    mail_proxy_->setChecked(work.MailProxy != 0);
    domain_name_->setText(FromFileText(work.Dominame));
    FillDomainList();
    ApplyRules();
}

void SettingDlg::ReadControls() {
    CServerSettings& work = form_.work();
    if (model_->checkedId() >= 0) work.MailServerModel = model_->checkedId();
    work.ESMTP = esmtp_->isChecked() ? 1 : 0;
    work.RunAsService = run_as_service_->isChecked() ? 1 : 0;
    work.MailProxy = mail_proxy_->isChecked() ? 1 : 0;
    work.DomainNameType = multiple_->isChecked() ? DomainTable::kMultiDomain : DomainTable::kSingleDomain;
    work.Dominame = FieldText(domain_name_);
}

void SettingDlg::ApplyRules() {
    const bool single = single_->isChecked();
    domain_name_->setEnabled(single);
    edit_single_->setEnabled(single);
    for (QWidget* widget : {static_cast<QWidget*>(domains_), static_cast<QWidget*>(add_),
                            static_cast<QWidget*>(edit_), static_cast<QWidget*>(remove_)}) {
        widget->setEnabled(!single);
    }
}

void SettingDlg::OnMultipleDomain(bool chosen) {
    if (!chosen) return;
    ReadControls();
    // The domain served so far stays served: it joins the list.
    if (form_.KeepCurrentDomain()) FillDomainList();
}

bool SettingDlg::ConfirmDomainModeChange() {
    constexpr std::size_t kNamesShown = 5;
    if (services_.accounts == nullptr) return true;
    const std::vector<std::string> outside = form_.AccountsOutsideNewDomainMode(*services_.accounts);
    if (outside.empty()) return true;
    QStringList names;
    for (std::size_t i = 0; i < outside.size() && i < kNamesShown; ++i) names << FromFileText(outside[i]);
    if (outside.size() > kNamesShown) names << QStringLiteral("...");
    return services_.prompts->Question(
        this, FormatText(Tr(kTextAccountsOutsideModeFormat), {QString::number(outside.size()), names.join(", ")}));
}

void SettingDlg::FillDomainList() {
    domains_->clear();
    for (const DomainRecord& record : form_.multi_table().records()) domains_->addItem(FromFileText(record.Name));
}

bool SettingDlg::Refused(DomainRefusal refusal) {
    switch (refusal) {
        case DomainRefusal::kNone: return false;
        case DomainRefusal::kNoSelection: return true;
        case DomainRefusal::kEmptyName: services_.prompts->Information(this, Tr(kTextDomainNameEmpty)); return true;
        case DomainRefusal::kDuplicate: services_.prompts->Information(this, Tr(kTextDomainDuplicate)); return true;
        case DomainRefusal::kTableFull: services_.prompts->Information(this, Tr(kTextDomainTableFull)); return true;
    }
    return true;
}

void SettingDlg::OnAdvanced() {
    ReadControls();
    AdvancedDlg sheet(form_.work(), services_, this);
    sheet.exec();
}

void SettingDlg::OnAddDomain() {
    DomainInput input;
    input.default_size = form_.work().DefaultVolume;
    DomainInputDlg dialog(input, *services_.prompts, this);
    if (dialog.exec() != QDialog::Accepted || Refused(form_.AddDomain(dialog.value()))) return;
    FillDomainList();
    domains_->setCurrentRow(domains_->count() - 1);
}

void SettingDlg::OnEditDomain() {
    const int row = domains_->currentRow();
    if (row < 0) return;
    DomainInputDlg dialog(form_.MultiDomainInput(row), *services_.prompts, this);
    if (dialog.exec() != QDialog::Accepted || Refused(form_.EditDomain(row, dialog.value()))) return;
    FillDomainList();
    domains_->setCurrentRow(row);
}

void SettingDlg::OnRemoveDomain() {
    const int row = domains_->currentRow();
    if (Refused(form_.RemoveDomain(row))) return;
    FillDomainList();
    domains_->setCurrentRow(std::min(row, domains_->count() - 1));
}

void SettingDlg::OnEditSingleDomain() {
    ReadControls();
    DomainInputDlg dialog(form_.SingleDomainInput(), *services_.prompts, this);
    if (dialog.exec() != QDialog::Accepted || Refused(form_.EditSingleDomain(dialog.value()))) return;
    domain_name_->setText(FromFileText(form_.work().Dominame));
}

void SettingDlg::accept() {
    ReadControls();
    Prompts& prompts = *services_.prompts;
    if (form_.ChangedOnDisk()) {
        // Somebody else wrote config.ini meanwhile (the account server edits
        // domains, "-update" sets values): every control shows the file's
        // values with the user's edits laid over them before anything is
        // written, so the next OK writes only what the user changed.
        prompts.Warning(this, Tr(kTextConfigChangedOnDisk));
        form_.ReloadFromDisk();
        FillControls();
        return;
    }
    if (!ConfirmDomainModeChange()) return;
    {
        const WaitCursor wait;
        outcome_ = form_.Commit(service_, services_.ports_in_use);
    }
    if (!outcome_.refused.empty()) {
        QString text;
        for (const std::string& refused : outcome_.refused) text += FromFileText(refused) + QStringLiteral("\n");
        prompts.Warning(this, FormatText(Tr(kTextSettingsRefusedFormat), {text.trimmed()}));
        return;
    }
    if (outcome_.service_error) {
        const std::string_view format =
            outcome_.service == ServiceChange::kInstall ? kTextServiceOnFailedFormat : kTextServiceOffFailedFormat;
        prompts.Warning(this, FormatText(Tr(format), {FromFileText(*outcome_.service_error)}));
        run_as_service_->setChecked(form_.original().RunAsService != 0);
    }
    if (outcome_.save_failed) {
        prompts.Warning(this, Tr(kTextSettingsNotSaved));
        if (!outcome_.written) return;
    }
    if (outcome_.quit_for_service()) {
        prompts.Information(this, Tr(kTextServiceTakesOver));
    } else if (outcome_.ports_wait_for_start) {
        prompts.Information(this, Tr(kTextPortsAtNextStart));
    }
    QDialog::accept();
}

}  // namespace quorvex::gui
