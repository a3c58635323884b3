// First-run set-up: run at start-up when set-up was never done or a newer
// program version starts, and again on the administrator's request. It
// makes the program's folders,
// configures and registers the web-mail component, publishes the web
// directories, creates the administrator account "Admin" (with a random
// password written once to an owner-only file) and writes the welcome
// message. Failures are reported and set-up goes on.
#pragma once

#include <string>
#include <string_view>

namespace quorvex::app {

// What a progress window shows while set-up runs (the headless program
// shows none).
class SetupProgress {
public:
    virtual ~SetupProgress() = default;
    // Opens with the range; the position is `first`.
    virtual void Open(int first, int last) = 0;
    virtual void Step() = 0;
    // Shows the last position and closes.
    virtual void Close() = 0;
};

struct SetupOptions {
    // Desktop entries, autostart and the run-as-a-service choice concern a
    // user at a desktop: false for the service and for runs without the
    // window.
    bool desktop_user = false;
    SetupProgress* progress = nullptr;
};

// The administrator's password file in the program folder.
inline constexpr std::string_view kAdminPasswordFileName = "Admin.password";
inline constexpr std::size_t kAdminPasswordLength = 20;

// The program a user (or the service) starts: QuorvexServer beside the
// running file, else the one on PATH, else the running file itself.
std::string ProgramLauncherPath();

// True when [system] "setup" is 0 or the program's version is greater
// (byte-wise) than [system] "Version".
bool FirstSetupDue();

void RunFirstSetup(const SetupOptions& options = {});

}  // namespace quorvex::app
