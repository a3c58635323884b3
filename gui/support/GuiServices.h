// Everything a window reaches beyond itself, handed to it at construction:
// the injected side effects (prompts, choosers, the desktop opener, the
// dialog table), the settings in force, the account list and the few
// server facts the window shows. The program passes the real ones; tests
// pass fakes and in-memory answers.
#pragma once

#include <functional>

#include "app/WebSetup.h"
#include "common/CommandRunner.h"

namespace quorvex {
class AccountList;
class OutgoingQueue;
}

namespace quorvex::gui {

class Prompts;
class FileChooser;
class DesktopOpener;
class DialogTable;
class SettingsSource;

struct GuiServices {
    Prompts* prompts = nullptr;
    FileChooser* files = nullptr;
    DesktopOpener* opener = nullptr;
    DialogTable* dialogs = nullptr;
    // The settings in force: each action takes its snapshot here when it
    // starts; the settings window's OK and "-update" reload through it.
    SettingsSource* settings = nullptr;
    // The server's account list (the rows, the group test, the deleted
    // accounts given back).
    AccountList* accounts = nullptr;
    // Runs outside programs ("Restart IIS" reloads the web server).
    CommandRunner run_command;
    // The program's outgoing queue (send-mail dialog, transfer status).
    OutgoingQueue* queue = nullptr;
    // Outgoing mail still queued (asked before a shut-down).
    std::function<bool()> has_queued_mail;
    // Jobs and deliveries running now (the activity indicator).
    std::function<int()> active_jobs;
    std::function<int()> active_deliveries;
    // The ports the listeners were started on (0: none, a window without
    // servers); a changed port waits for the next start.
    app::ComponentPorts ports_in_use;
};

}  // namespace quorvex::gui
