#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QRadioButton>

#include "gui/settings/FormWidgets.h"
#include "gui/settings/OptionDialogs.h"
#include "gui/settings/SettingsPages.h"

namespace quorvex::gui {

namespace {
constexpr int kText1023 = 1023;
constexpr const char* kLabelMaxTries = "Maximum Tries";
constexpr const char* kLabelRetry = "Time Interval Before Next Try";
constexpr const char* kLabelPort = "Port";
}

InternetMailPage::InternetMailPage(CServerSettings& settings, const GuiServices& services, QWidget* parent)
    : SettingsPage(settings, services, parent),
      dns_(MakeTextField(this, "primaryDns", settings.DNS, kText1023)),
      dns_secondary_(MakeTextField(this, "secondaryDns", settings.DNSSecondary, kText1023)),
      max_tries_(MakeNumberField(this, "maxTries", kTriesRange, settings.MaxTries, kLabelMaxTries)),
      retry_minutes_(MakeNumberField(this, "retryInterval", kRetryMinutesRange, settings.NextTryInterval,
                                     kLabelRetry)),
      local_(new QRadioButton(QStringLiteral("Send Mail via Local Mail Server"), this)),
      isp_(new QRadioButton(QStringLiteral("Send Mail via ISP SMTP Mail Server"), this)),
      relay_server_(MakeTextField(this, "relayServer", settings.RelayServer, kText1023)),
      relay_port_(MakeNumberField(this, "relayPort", kPortRange, settings.RelayPort, kLabelPort)),
      default_dns_(MakeButton(this, "defaultDns", "Default")),
      isp_options_(MakeButton(this, "ispOptions", "Advanced")) {
    setObjectName(QStringLiteral("internetMailPage"));
    local_->setObjectName(QStringLiteral("relayLocal"));
    isp_->setObjectName(QStringLiteral("relayIsp"));
    // The two choices sit in two boxes: one group keeps them exclusive.
    auto* relay_choice = new QButtonGroup(this);
    relay_choice->addButton(local_);
    relay_choice->addButton(isp_);
    (settings.MailRelayTo == 1 ? isp_ : local_)->setChecked(true);

    auto* direct = new QGroupBox(this);
    auto* direct_grid = new QGridLayout(direct);
    direct_grid->addWidget(local_, 0, 0, 1, 3);
    direct_grid->addWidget(MakeLabel(direct, "Primary Internet DNS"), 1, 0);
    direct_grid->addWidget(dns_, 1, 1);
    direct_grid->addWidget(default_dns_, 1, 2, 2, 1, Qt::AlignVCenter);
    direct_grid->addWidget(MakeLabel(direct, "Secondary Internet DNS"), 2, 0);
    direct_grid->addWidget(dns_secondary_, 2, 1);
    direct_grid->addWidget(MakeLabel(direct, kLabelMaxTries), 3, 0);
    direct_grid->addWidget(max_tries_, 3, 1, Qt::AlignLeft);
    direct_grid->addWidget(MakeLabel(direct, kLabelRetry), 4, 0);
    auto* minutes = new QHBoxLayout;
    minutes->addWidget(retry_minutes_);
    minutes->addWidget(MakeLabel(direct, "Minutes"));
    minutes->addStretch(1);
    direct_grid->addLayout(minutes, 4, 1);

    auto* relay = new QGroupBox(this);
    auto* relay_grid = new QGridLayout(relay);
    relay_grid->addWidget(isp_, 0, 0, 1, 3);
    relay_grid->addWidget(MakeLabel(relay, "Mail Server Address"), 1, 0);
    relay_grid->addWidget(relay_server_, 1, 1);
    relay_grid->addWidget(isp_options_, 1, 2, 2, 1, Qt::AlignVCenter);
    relay_grid->addWidget(MakeLabel(relay, kLabelPort), 2, 0);
    relay_grid->addWidget(relay_port_, 2, 1, Qt::AlignLeft);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(direct);
    layout->addWidget(relay);
    layout->addStretch(1);

    connect(local_, &QRadioButton::toggled, this, &InternetMailPage::ApplyRules);
    connect(default_dns_, &QPushButton::clicked, this, [this] {
        dns_->setText(QString::fromLatin1(kDefaultDnsServer));
        dns_secondary_->setText(QString::fromLatin1(kDefaultDnsSecondary));
    });
    connect(isp_options_, &QPushButton::clicked, this, [this] {
        IspSmtpDlg dialog(settings_, this);
        dialog.exec();
    });
    ApplyRules();
}

void InternetMailPage::ApplyRules() {
    const bool isp = isp_->isChecked();
    relay_server_->setEnabled(isp);
    relay_port_->setEnabled(isp);
    for (QWidget* widget : {static_cast<QWidget*>(dns_), static_cast<QWidget*>(dns_secondary_),
                            static_cast<QWidget*>(max_tries_), static_cast<QWidget*>(retry_minutes_),
                            static_cast<QWidget*>(default_dns_)}) {
        widget->setEnabled(!isp);
    }
}

void InternetMailPage::Store(CServerSettings& settings) const {
    settings.DNS = FieldText(dns_);
    settings.DNSSecondary = FieldText(dns_secondary_);
    settings.MaxTries = max_tries_->value();
    settings.NextTryInterval = retry_minutes_->value();
    settings.MailRelayTo = isp_->isChecked() ? 1 : 0;
    settings.RelayServer = FieldText(relay_server_);
    settings.RelayPort = relay_port_->value();
}

}  // namespace quorvex::gui
