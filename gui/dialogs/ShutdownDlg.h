// What closing the main window does: hide the window or shut the server
// down. The choice is kept in config.ini [system] CloseMode.
#pragma once

#include <QDialog>
#include <string>

class QComboBox;

namespace quorvex::gui {

class Prompts;

class ShutdownDlg final : public QDialog {
    Q_OBJECT
public:
    ShutdownDlg(std::string config_ini, Prompts& prompts, QWidget* parent = nullptr);
    // 0 hide the window, 1 shut down.
    int choice() const;

private:
    void OnOk();

    std::string config_ini_;
    Prompts& prompts_;
    QComboBox* choices_;
};

}  // namespace quorvex::gui
