// Stopping a running instance and removing what the program installed:
// "-install" and "-uninstsvr" stop a running instance and remove the
// service; "-uninstall" also removes the web component's registration,
// the autostart entry, the desktop shortcut and the web directories, and
// marks the set-up as not done. Folders, mail and accounts stay.
#pragma once

#include <chrono>
#include <string>

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

// Everything of "-uninstall". Returns 1.
int UninstallProgram(const ServiceOptions& service);

}  // namespace quorvex::app
