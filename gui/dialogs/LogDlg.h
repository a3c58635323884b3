// The log dialog: open today's SMTP, POP3, system or Internet delivery log
// in the desktop's program for text files (or say that none was written
// yet today), open the log folder (a double click on the folder picture),
// or clear the program's logs.
#pragma once

#include <QDialog>
#include <ctime>
#include <functional>
#include <string>

#include "gui/logic/LogFiles.h"

class QLabel;

namespace quorvex::gui {

class DesktopOpener;
class Prompts;

class LogDlg final : public QDialog {
    Q_OBJECT
public:
    // `log_folder`: [Log] FilePath; `now` gives the date of "today".
    LogDlg(std::string log_folder, DesktopOpener& opener, Prompts& prompts, QWidget* parent = nullptr,
           std::function<std::time_t()> now = [] { return std::time(nullptr); });

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    std::string log_folder_;
    DesktopOpener& opener_;
    Prompts& prompts_;
    std::function<std::time_t()> now_;
    QLabel* picture_;
};

// Opens today's file of the log `kind` in `log_folder` (the date of `now`);
// a file not written yet today is said to be so, naming it.
void OpenTodaysLog(LogKind kind, const std::string& log_folder, std::time_t now, DesktopOpener& opener,
                   Prompts& prompts, QWidget* parent);

// "Clear log file": asks, then removes the program's own log files, tells
// how many went (or why none could) and writes that to the system log.
// True when something was asked and answered Yes.
bool ClearLogsWithQuestion(const std::string& log_folder, Prompts& prompts, QWidget* parent);

}  // namespace quorvex::gui
