// The error log's alert: one modeless window, shown again (and brought to
// the front) for every error the program logs, asking the user to send the
// log to support. OK hides it; the next error shows the same window.
#pragma once

#include <QDialog>

namespace quorvex::gui {

class ErrorAlertDlg final : public QDialog {
    Q_OBJECT
public:
    explicit ErrorAlertDlg(QWidget* parent = nullptr);
    // Shows the window with the notice's caption.
    void Raise(const QString& caption);
};

}  // namespace quorvex::gui
