// Stopping a running instance and removing what the program installed:
// "-install" and "-uninstsvr" stop a running instance and remove the
// service; "-uninstall" also removes the web component's registration,
// the autostart entry, the desktop shortcut and the web directories, and
// marks the set-up as not done. Folders, mail and accounts stay.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "app/NtService.h"

namespace quorvex::app {

// How long a running instance is given to end after it was asked to stop.
inline constexpr std::chrono::seconds kInstanceStopLimit{10};

// Asks a running instance of the folder to stop and waits (at most
// kInstanceStopLimit) until it has. True when none runs afterwards.
bool AskRunningInstanceToStop(const std::string& program_folder);

// Stops a running instance, uninstalls the service and writes [system]
// "RunAsService" = "0". Returns 1.
int StopRunningInstance(const ServiceOptions& service);

// What "-uninstall" did: one phrase for each thing it took away ("removed
// the service unit /etc/systemd/system/QuorvexServer.service"), and a
// sentence for each it could not, with the reason.
struct UninstallReport {
    std::vector<std::string> done;
    std::vector<std::string> failed;
};

// Everything of "-uninstall".
UninstallReport UninstallProgram(const ServiceOptions& service);

// "Uninstalled from <folder>: <done>; <done>. Mail and accounts stay."
// ("nothing was removed" when nothing was done).
std::string UninstallLine(const std::string& folder, const UninstallReport& report);

}  // namespace quorvex::app
