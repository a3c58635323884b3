// A session's reports to its job slot, kept for the test to look at.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/net/SessionActivity.h"

namespace quorvex::testing {

struct RecordedActivity final : SessionActivity {
    void Progress() override { ++progress; }
    void ForwardedClient(std::string_view address) override { forwarded.emplace_back(address); }
    void Waiting(bool now) override { waits.push_back(now); }
    void Received(std::uint64_t bytes) override { received += bytes; }
    void Sent(std::uint64_t bytes) override { sent += bytes; }

    int progress = 0;
    std::uint64_t received = 0;
    std::uint64_t sent = 0;
    std::vector<bool> waits;
    std::vector<std::string> forwarded;
};

}  // namespace quorvex::testing
