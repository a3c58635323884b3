#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>

#include "common/Paths.h"
#include "gui/settings/FormWidgets.h"
#include "gui/settings/OptionDialogs.h"
#include "gui/settings/SettingsPages.h"
#include "gui/settings/SettingsStrings.h"
#include "gui/support/WidgetTranslator.h"

namespace quorvex::gui {

namespace {
constexpr const char* kLabelSmtpPort = "SMTP  Port";
constexpr const char* kLabelPop3Port = "POP3  Port ";
constexpr const char* kLabelAccountPort = "Account Port";
}  // namespace

MiscPage::MiscPage(CServerSettings& settings, const GuiServices& services, QWidget* parent)
    : SettingsPage(settings, services, parent),
      language_(new QComboBox(this)),
      minimized_(MakeCheck(this, "minimized", "Minimized", settings.Minimized)),
      autostart_(MakeCheck(this, "autostart", "Autostart", settings.AutoRun)),
      autolock_(MakeCheck(this, "autolock", "Autolock", settings.AutoLock)),
      smtp_port_(MakeNumberField(this, "smtpPort", kPortRange, settings.SMTPPort, kLabelSmtpPort)),
      pop3_port_(MakeNumberField(this, "pop3Port", kPortRange, settings.POP3Port, kLabelPop3Port)),
      account_port_(MakeNumberField(this, "accountPort", kPortRange, settings.AdminPort, kLabelAccountPort)),
      proxy_(MakeCheck(this, "enableProxy", "Enable Proxy", settings.ByProxy)),
      anti_virus_(MakeCheck(this, "enableAntiVirus", "Enable Anti-virus", settings.AntiVirusEnable)),
      anti_spam_(MakeCheck(this, "enableAntiSpam", "Enable Anti-spam", settings.AntiSpamEnable)),
      proxy_options_(MakeButton(this, "proxyOptions", "Proxy Options")),
      anti_virus_options_(MakeButton(this, "antiVirusOptions", "Anti-virus Options")),
      anti_spam_options_(MakeButton(this, "antiSpamOptions", "Anti-spam Options")) {
    setObjectName(QStringLiteral("miscPage"));
    language_->setObjectName(QStringLiteral("language"));
    const std::vector<std::string> languages = ScanLanguages(settings.Folder(), SharedDataFolder());
    for (const std::string& name : languages) language_->addItem(QString::fromStdString(name));
    // A language without its file stays as it is: nothing is selected.
    language_->setCurrentIndex(FindLanguage(languages, settings.Language));

    auto* grid = new QGridLayout(this);
    grid->addWidget(MakeLabel(this, "Language Selection"), 0, 0);
    grid->addWidget(language_, 0, 1, 1, 2);
    auto* startup = new QGroupBox(QStringLiteral("When Windows Startup"), this);
    auto* startup_row = new QHBoxLayout(startup);
    startup_row->addWidget(autolock_);
    startup_row->addWidget(autostart_);
    startup_row->addWidget(minimized_);
    grid->addWidget(startup, 1, 0, 1, 3);
    auto* ports = new QGroupBox(this);
    auto* ports_grid = new QGridLayout(ports);
    ports_grid->addWidget(MakeLabel(ports, kLabelSmtpPort), 0, 0);
    ports_grid->addWidget(smtp_port_, 0, 1);
    ports_grid->addWidget(MakeLabel(ports, kLabelPop3Port), 1, 0);
    ports_grid->addWidget(pop3_port_, 1, 1);
    ports_grid->addWidget(MakeLabel(ports, kLabelAccountPort), 2, 0);
    ports_grid->addWidget(account_port_, 2, 1);
    grid->addWidget(ports, 2, 0, 3, 1);
    grid->addWidget(proxy_, 2, 1);
    grid->addWidget(proxy_options_, 2, 2);
    grid->addWidget(anti_virus_, 3, 1);
    grid->addWidget(anti_virus_options_, 3, 2);
    grid->addWidget(anti_spam_, 4, 1);
    grid->addWidget(anti_spam_options_, 4, 2);
    grid->setRowStretch(5, 1);

    for (QCheckBox* check : {proxy_, anti_virus_, anti_spam_}) {
        connect(check, &QCheckBox::toggled, this, &MiscPage::ApplyRules);
    }
    connect(proxy_options_, &QPushButton::clicked, this, [this] {
        ProxyDlg dialog(settings_, *services_.prompts, this);
        dialog.exec();
    });
    connect(anti_virus_options_, &QPushButton::clicked, this, [this] {
        AntiVirusDlg dialog(settings_, *services_.prompts, this);
        dialog.exec();
    });
    connect(anti_spam_options_, &QPushButton::clicked, this, [this] {
        WhiteListDlg dialog(settings_, this);
        dialog.exec();
    });
    ApplyRules();
}

void MiscPage::ApplyRules() {
    proxy_options_->setEnabled(proxy_->isChecked());
    anti_virus_options_->setEnabled(anti_virus_->isChecked());
    anti_spam_options_->setEnabled(anti_spam_->isChecked());
}

std::optional<FieldRefusal> MiscPage::Refusal() const {
    if (auto refusal = SettingsPage::Refusal()) return refusal;
    const auto clash = FindPortClash(smtp_port_->value(), pop3_port_->value(), account_port_->value());
    if (!clash) return std::nullopt;
    const QString text = FormatText(Tr(kTextPortClashFormat), {QString::fromLatin1(clash->first),
                                                               QString::fromLatin1(clash->second),
                                                               QString::number(clash->port)});
    return FieldRefusal{text, std::string_view(clash->second_key) == "Admin" ? account_port_ : pop3_port_};
}

void MiscPage::Store(CServerSettings& settings) const {
    if (language_->currentIndex() >= 0) settings.Language = ToFileText(language_->currentText());
    settings.Minimized = minimized_->isChecked() ? 1 : 0;
    settings.AutoRun = autostart_->isChecked() ? 1 : 0;
    settings.AutoLock = autolock_->isChecked() ? 1 : 0;
    settings.SMTPPort = smtp_port_->value();
    settings.POP3Port = pop3_port_->value();
    settings.AdminPort = account_port_->value();
    settings.ByProxy = proxy_->isChecked() ? 1 : 0;
    settings.AntiVirusEnable = anti_virus_->isChecked() ? 1 : 0;
    settings.AntiSpamEnable = anti_spam_->isChecked() ? 1 : 0;
}

}  // namespace quorvex::gui
