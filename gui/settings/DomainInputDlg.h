// "Domain Name Input": one mail domain with its limits, for the settings
// window's Add and Edit. It only collects the four values; trimming,
// lower-casing and the duplicate test are the caller's.
#pragma once

#include <QDialog>

#include "gui/logic/SettingsForm.h"

class QLineEdit;
class QSpinBox;

namespace quorvex::gui {

class Prompts;

class DomainInputDlg final : public QDialog {
    Q_OBJECT
public:
    // `input` prefills the fields (a new domain: empty name, -1, -1 and the
    // default mailbox size).
    DomainInputDlg(const DomainInput& input, Prompts& prompts, QWidget* parent = nullptr);

    // The values as they stand in the fields.
    DomainInput value() const;
    // Refuses a number outside its range, saying so.
    void accept() override;

private:
    Prompts& prompts_;
    QLineEdit* name_;
    QSpinBox* mailboxes_;
    QSpinBox* space_;
    QSpinBox* default_size_;
};

}  // namespace quorvex::gui
