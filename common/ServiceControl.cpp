// systemctl start/stop without blocking, then polling "is-active" while the
// unit is in transition. Only the state reached counts, not the outcome of
// the start or stop request itself (a service already running "starts").
#include "common/ServiceControl.h"

#include <thread>

namespace quorvex {

namespace {

enum class Goal { kRunning, kStopped };

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text;
}

// Unit names never start with '-' (it would be read as an option) and
// never hold '/' or blanks.
bool IsUnitName(std::string_view name) {
    return !name.empty() && name.front() != '-' && name.find_first_of("/ \t\r\n") == std::string_view::npos;
}

bool ServiceKnown(const std::string& name, const CommandRunner& runner) {
    const CommandResult result = runner({"systemctl", "show", "--property=LoadState", "--value", name});
    const std::string state = Trimmed(result.output);
    return result.exit_status == 0 && !state.empty() && state != "not-found";
}

bool ChangeAndWait(std::string_view service, Goal goal, const CommandRunner& runner,
                   std::chrono::milliseconds wait_limit) {
    if (!IsUnitName(service)) return false;
    const std::string name(service);
    if (!ServiceKnown(name, runner)) return false;
    runner({"systemctl", goal == Goal::kRunning ? "start" : "stop", "--no-block", name});

    const std::string_view pending = goal == Goal::kRunning ? "activating" : "deactivating";
    const auto deadline = std::chrono::steady_clock::now() + wait_limit;
    std::string state;
    for (;;) {
        state = Trimmed(runner({"systemctl", "is-active", name}).output);
        if (state.empty() || (state != pending && state != "reloading")) break;  // no answer, or settled
        if (std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(kServicePollInterval);
    }
    if (goal == Goal::kRunning) return state == "active";
    return state == "inactive" || state == "failed";
}

}  // namespace

bool StartServiceAndWait(std::string_view service, const CommandRunner& runner, std::chrono::milliseconds wait_limit) {
    return ChangeAndWait(service, Goal::kRunning, runner, wait_limit);
}

bool StopServiceAndWait(std::string_view service, const CommandRunner& runner, std::chrono::milliseconds wait_limit) {
    return ChangeAndWait(service, Goal::kStopped, runner, wait_limit);
}

}  // namespace quorvex
