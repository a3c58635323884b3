// One more export for the component's test build: the tests of its time
// limits shorten the line deadline, so a server that trickles its replies
// is judged within seconds instead of a minute.
#include <chrono>
#include <cstdint>

#include "webcom/net/ServerConnection.h"

extern "C" __attribute__((visibility("default"))) void QvxSetLineDeadlineForTesting(std::int32_t milliseconds) {
    quorvex::webcom::SetLineDeadlineForTesting(std::chrono::milliseconds(milliseconds));
}
