// Failed-login lines and the per-address lock.
#include "servers/logins/LoginGuard.h"

#include "servers/logs/ServerLogs.h"

namespace quorvex {

std::string_view LoginOutcomeName(LoginOutcome outcome) {
    switch (outcome) {
        case LoginOutcome::kAccepted: return "accepted";
        case LoginOutcome::kUnknownAccount: return "unknown-account";
        case LoginOutcome::kWrongPassword: return "wrong-password";
        case LoginOutcome::kDisabled: return "disabled";
        case LoginOutcome::kNotPermitted: return "not-permitted";
    }
    return "unknown";
}

std::string FailedLoginLine(std::string_view service, const ClientSource& client, std::string_view account,
                            LoginOutcome outcome) {
    std::string line = "login failed: service=";
    AppendVisible(line, service);
    AppendClientFields(line, client);
    line += " account=";
    AppendVisible(line, account);
    line += " outcome=";
    line += LoginOutcomeName(outcome);
    return line;
}

std::string LoginLockLine(const ClientSource& client, int failures, std::chrono::seconds window,
                          std::chrono::seconds lock) {
    std::string line = "login locked:";
    AppendClientFields(line, client);
    line += " failures=" + std::to_string(failures) + " within=" + std::to_string(window.count()) +
            "s refused for " + std::to_string(lock.count()) + "s";
    return line;
}

LoginGuard::LoginGuard(LoginGuardOptions options)
    : options_(std::move(options)),
      failures_({.limit = options_.max_failures,
                 .window = options_.window,
                 .hold = options_.lock,
                 .capacity = options_.max_addresses,
                 .now = options_.now,
                 .secret = std::nullopt}) {}

void LoginGuard::Log(std::string_view line) const {
    if (options_.log) {
        options_.log(line);
    } else {
        WriteSystemLogAndStderr(line);
    }
}

bool LoginGuard::IsLocked(const ClientSource& client) { return failures_.Closed(client); }

void LoginGuard::RecordFailure(std::string_view service, const ClientSource& client, std::string_view account,
                               LoginOutcome outcome) {
    Log(FailedLoginLine(service, client, account, outcome));
    // A failure while locked counts for nothing: the lock runs its time.
    const ClientCounter::Count count = failures_.Add(client);
    if (count.result != ClientCounter::Result::kReachedLimit) return;
    std::string line = LoginLockLine(client, options_.max_failures, options_.window, options_.lock);
    if (count.by_network) line += NetworkCountNote(client.address, failures_.options().capacity);
    Log(line);
}

void LoginGuard::Clear() { failures_.Clear(); }

LoginGuard& ProcessLoginGuard() {
    static LoginGuard guard([] {
        LoginGuardOptions options;
        options.max_addresses = ProcessClientTableCapacity();
        return options;
    }());
    return guard;
}

}  // namespace quorvex
