#include "gui/settings/OptionDialogs.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "common/ServerSettings.h"
#include "gui/settings/FormWidgets.h"
#include "gui/settings/SettingsStrings.h"
#include "gui/support/DialogButtons.h"
#include "gui/support/Prompts.h"
#include "gui/support/TabOrder.h"
#include "gui/support/WidgetTranslator.h"

namespace quorvex::gui {

namespace {

// Text lengths of the fields (their settings' sizes).
constexpr int kText1023 = 1023;
constexpr int kText1024 = 1024;
constexpr int kText4096 = 4096;
constexpr const char* kLabelPort = "Port";

void AddButtons(QDialog* dialog, QGridLayout* grid, int row) {
    QDialogButtonBox* buttons = MakeOkCancelButtons(dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    grid->addWidget(buttons, row, 0, 1, 2);
}

}  // namespace

IspSmtpDlg::IspSmtpDlg(CServerSettings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings),
      need_auth_(MakeCheck(this, "needAuthentication", "Need Authentication", settings.ISPSMTPNeedAuth)),
      user_(MakeTextField(this, "userName", settings.ISPSMTPUserName, kText1024)),
      password_(MakeTextField(this, "password", settings.ISPSMTPPassword, kText1024)) {
    setObjectName(QStringLiteral("ispSmtpDialog"));
    setWindowTitle(QStringLiteral("ISP SMTP Options"));
    password_->setEchoMode(QLineEdit::Password);
    user_->setMinimumWidth(220);
    auto* grid = new QGridLayout(this);
    grid->addWidget(need_auth_, 0, 0, 1, 2);
    grid->addWidget(MakeLabel(this, "User Name"), 1, 0);
    grid->addWidget(user_, 1, 1);
    grid->addWidget(MakeLabel(this, "Password"), 2, 0);
    grid->addWidget(password_, 2, 1);
    AddButtons(this, grid, 3);
    TranslateWidgetTree(this);
    SetTabOrderFromLayout(this);
}

void IspSmtpDlg::accept() {
    settings_.ISPSMTPNeedAuth = need_auth_->isChecked() ? 1 : 0;
    settings_.ISPSMTPUserName = FieldText(user_);
    settings_.ISPSMTPPassword = FieldText(password_);
    QDialog::accept();
}

ProxyDlg::ProxyDlg(CServerSettings& settings, Prompts& prompts, QWidget* parent)
    : QDialog(parent), settings_(settings), prompts_(prompts),
      host_(MakeTextField(this, "proxyHost", settings.ProxyAddress, kText1023)),
      port_(MakeNumberField(this, "proxyPort", kPortRange, settings.ProxyPort, kLabelPort)),
      auth_(MakeCheck(this, "proxyAuthentication", "Need Authentication", settings.ProxyAuth)),
      user_(MakeTextField(this, "proxyUser", settings.ProxyUser, kText1023)),
      password_(MakeTextField(this, "proxyPassword", settings.ProxyPass, kText1023)) {
    setObjectName(QStringLiteral("proxyDialog"));
    setWindowTitle(QStringLiteral("Proxy Options"));
    password_->setEchoMode(QLineEdit::Password);
    host_->setMinimumWidth(220);
    auto* grid = new QGridLayout(this);
    grid->addWidget(MakeLabel(this, "SOCKS5 Proxy "), 0, 0);
    grid->addWidget(host_, 0, 1);
    grid->addWidget(MakeLabel(this, kLabelPort), 1, 0);
    grid->addWidget(port_, 1, 1, Qt::AlignLeft);
    grid->addWidget(auth_, 2, 0, 1, 2);
    grid->addWidget(MakeLabel(this, "User Name"), 3, 0);
    grid->addWidget(user_, 3, 1);
    grid->addWidget(MakeLabel(this, "Password"), 4, 0);
    grid->addWidget(password_, 4, 1);
    AddButtons(this, grid, 5);
    connect(auth_, &QCheckBox::toggled, this, &ProxyDlg::ApplyRules);
    ApplyRules();
    TranslateWidgetTree(this);
    SetTabOrderFromLayout(this);
}

void ProxyDlg::ApplyRules() {
    user_->setEnabled(auth_->isChecked());
    password_->setEnabled(auth_->isChecked());
}

void ProxyDlg::accept() {
    if (RefuseOutOfRange(this, prompts_)) return;
    settings_.ProxyAuth = auth_->isChecked() ? 1 : 0;
    settings_.ProxyPort = port_->value();
    settings_.ProxyAddress = FieldText(host_);
    settings_.ProxyPass = FieldText(password_);
    settings_.ProxyUser = FieldText(user_);
    QDialog::accept();
}

AntiVirusDlg::AntiVirusDlg(CServerSettings& settings, Prompts& prompts, QWidget* parent)
    : QDialog(parent), settings_(settings), prompts_(prompts),
      server_(MakeTextField(this, "antiVirusServer", settings.GateAddress, kText4096)),
      port_(MakeNumberField(this, "antiVirusPort", kPortRange, settings.GatePort, kLabelPort)) {
    setObjectName(QStringLiteral("antiVirusDialog"));
    setWindowTitle(QStringLiteral("Anti-virus Options"));
    server_->setMinimumWidth(200);
    auto* grid = new QGridLayout(this);
    grid->addWidget(MakeLabel(this, "Anti-virus Server"), 0, 0);
    grid->addWidget(server_, 0, 1);
    grid->addWidget(MakeLabel(this, kLabelPort), 1, 0);
    grid->addWidget(port_, 1, 1, Qt::AlignLeft);
    AddButtons(this, grid, 2);
    TranslateWidgetTree(this);
    SetTabOrderFromLayout(this);
}

void AntiVirusDlg::accept() {
    if (RefuseOutOfRange(this, prompts_)) return;
    settings_.GateAddress = FieldText(server_);
    settings_.GatePort = port_->value();
    QDialog::accept();
}

WhiteListDlg::WhiteListDlg(CServerSettings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings), list_(new QPlainTextEdit(this)) {
    setObjectName(QStringLiteral("whiteListDialog"));
    setWindowTitle(QStringLiteral("White List"));
    list_->setObjectName(QStringLiteral("whiteList"));
    list_->setPlainText(FromFileText(settings.WhiteList));
    list_->setMinimumSize(360, 120);
    auto* grid = new QGridLayout(this);
    grid->addWidget(list_, 0, 0, 1, 2);
    AddButtons(this, grid, 1);
    TranslateWidgetTree(this);
    SetTabOrderFromLayout(this);
}

void WhiteListDlg::accept() {
    std::string list = CleanWhiteList(SingleLine(ToFileText(list_->toPlainText())));
    if (list.size() > static_cast<std::size_t>(kText4096)) list.resize(kText4096);
    settings_.WhiteList = list;
    QDialog::accept();
}

BlockEntryDlg::BlockEntryDlg(Kind kind, const QString& text, Prompts& prompts, QWidget* parent)
    : QDialog(parent), kind_(kind), prompts_(prompts),
      entry_(MakeTextField(this, "entry", "", static_cast<int>(kMaxBlockEntryLength))) {
    setObjectName(kind == Kind::kSender ? QStringLiteral("filterFromDialog") : QStringLiteral("ipAddressDialog"));
    setWindowTitle(kind == Kind::kSender ? QStringLiteral("Email Filter") : QStringLiteral("IP Address"));
    entry_->setText(text);
    entry_->setMinimumWidth(280);
    auto* grid = new QGridLayout(this);
    grid->addWidget(entry_, 0, 0, 1, 2);
    AddButtons(this, grid, 1);
    TranslateWidgetTree(this);
    SetTabOrderFromLayout(this);
}

QString BlockEntryDlg::text() const { return entry_->text().trimmed(); }

void BlockEntryDlg::accept() {
    const std::string entry = SingleLine(ToFileText(text()));
    if (kind_ == Kind::kSender) {
        if (!IsValidSenderEntry(entry)) {
            prompts_.Warning(this, Tr(kTextSenderEntryInvalid));
            return;
        }
    } else {
        switch (CheckIpEntry(entry)) {
            case IpEntryCheck::kValid: break;
            case IpEntryCheck::kNotAnAddress: prompts_.Warning(this, Tr(kTextIpEntryInvalid)); return;
            case IpEntryCheck::kReversedRange: prompts_.Warning(this, Tr(kTextIpRangeReversed)); return;
        }
    }
    QDialog::accept();
}

}  // namespace quorvex::gui
