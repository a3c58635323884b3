// A small modeless box with a progress bar (the version check, a long
// refresh of the account list). The caller drives the bar.
#pragma once

#include <QDialog>
#include <string_view>

class QProgressBar;

namespace quorvex::gui {

class ProgressDlg final : public QDialog {
    Q_OBJECT
public:
    ProgressDlg(std::string_view title, QWidget* parent = nullptr);
    void SetRange(int minimum, int maximum);
    void SetValue(int value);
    void Step();
    int value() const;

private:
    QProgressBar* bar_;
};

}  // namespace quorvex::gui
