// The program's window: the Qt front end of the application object. It
// makes the QApplication, the injected services and the main window,
// watches the stop signals and the control socket inside Qt's event loop,
// and shows the program's messages in message boxes.
#pragma once

#include <QSocketNotifier>
#include <memory>

#include "app/ProgramFrontEnd.h"
#include "gui/logic/SettingsSource.h"
#include "gui/support/DesktopOpener.h"
#include "gui/support/DialogTable.h"
#include "gui/support/GuiServices.h"
#include "gui/support/Prompts.h"

class QApplication;

namespace quorvex::gui {

class MainFrame;

class QtFrontEnd final : public app::ProgramFrontEnd {
public:
    // The arguments must outlive the front end (Qt keeps them).
    QtFrontEnd(int& argc, char** argv);
    ~QtFrontEnd() override;

    bool CreateMainWindow(app::ProgramHost& host) override;
    void RunMessageLoop() override;
    void ShowMessage(std::string_view text) override;
    void ShowMessageAndWait(std::string_view text) override;
    void DestroyMainWindow() override;

private:
    int& argc_;
    char** argv_;
    std::unique_ptr<QApplication> application_;
    QtPrompts prompts_;
    QtFileChooser files_;
    QtDesktopOpener opener_;
    PublishedSettings settings_;
    DialogTable dialogs_;
    GuiServices services_;
    std::unique_ptr<MainFrame> frame_;
    std::unique_ptr<QSocketNotifier> signal_watch_;
    std::unique_ptr<QSocketNotifier> control_watch_;
};

}  // namespace quorvex::gui
