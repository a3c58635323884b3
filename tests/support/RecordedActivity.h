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

    int progress = 0;
    std::vector<bool> waits;
    std::vector<std::string> forwarded;
};

}  // namespace quorvex::testing
