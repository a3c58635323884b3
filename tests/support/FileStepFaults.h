// Watching the durable-write steps of the code under test: the steps a
// piece of work takes, in order, and the same work with one step failing.
#pragma once

#include <cerrno>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/FileSteps.h"
#include "common/Paths.h"

namespace quorvex::testing {

// (step, file name without its folder), in the order they ran.
using StepTrace = std::vector<std::pair<fs::Step, std::string>>;

template <typename Work>
StepTrace TraceSteps(Work&& work) {
    StepTrace trace;
    fs::ScopedStepWatcher watch([&](fs::Step step, std::string_view path) {
        trace.emplace_back(step, std::string(BaseName(path)));
        return 0;
    });
    work();
    return trace;
}

// The place of the first `step` on a file whose name starts with `name`;
// the trace's length when there is none.
inline std::size_t StepAt(const StepTrace& trace, fs::Step step, std::string_view name) {
    std::size_t i = 0;
    while (i < trace.size() && !(trace[i].first == step && trace[i].second.starts_with(name))) ++i;
    return i;
}

// Runs `work` with its n-th step (counted from 0) failing with EIO.
template <typename Work>
auto WithStepFailing(std::size_t n, Work&& work) {
    std::size_t seen = 0;
    fs::ScopedStepWatcher watch([&](fs::Step, std::string_view) { return seen++ == n ? EIO : 0; });
    return work();
}

}  // namespace quorvex::testing
