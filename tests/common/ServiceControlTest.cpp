// Starting and stopping services through systemctl: the exact commands
// issued, the wait while a unit is in transition, and the outcomes, with a
// scripted runner in place of systemctl.
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <string>
#include <vector>

#include "common/ServiceControl.h"

namespace quorvex {
namespace {

using namespace std::chrono_literals;
using Argv = std::vector<std::string>;

// Records every command and answers "show" with a load state and each
// "is-active" with the next state of a script (the last one repeats).
class ScriptedSystemctl {
public:
    ScriptedSystemctl(std::string load_state, std::deque<std::string> states, int show_status = 0)
        : load_state_(std::move(load_state)), states_(std::move(states)), show_status_(show_status) {}

    CommandRunner Runner() {
        return [this](const Argv& argv) {
            calls.push_back(argv);
            CommandResult result;
            result.exit_status = 0;
            if (argv.size() > 1 && argv[1] == "show") {
                result.exit_status = show_status_;
                result.output = load_state_ + "\n";
            } else if (argv.size() > 1 && argv[1] == "is-active") {
                const std::string state = states_.empty() ? "" : states_.front();
                if (states_.size() > 1) states_.pop_front();
                result.output = state.empty() ? "" : state + "\n";
                result.exit_status = state == "active" ? 0 : 3;
            }
            return result;
        };
    }

    std::vector<Argv> calls;

private:
    std::string load_state_;
    std::deque<std::string> states_;
    int show_status_;
};

const Argv kShow = {"systemctl", "show", "--property=LoadState", "--value", "mail.service"};
const Argv kIsActive = {"systemctl", "is-active", "mail.service"};

TEST(ServiceControl, StartIssuesTheRequestAndWaitsWhileActivating) {
    ScriptedSystemctl systemctl("loaded", {"activating", "activating", "active"});
    EXPECT_TRUE(StartServiceAndWait("mail.service", systemctl.Runner()));
    const std::vector<Argv> want = {
        kShow, {"systemctl", "start", "--no-block", "mail.service"}, kIsActive, kIsActive, kIsActive};
    EXPECT_EQ(systemctl.calls, want);
}

TEST(ServiceControl, StopIssuesTheRequestAndWaitsWhileDeactivating) {
    ScriptedSystemctl systemctl("loaded", {"deactivating", "inactive"});
    EXPECT_TRUE(StopServiceAndWait("mail.service", systemctl.Runner()));
    const std::vector<Argv> want = {kShow, {"systemctl", "stop", "--no-block", "mail.service"}, kIsActive, kIsActive};
    EXPECT_EQ(systemctl.calls, want);
}

TEST(ServiceControl, OnlyTheStateReachedCounts) {
    struct Case {
        const char* what;
        bool start;
        std::deque<std::string> states;
        bool want;
        std::size_t state_queries;
    } cases[] = {
        {"already running", true, {"active"}, true, 1},
        {"start failed", true, {"activating", "failed"}, false, 2},
        {"start left it inactive", true, {"inactive"}, false, 1},
        {"reload on the way", true, {"reloading", "active"}, true, 2},
        {"already stopped", false, {"inactive"}, true, 1},
        {"failed counts as stopped", false, {"deactivating", "failed"}, true, 2},
        {"stop left it running", false, {"active"}, false, 1},
        {"no answer at all", true, {""}, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedSystemctl systemctl("loaded", c.states);
        const bool got = c.start ? StartServiceAndWait("mail.service", systemctl.Runner())
                                 : StopServiceAndWait("mail.service", systemctl.Runner());
        EXPECT_EQ(got, c.want);
        ASSERT_EQ(systemctl.calls.size(), 2 + c.state_queries);
        EXPECT_EQ(systemctl.calls[1][1], c.start ? "start" : "stop");
    }
}

TEST(ServiceControl, UnknownServiceGivesFalseAtOnce) {
    struct Case {
        const char* load_state;
        int show_status;
    } cases[] = {{"not-found", 0}, {"", 0}, {"loaded", 1}, {"", -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.load_state);
        ScriptedSystemctl systemctl(c.load_state, {"active"}, c.show_status);
        EXPECT_FALSE(StartServiceAndWait("mail.service", systemctl.Runner()));
        EXPECT_FALSE(StopServiceAndWait("mail.service", systemctl.Runner()));
        // Only the two lookups: no request, no wait.
        EXPECT_EQ(systemctl.calls, (std::vector<Argv>{kShow, kShow}));
    }
}

TEST(ServiceControl, NamesThatAreNoUnitNamesRunNothing) {
    for (const char* name : {"", "-H", "--now", "a/b", "mail service", "x\ny", "x\r"}) {
        SCOPED_TRACE(name);
        ScriptedSystemctl systemctl("loaded", {"active"});
        EXPECT_FALSE(StartServiceAndWait(name, systemctl.Runner()));
        EXPECT_FALSE(StopServiceAndWait(name, systemctl.Runner()));
        EXPECT_TRUE(systemctl.calls.empty());
    }
}

TEST(ServiceControl, AUnitStuckInTransitionEndsTheWaitAtTheLimit) {
    ScriptedSystemctl systemctl("loaded", {"activating"});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(StartServiceAndWait("mail.service", systemctl.Runner(), 100ms));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 100ms);
    EXPECT_LT(took, 30s);
    EXPECT_GE(systemctl.calls.size(), 3u);
}

TEST(ServiceControl, RealSystemctlRefusesAServiceThatDoesNotExist) {
    // Through the default runner: whether or not systemd runs here, a unit
    // nobody installed never counts as started (or systemctl is missing,
    // which gives the same answer).
    EXPECT_FALSE(StartServiceAndWait("quorvex-test-no-such-unit-4711.service"));
}

}  // namespace
}  // namespace quorvex
