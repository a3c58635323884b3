#include "gui/dialogs/SendMailDlg.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "app/ProgramMessages.h"
#include "common/ProfileFile.h"
#include "gui/support/GuiStrings.h"
#include "gui/support/Prompts.h"
#include "gui/support/TextCodec.h"
#include "gui/support/TabOrder.h"
#include "gui/support/WidgetTranslator.h"

namespace quorvex::gui {

namespace {

constexpr std::string_view kTextAllUsers = "All users";                                // 32844
constexpr std::string_view kTextDefaultSubject = "mail from administrator";           // 119
constexpr std::string_view kTextNoReceiver = "There is no address of receiver.";      // 126
constexpr std::string_view kTextMailEmpty = "The mail is empty.";                      // 114
constexpr std::string_view kTextAttachFilter = "Attach (*.*)";
constexpr std::string_view kTextCannotAttachFormat = "This file cannot be attached:\n%s";
constexpr std::string_view kTextComposeFailedFormat = "The mail could not be written to %s.";
constexpr std::string_view kTextRefusedFormat = "The mail was not delivered to these receivers:\n%s";
constexpr std::string_view kTextStoppedFormat = "Sending was stopped after %d of %d receivers.";
constexpr int kProgressIntervalMs = 100;
constexpr int kMaxListedRefusals = 30;

// A single-line field: line breaks would end an INI value or a header.
std::string OneLineText(const QString& text) {
    QString line = text;
    line.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    line.remove(QChar(0));
    return ToFileText(line.trimmed());
}

}  // namespace

SendMailDlg::SendMailDlg(std::string recipients, SettingsSnapshot settings, DeliveryDirectory& directory,
                         const AccountList& accounts, Prompts& prompts, FileChooser& files, QWidget* parent,
                         std::function<void()> on_sent)
    : QDialog(parent), settings_(std::move(settings)), all_(recipients == "All"), directory_(directory),
      accounts_(accounts), prompts_(prompts), files_(files), on_sent_(std::move(on_sent)),
      text_(new QPlainTextEdit(this)), sender_(new QLineEdit(this)), subject_(new QLineEdit(this)),
      recipients_(new QLineEdit(this)),
      attachment_list_(new QLineEdit(this)), send_(new QPushButton(QStringLiteral("Send mail"), this)),
      attach_(new QPushButton(QStringLiteral("Add File"), this)), progress_(new QProgressBar(this)),
      progress_timer_(new QTimer(this)) {
    setObjectName(QStringLiteral("sendMailDialog"));
    setWindowTitle(QStringLiteral("Express Send"));
    text_->setObjectName(QStringLiteral("text"));
    sender_->setObjectName(QStringLiteral("sender"));
    subject_->setObjectName(QStringLiteral("subject"));
    recipients_->setObjectName(QStringLiteral("recipients"));
    attachment_list_->setObjectName(QStringLiteral("attachments"));
    attachment_list_->setReadOnly(true);
    send_->setObjectName(QStringLiteral("send"));
    attach_->setObjectName(QStringLiteral("attach"));
    progress_->setObjectName(QStringLiteral("progress"));
    progress_->hide();
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("close"));

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Sender"), sender_);
    form->addRow(QStringLiteral("Receiver"), recipients_);
    form->addRow(QStringLiteral("Subject"), subject_);
    auto* attach_row = new QHBoxLayout;
    attach_row->addWidget(attachment_list_, 1);
    attach_row->addWidget(attach_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(progress_, 1);
    buttons->addStretch();
    buttons->addWidget(send_);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(text_, 1);
    layout->addLayout(attach_row);
    layout->addLayout(buttons);
    setMinimumSize(480, 380);
    TranslateWidgetTree(this);
    SetTabOrderFromLayout(this);
    // Enter in a field sends; the dialog opens on its first field.
    send_->setDefault(true);
    sender_->setFocus();

    if (all_) {
        recipients_->setText(Tr(kTextAllUsers));
        recipients_->setReadOnly(true);
    } else {
        recipients_->setText(FromFileText(recipients));
    }
    const std::string fallback = "admin@" + settings_->Dominame;
    sender_->setText(FromFileText(ProfileFile(settings_->ConfigIni()).GetString("Admin", "Sender", fallback)));
    subject_->setText(Tr(kTextDefaultSubject));
    for (QLineEdit* edit : {sender_, subject_, recipients_, attachment_list_}) KeepUntranslated(edit);

    connect(send_, &QPushButton::clicked, this, &SendMailDlg::OnSend);
    connect(attach_, &QPushButton::clicked, this, &SendMailDlg::OnAttach);
    connect(close, &QPushButton::clicked, this, &SendMailDlg::reject);
    connect(progress_timer_, &QTimer::timeout, this, &SendMailDlg::ShowProgress);
}

SendMailDlg::~SendMailDlg() {
    if (worker_.joinable()) {
        worker_.request_stop();
        worker_.join();
        // Closed while sending (the window was locked): the end is seen
        // nowhere else.
        if (!finished_ && outcome_) LogOutcome(*outcome_);
    }
}

void SendMailDlg::LogOutcome(const SendMailResult& result) const {
    if (!result.compose_error.empty()) return;
    app::WriteProgramLog(std::string("Mail of the administrator ") + (result.cancelled ? "stopped" : "sent") + ": " +
                         std::to_string(result.delivered) + " of " + std::to_string(job_->Total()) +
                         " receivers got it");
}

void SendMailDlg::OnAttach() {
    const QStringList chosen = files_.ChooseFilesToOpen(this, Tr(kTextAttachFilter), QString());
    if (chosen.isEmpty()) return;
    attachments_ += chosen;
    attachment_list_->setText(attachments_.join(QStringLiteral("; ")));
}

void SendMailDlg::OnSend() {
    if (sending()) return;
    const bool single_domain = settings_->DomainNameType != 1;
    const std::string recipient_text = all_ ? std::string("All") : ToFileText(recipients_->text());
    SendMailRequest request;
    request.program_folder = settings_->Folder();
    request.all_accounts = all_;
    if (!all_) request.recipients = ParseRecipients(recipient_text, single_domain, settings_->Dominame);
    if (!all_ && request.recipients.empty()) {
        prompts_.Information(this, Tr(kTextNoReceiver));
        return;
    }
    if (text_->toPlainText().isEmpty()) {
        prompts_.Information(this, Tr(kTextMailEmpty));
        return;
    }
    request.sender = OneLineText(sender_->text());
    request.subject = OneLineText(subject_->text());
    request.body = ToFileText(text_->toPlainText());
    for (const QString& path : attachments_) request.attachments.push_back(path.toStdString());
    for (const std::string& address : ParseRecipients(recipient_text, single_domain, settings_->Dominame)) {
        request.to_header += address + ";";
    }

    job_ = std::make_unique<SendMailJob>(directory_, accounts_, std::move(request));
    done_ = 0;
    finished_ = false;
    outcome_.reset();
    send_->setEnabled(false);
    attach_->setEnabled(false);
    progress_->setRange(0, std::max(job_->Total(), 1));
    progress_->setValue(0);
    progress_->show();
    progress_timer_->start(kProgressIntervalMs);
    worker_ = std::jthread([this](std::stop_token stop) {
        outcome_ = job_->Run(done_, stop);
        QMetaObject::invokeMethod(this, [this, result = *outcome_] { Finish(result); }, Qt::QueuedConnection);
    });
}

void SendMailDlg::ShowProgress() { progress_->setValue(done_.load(std::memory_order_relaxed)); }

void SendMailDlg::Finish(const SendMailResult& result) {
    finished_ = true;
    worker_.join();
    progress_timer_->stop();
    progress_->hide();
    send_->setEnabled(true);
    attach_->setEnabled(true);
    if (!result.compose_error.empty()) {
        const QString where = FromFileText(result.compose_error);
        const bool attachment = attachments_.contains(QString::fromStdString(result.compose_error));
        prompts_.Warning(this, FormatText(Tr(attachment ? kTextCannotAttachFormat : kTextComposeFailedFormat), {where}));
        Q_EMIT SendFinished();
        return;
    }
    if (!result.refused.empty()) {
        QStringList lines;
        for (const RefusedRecipient& refused : result.refused) {
            if (lines.size() == kMaxListedRefusals) {
                lines << QStringLiteral("...");
                break;
            }
            lines << FromFileText(refused.address) + QStringLiteral(": ") + FromFileText(refused.reply).trimmed();
        }
        prompts_.Warning(this, FormatText(Tr(kTextRefusedFormat), {lines.join(QLatin1Char('\n'))}));
    }
    LogOutcome(result);
    if (result.cancelled) {
        prompts_.Information(this, FormatText(Tr(kTextStoppedFormat), {QString::number(done_.load()),
                                                                       QString::number(job_->Total())}));
    } else if (all_) {
        prompts_.Information(this, FormatText(Tr(kTextSentToAllFormat), {QString::number(result.delivered),
                                                                         QString::number(job_->Total())}));
    }
    const std::string sender = OneLineText(sender_->text());
    ProfileFile(settings_->ConfigIni()).WriteString("Admin", "Sender", sender);
    if (on_sent_) on_sent_();
    Q_EMIT SendFinished();
    accept();
}

void SendMailDlg::reject() {
    // While sending, Close (or Esc) stops after the current receiver.
    if (sending()) {
        worker_.request_stop();
        return;
    }
    QDialog::reject();
}

}  // namespace quorvex::gui
