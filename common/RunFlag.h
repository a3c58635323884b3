// ServerRunFlag: nonzero while the servers run. The application sets it at
// start-up and clears it once at shutdown; every blocking wait in the
// system wakes at least once a second to test it, so a shutdown ends every
// blocked session within about a second.
#pragma once

#include <atomic>

namespace quorvex {

inline std::atomic<int> ServerRunFlag{0};

inline bool ServersRunning() { return ServerRunFlag.load(std::memory_order_relaxed) != 0; }

}  // namespace quorvex
