// "Configuration": the server's role, ESMTP, the service mode, one or
// several mail domains and, through "Advanced", every other setting. All
// of it edits one working copy (SettingsForm); OK switches the service
// when that was changed, saves what changed and publishes it; Cancel
// leaves the files and the running server as they were.
#pragma once

#include <QDialog>

#include "gui/logic/SettingsForm.h"
#include "gui/support/GuiServices.h"

class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace quorvex::gui {

class ServiceSwitch;

class SettingDlg final : public QDialog {
    Q_OBJECT
public:
    SettingDlg(const GuiServices& services, ServiceSwitch& service, QWidget* parent = nullptr);

    SettingsForm& form() { return form_; }
    // What the last OK did.
    const CommitResult& outcome() const { return outcome_; }
    void accept() override;

private:
    // Shows the working copy in every control of the window.
    void FillControls();
    void ReadControls();
    void ApplyRules();
    void FillDomainList();
    bool Refused(DomainRefusal refusal);
    // Asks before a change of the domain mode strands accounts; true to go on.
    bool ConfirmDomainModeChange();
    void OnAdvanced();
    void OnMultipleDomain(bool chosen);
    void OnAddDomain();
    void OnEditDomain();
    void OnRemoveDomain();
    void OnEditSingleDomain();

    const GuiServices& services_;
    ServiceSwitch& service_;
    SettingsForm form_;
    CommitResult outcome_;
    QButtonGroup* model_;
    QCheckBox* esmtp_;
    QCheckBox* run_as_service_;
    QCheckBox* mail_proxy_;
    QRadioButton* single_;
    QRadioButton* multiple_;
    QLineEdit* domain_name_;
    QPushButton* edit_single_;
    QListWidget* domains_;
    QPushButton* add_;
    QPushButton* edit_;
    QPushButton* remove_;
};

}  // namespace quorvex::gui
