// Telling the service manager how the run goes ("READY=1", "STOPPING=1"):
// one datagram to the socket named by NOTIFY_SOCKET, a path or, with a
// leading '@', an abstract name. Without NOTIFY_SOCKET nothing is sent.
#pragma once

#include <string>
#include <string_view>

namespace quorvex::app {

// Sends `state` to the socket `socket_name`. False when it could not be sent.
bool SendServiceNotification(const std::string& socket_name, std::string_view state);

// The same to $NOTIFY_SOCKET; true (nothing to do) when it is not set.
bool NotifyServiceManager(std::string_view state);

}  // namespace quorvex::app
