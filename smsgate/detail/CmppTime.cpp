// Reads the host's local time for the login timestamp and the validity
// period; localtime_r keeps the library free of shared static buffers.
#include "smsgate/detail/CmppTime.h"

#include <ctime>

namespace quorvex::smsgate {

LocalDateTime LocalNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}

}  // namespace quorvex::smsgate
