// What the application object and its window see of each other. The
// application owns the run (settings, servers, shutdown); a front end, when
// one is given, owns the main window and the message loop. The headless
// program has none: its loop is the application's own poll loop. Nothing
// here names a toolkit, so app/ stays free of the window library.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvex {
class OutgoingQueue;
}

namespace quorvex::app {

// What a control-socket command asks of the running program.
enum class ControlAction {
    kNone,   // handled (or unknown): go on
    kStop,   // shut down
    kShow,   // a second start: bring the window up
    kSettingsReloaded,  // "-update": the new settings are in force
};

// The application, as its window uses it.
class ProgramHost {
public:
    virtual ~ProgramHost() = default;

    // Descriptors the message loop watches: the stop signals (SIGTERM,
    // SIGINT) and the control socket of the single-instance mark.
    virtual int StopSignalDescriptor() const = 0;
    virtual int ControlSocketDescriptor() const = 0;
    // Reads a pending stop signal; true (with a log line written) when the
    // program is to stop.
    virtual bool TakeStopSignal() = 0;
    // Accepts and answers one control command; says what the loop must do.
    virtual ControlAction ServeControlCommand() = 0;
    // Rereads config.ini and publishes the new settings (WM_UPDATE_PARAM).
    virtual void ReloadSettings() = 0;
    // Workers running a job now (the activity indicator).
    virtual int ActiveJobCount() const = 0;
    // The program's outgoing queue (the window's queue views and its
    // send-mail dialog).
    virtual OutgoingQueue& Queue() = 0;
};

class ProgramFrontEnd {
public:
    virtual ~ProgramFrontEnd() = default;

    // Creates and shows (or starts hidden) the main window, before the
    // servers start. False when no window can be made: the run ends.
    virtual bool CreateMainWindow(ProgramHost& host) = 0;
    // Runs the window's message loop until the window is closed for good
    // or the host asked to stop.
    virtual void RunMessageLoop() = 0;
    // Shows a message box for the administrator (never blocking a caller on
    // another thread: the box is raised on the window's own thread).
    virtual void ShowMessage(std::string_view text) = 0;
    // A message box before any window exists (a second start), waiting for
    // the user's OK.
    virtual void ShowMessageAndWait(std::string_view text) = 0;
    // Destroys the window; called once the loop has ended.
    virtual void DestroyMainWindow() = 0;
};

}  // namespace quorvex::app
