// "Express Send": the administrator writes a short message with optional
// attachments and sends it to the accounts or addresses of the receiver
// field, or to every account ("All"). The sending runs on a worker thread
// with a progress bar; at the end the window lists every refused address.
#pragma once

#include <QDialog>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "gui/logic/SendMailJob.h"
#include "gui/logic/SettingsSource.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace quorvex {
class AccountList;
class DeliveryDirectory;
}  // namespace quorvex

namespace quorvex::gui {

class FileChooser;
class Prompts;

class SendMailDlg final : public QDialog {
    Q_OBJECT
public:
    // `recipients`: account names each followed by ";", or "All" (every
    // account of `accounts`). `settings`: those in force when the dialog
    // opened (the mail domain, the program folder). `on_sent` runs after a
    // sending ended.
    SendMailDlg(std::string recipients, SettingsSnapshot settings, DeliveryDirectory& directory,
                const AccountList& accounts, Prompts& prompts, FileChooser& files, QWidget* parent = nullptr,
                std::function<void()> on_sent = {});
    ~SendMailDlg() override;

    bool sending() const { return worker_.joinable() && !finished_; }
    const QStringList& attachments() const { return attachments_; }

public Q_SLOTS:
    void OnSend();
    void OnAttach();
    void reject() override;

Q_SIGNALS:
    // A sending ended (tests, the benchmark).
    void SendFinished();

private:
    void Finish(const SendMailResult& result);
    // The system log's line of a sending: how many receivers got it.
    void LogOutcome(const SendMailResult& result) const;
    void ShowProgress();

    SettingsSnapshot settings_;
    bool all_;
    DeliveryDirectory& directory_;
    const AccountList& accounts_;
    Prompts& prompts_;
    FileChooser& files_;
    std::function<void()> on_sent_;
    QStringList attachments_;

    QPlainTextEdit* text_;
    QLineEdit* sender_;
    QLineEdit* subject_;
    QLineEdit* recipients_;
    QLineEdit* attachment_list_;
    QPushButton* send_;
    QPushButton* attach_;
    QProgressBar* progress_;
    QTimer* progress_timer_;

    std::unique_ptr<SendMailJob> job_;
    std::atomic<int> done_{0};
    bool finished_ = false;
    // What the worker ended with; read only after it ended.
    std::optional<SendMailResult> outcome_;
    std::jthread worker_;
};

}  // namespace quorvex::gui
