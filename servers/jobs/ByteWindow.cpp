// Per-second byte counts of a session.
#include "servers/jobs/ByteWindow.h"

#include <algorithm>
#include <chrono>

namespace quorvex {
namespace {

constexpr std::uint64_t kCountMask = 0xFFFFFFFFu;

std::uint32_t SecondOf(LoadClock::time_point t) {
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count());
}

}  // namespace

void ByteWindow::Add(LoadClock::time_point now, std::uint64_t bytes) {
    if (bytes == 0) return;
    const std::uint32_t second = SecondOf(now);
    std::atomic<std::uint64_t>& cell = seconds_[second % kSeconds];
    std::uint64_t old = cell.load(std::memory_order_relaxed);
    for (;;) {
        const std::uint64_t count = (old >> 32) == second ? old & kCountMask : 0;
        const std::uint64_t sum = std::min(count + std::min(bytes, kCountMask), kCountMask);
        if (cell.compare_exchange_weak(old, std::uint64_t{second} << 32 | sum, std::memory_order_relaxed)) return;
    }
}

std::uint64_t ByteWindow::Sum(LoadClock::time_point now) const {
    const std::uint32_t second = SecondOf(now);
    std::uint64_t total = 0;
    for (const std::atomic<std::uint64_t>& cell : seconds_) {
        const std::uint64_t value = cell.load(std::memory_order_relaxed);
        // Unsigned distance: a stamp from a later second counts as far away.
        if (static_cast<std::uint32_t>(second - static_cast<std::uint32_t>(value >> 32)) < kSeconds) {
            total += value & kCountMask;
        }
    }
    return total;
}

void ByteWindow::Clear() {
    for (std::atomic<std::uint64_t>& cell : seconds_) cell.store(0, std::memory_order_relaxed);
}

}  // namespace quorvex
