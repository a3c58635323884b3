// Every modal dialog the main window and the account list open, by kind,
// in one table. RegisterDialogs (gui/DialogRegistry.cpp) puts the real
// dialog of every kind into it; tests put fakes into the table to see what
// was opened and with what.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

class QWidget;

namespace quorvex::gui {

enum class DialogKind {
    // This window's own small dialogs.
    kLogin,          // password gate of a locked window
    kAdminPassword,  // change the administrator password
    kShutdown,       // what closing the window does
    kLog,            // open or clear the log files
    kAbout,
    // The account tools.
    kAccountSheet,    // account = the account to edit; empty: a new account
    kGroup,           // account = the group to edit; empty: a new group
    kWelcomeMessage,  // compose the welcome message
    kSendMail,        // recipients = "name;name;" or "All"
    kTransferStatus,  // queued and undelivered outgoing mail
    kDeletedUsers,    // deleted accounts: restore or remove
    kExportUsers,     // export the account list
    // Settings and set-up.
    kSettings,          // the configuration dialog
    kFirstRunSetup,     // set the program up again ("Reinstall")
    kWebDirectorySetup, // publish the web-mail pages
};

struct DialogRequest {
    DialogKind kind = DialogKind::kAbout;
    QWidget* parent = nullptr;
    std::string account;     // kAccountSheet, kGroup
    std::string recipients;  // kSendMail
    std::vector<std::string> accounts = {};  // kExportUsers: the rows shown, in their order
};

struct DialogResult {
    bool accepted = false;  // OK (or the dialog's success)
    int value = 0;          // kShutdown: 0 hide the window, 1 shut down
};

using DialogRunner = std::function<DialogResult(const DialogRequest&)>;

class DialogTable {
public:
    void Register(DialogKind kind, DialogRunner runner) { runners_[kind] = std::move(runner); }
    void Unregister(DialogKind kind) { runners_.erase(kind); }
    bool Available(DialogKind kind) const { return runners_.count(kind) != 0; }

    // Runs the dialog and returns how it ended; a kind without an entry
    // (a test's table) opens nothing and ends as cancelled.
    DialogResult Run(const DialogRequest& request);

private:
    std::map<DialogKind, DialogRunner> runners_;
};

}  // namespace quorvex::gui
