// The five pages of the advanced sheet. Each page fills its controls from
// the sheet's working copy when it is made and writes them back with Store
// when the sheet ends with OK, and only when it was shown: a page never
// shown writes nothing. The option dialogs a page opens edit the same
// working copy.
#pragma once

#include <QWidget>
#include <optional>

#include "common/ServerSettings.h"
#include "gui/settings/NumberField.h"
#include "gui/support/GuiServices.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace quorvex::gui {

class SettingsPage : public QWidget {
    Q_OBJECT
public:
    SettingsPage(CServerSettings& settings, const GuiServices& services, QWidget* parent);
    bool shown() const { return shown_; }
    // Checked before Store: a number outside its range.
    virtual std::optional<FieldRefusal> Refusal() const;
    virtual void Store(CServerSettings& settings) const = 0;

protected:
    void showEvent(QShowEvent* event) override;

    CServerSettings& settings_;
    const GuiServices& services_;

private:
    bool shown_ = false;
};

// "Internet Mail": DNS servers, tries, the relay choice and its server.
class InternetMailPage final : public SettingsPage {
    Q_OBJECT
public:
    InternetMailPage(CServerSettings& settings, const GuiServices& services, QWidget* parent = nullptr);
    void Store(CServerSettings& settings) const override;

private:
    void ApplyRules();
    QLineEdit* dns_;
    QLineEdit* dns_secondary_;
    QSpinBox* max_tries_;
    QSpinBox* retry_minutes_;
    QRadioButton* local_;
    QRadioButton* isp_;
    QLineEdit* relay_server_;
    QSpinBox* relay_port_;
    QPushButton* default_dns_;
    QPushButton* isp_options_;
};

// "Account": account defaults, web sign-up, remote collection, copies.
class AccountPage final : public SettingsPage {
    Q_OBJECT
public:
    AccountPage(CServerSettings& settings, const GuiServices& services, QWidget* parent = nullptr);
    void Store(CServerSettings& settings) const override;

private:
    void ApplyRules();
    QCheckBox* sign_up_;
    QCheckBox* need_authorization_;
    QSpinBox* default_volume_;
    QCheckBox* abbreviate_;
    QCheckBox* collect_;
    QSpinBox* collect_minutes_;
    QCheckBox* copy_all_;
    QLineEdit* copy_to_;
    QCheckBox* save_outgoing_;
    QCheckBox* save_incoming_;
};

// "Log": the log folder and its size; viewing and clearing the logs.
class LogPage final : public SettingsPage {
    Q_OBJECT
public:
    LogPage(CServerSettings& settings, const GuiServices& services, QWidget* parent = nullptr);
    void Store(CServerSettings& settings) const override;

private:
    void Browse();
    QLineEdit* folder_;
    QSpinBox* max_lines_;
};

// "Email Filter": the blocked senders and the blocked client addresses.
class EmailFilterPage final : public SettingsPage {
    Q_OBJECT
public:
    EmailFilterPage(CServerSettings& settings, const GuiServices& services, QWidget* parent = nullptr);
    void Store(CServerSettings& settings) const override;

private:
    struct List {
        QCheckBox* enable;
        QListWidget* lines;
        QPushButton* add;
        QPushButton* edit;
        QPushButton* remove;
    };
    List MakeList(const char* prefix, const char* title, const std::vector<std::string>& entries, int enabled,
                  bool sender);
    void ApplyRules();
    List senders_;
    List addresses_;
};

// "Miscellaneous": language, start-up, ports, proxy, anti-virus, anti-spam.
class MiscPage final : public SettingsPage {
    Q_OBJECT
public:
    MiscPage(CServerSettings& settings, const GuiServices& services, QWidget* parent = nullptr);
    // Also two servers on one port, naming both.
    std::optional<FieldRefusal> Refusal() const override;
    void Store(CServerSettings& settings) const override;

private:
    void ApplyRules();
    QComboBox* language_;
    QCheckBox* minimized_;
    QCheckBox* autostart_;
    QCheckBox* autolock_;
    QSpinBox* smtp_port_;
    QSpinBox* pop3_port_;
    QSpinBox* account_port_;
    QCheckBox* proxy_;
    QCheckBox* anti_virus_;
    QCheckBox* anti_spam_;
    QPushButton* proxy_options_;
    QPushButton* anti_virus_options_;
    QPushButton* anti_spam_options_;
};

}  // namespace quorvex::gui
