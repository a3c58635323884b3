#include "app/ServiceNotify.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "common/UniqueFd.h"

namespace quorvex::app {

bool SendServiceNotification(const std::string& socket_name, std::string_view state) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socket_name.empty() || socket_name.size() >= sizeof(address.sun_path)) return false;
    if (socket_name[0] != '/' && socket_name[0] != '@') return false;
    std::memcpy(address.sun_path, socket_name.data(), socket_name.size());
    socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + socket_name.size());
    if (socket_name[0] == '@') {
        address.sun_path[0] = '\0';  // abstract name: no terminating NUL
    } else {
        ++length;
    }
    UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) return false;
    ssize_t sent;
    do {
        sent = ::sendto(fd.get(), state.data(), state.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&address),
                        length);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(state.size());
}

bool NotifyServiceManager(std::string_view state) {
    const char* name = std::getenv("NOTIFY_SOCKET");
    if (!name || !*name) return true;
    return SendServiceNotification(name, state);
}

}  // namespace quorvex::app
