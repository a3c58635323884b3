// "Export User Information": the columns and the format of the user report;
// OK writes it into the "report" folder of the program folder and opens
// that folder.
#pragma once

#include <QDialog>
#include <array>
#include <string>
#include <vector>

#include "gui/logic/SettingsSource.h"
#include "gui/logic/UserReport.h"

class QCheckBox;
class QRadioButton;

namespace quorvex::gui {

class DesktopOpener;
class Prompts;

class ReportDlg final : public QDialog {
    Q_OBJECT
public:
    // `names`: the account list's rows, in their order; `settings`: those
    // in force when the dialog opened (the mail domain, the program folder).
    ReportDlg(std::vector<std::string> names, SettingsSnapshot settings, const AccountList& accounts,
              DesktopOpener& opener, Prompts& prompts, QWidget* parent = nullptr);

    // The report options the controls give now.
    ReportOptions Options() const;

private:
    void OnSelectAll(bool checked);
    void OnOk();

    std::vector<std::string> names_;
    SettingsSnapshot settings_;
    const AccountList& accounts_;
    DesktopOpener& opener_;
    Prompts& prompts_;
    std::array<QCheckBox*, kAccountColumnCount> columns_{};
    std::array<QRadioButton*, 4> formats_{};
};

// The English page of an HTML report (three "%s": charset, time, rows).
extern const std::string_view kTextReportPage;

}  // namespace quorvex::gui
