// Starting and stopping a systemd service and waiting until it has left
// the starting or stopping state. systemctl is reached through a
// CommandRunner, so tests can record the commands and script the answers.
#pragma once

#include <chrono>
#include <string_view>

#include "common/CommandRunner.h"

namespace quorvex {

// How long a service may stay activating or deactivating before we give
// up waiting (systemd's own default start and stop time-out).
inline constexpr std::chrono::milliseconds kServiceWaitLimit{90'000};
// Pause between two state queries.
inline constexpr std::chrono::milliseconds kServicePollInterval{10};

// True when the service ends up running. False at once for a name that is
// not a unit name or a service systemd does not know.
bool StartServiceAndWait(std::string_view service, const CommandRunner& runner = DefaultCommandRunner(),
                         std::chrono::milliseconds wait_limit = kServiceWaitLimit);

// True when the service ends up stopped (inactive or failed).
bool StopServiceAndWait(std::string_view service, const CommandRunner& runner = DefaultCommandRunner(),
                        std::chrono::milliseconds wait_limit = kServiceWaitLimit);

}  // namespace quorvex
