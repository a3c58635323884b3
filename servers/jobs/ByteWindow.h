// The bytes a session moved in the last seconds, as the job table judges
// it under load: counted per second of the load clock in a ring of
// counters, each stamped with its second, so that a second that has left
// the window is never counted. Sessions add from their own threads and the
// table reads, without a lock.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "servers/jobs/SlotLoad.h"

namespace quorvex {

class ByteWindow {
public:
    void Add(LoadClock::time_point now, std::uint64_t bytes);
    // The bytes of the current second and of the kTransferWindow whole
    // seconds before it.
    std::uint64_t Sum(LoadClock::time_point now) const;
    // Forgets everything; while nobody adds (a slot being filled).
    void Clear();

private:
    static constexpr std::size_t kSeconds = static_cast<std::size_t>(kTransferWindow.count()) + 1;
    // Each: the second's number in the high 32 bits, its bytes (at most
    // 4 GiB a second) in the low ones.
    std::array<std::atomic<std::uint64_t>, kSeconds> seconds_{};
};

}  // namespace quorvex
