// The main window's decisions, free of widgets: what a tray click does,
// what closing the window does, which domain the selector shows after a
// refill, and where the user manual is.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex::gui {

// The window's lock and the password gate. The window is locked while it
// is hidden by the lock command or by a minimize with "AutoLock"; showing
// a locked window asks for the administrator password first.
class TrayStateMachine {
public:
    explicit TrayStateMachine(bool auto_lock) : auto_lock_(auto_lock), locked_(auto_lock) {}

    enum class Click {
        kIgnore,        // the password gate is already open
        kHide,          // the window is visible: minimize and hide it
        kShow,          // bring the window back
        kAskPassword,   // locked: run the gate first
    };
    // A left click on the tray icon (or a second start asking to show).
    Click OnClick(bool window_visible) const;

    void SetAutoLock(bool auto_lock) { auto_lock_ = auto_lock; }
    void Lock() { locked_ = true; }
    // The window was minimized by the user.
    void OnMinimized() {
        if (auto_lock_) locked_ = true;
    }
    void OnGateOpened() { gate_open_ = true; }
    // The gate closed; a correct password unlocks.
    void OnGateClosed(bool accepted) {
        gate_open_ = false;
        if (accepted) locked_ = false;
    }

    bool locked() const { return locked_; }
    bool gate_open() const { return gate_open_; }

private:
    bool auto_lock_;
    bool locked_;
    bool gate_open_ = false;
};

// What closing the window leads to.
enum class CloseDecision {
    kStay,  // nothing happens (cancelled, or the user kept the server running)
    kHide,  // the window goes to the tray (or the task bar)
    kQuit,  // the server shuts down
};
// `accepted` and `choice`: how the close dialog ended (choice 1 = shut
// down). `mail_queued` is asked only for a shut-down, and `confirm` only
// when mail is queued.
CloseDecision DecideClose(bool accepted, int choice, const std::function<bool()>& mail_queued,
                          const std::function<bool()>& confirm);

// The domain selector: "All Domains" and then each domain in table order.
std::vector<std::string> DomainSelectorItems(const std::string& all_domains_text,
                                             const std::vector<std::string>& domains);
// The index to select after a refill: the entry with the old selected text
// (ignoring case), else the old position when it still exists, else 0.
int ReselectDomain(const std::vector<std::string>& items, const std::string& old_text, int old_index);

// A log notice that copies a failed login into the system log: the SMTP or
// POP3 log line "SMTP <client> login failed: service=..." of a login the
// login guard has already written there (and so into the log pane).
bool RepeatsFailedLogin(std::string_view notice);

// The first user manual that exists: Language/<language>.chm, .doc, .htm,
// else Language/English.chm; empty when there is none.
std::string FindUserManual(const std::string& program_folder, const std::string& language,
                           const std::function<bool(const std::string&)>& exists);

}  // namespace quorvex::gui
