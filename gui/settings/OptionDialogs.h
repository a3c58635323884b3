// The option dialogs of the advanced sheet: "ISP SMTP Options" (Internet
// Mail page), "Proxy Options", "Anti-virus Options" and "White List"
// (Miscellaneous page), and the entry dialogs of the two block lists
// ("Email Filter" for a sender, "IP Address"). Each opens with the sheet's
// working copy and writes into it on OK; Cancel changes nothing. Nothing
// here saves: only the settings window's OK does.
#pragma once

#include <QDialog>

#include "common/ServerSettings.h"

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QSpinBox;

namespace quorvex::gui {

class Prompts;

class IspSmtpDlg final : public QDialog {
    Q_OBJECT
public:
    IspSmtpDlg(CServerSettings& settings, QWidget* parent = nullptr);
    void accept() override;

private:
    CServerSettings& settings_;
    QCheckBox* need_auth_;
    QLineEdit* user_;
    QLineEdit* password_;
};

class ProxyDlg final : public QDialog {
    Q_OBJECT
public:
    ProxyDlg(CServerSettings& settings, Prompts& prompts, QWidget* parent = nullptr);
    // Refuses a port outside its range, saying so.
    void accept() override;

private:
    void ApplyRules();
    CServerSettings& settings_;
    Prompts& prompts_;
    QLineEdit* host_;
    QSpinBox* port_;
    QCheckBox* auth_;
    QLineEdit* user_;
    QLineEdit* password_;
};

class AntiVirusDlg final : public QDialog {
    Q_OBJECT
public:
    AntiVirusDlg(CServerSettings& settings, Prompts& prompts, QWidget* parent = nullptr);
    // Refuses a port outside its range, saying so.
    void accept() override;

private:
    CServerSettings& settings_;
    Prompts& prompts_;
    QLineEdit* server_;
    QSpinBox* port_;
};

class WhiteListDlg final : public QDialog {
    Q_OBJECT
public:
    WhiteListDlg(CServerSettings& settings, QWidget* parent = nullptr);
    void accept() override;

private:
    CServerSettings& settings_;
    QPlainTextEdit* list_;
};

// One entry of a block list; OK trims it and refuses, with the reason, an
// entry the SMTP server could not apply.
class BlockEntryDlg final : public QDialog {
    Q_OBJECT
public:
    enum class Kind { kSender, kIp };
    BlockEntryDlg(Kind kind, const QString& text, Prompts& prompts, QWidget* parent = nullptr);
    QString text() const;
    void accept() override;

private:
    Kind kind_;
    Prompts& prompts_;
    QLineEdit* entry_;
};

}  // namespace quorvex::gui
