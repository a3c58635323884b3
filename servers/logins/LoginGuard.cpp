// Failed-login lines and the per-address lock.
#include "servers/logins/LoginGuard.h"

#include <algorithm>

#include "servers/address/AddressRules.h"
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

LoginGuard::LoginGuard(LoginGuardOptions options) : options_(std::move(options)) {}

LoginGuard::Clock::time_point LoginGuard::Now() const { return options_.now ? options_.now() : Clock::now(); }

ClientSource LoginGuard::Source(std::string_view connection, std::string_view forwarded) const {
    const bool web_mail = options_.web_mail ? options_.web_mail(connection) : IsWebMailAddress(connection) != 0;
    return ResolveClientSource(connection, forwarded, web_mail);
}

void LoginGuard::Log(std::string_view line) const {
    if (options_.log) {
        options_.log(line);
    } else {
        WriteSystemLogAndStderr(line);
    }
}

bool LoginGuard::IsLocked(const ClientSource& client) {
    const Clock::time_point now = Now();
    std::lock_guard lock(mutex_);
    const auto it = entries_.find(client.address);
    return it != entries_.end() && now < it->second.locked_until;
}

void LoginGuard::RecordFailure(std::string_view service, const ClientSource& client, std::string_view account,
                               LoginOutcome outcome) {
    Log(FailedLoginLine(service, client, account, outcome));
    const Clock::time_point now = Now();
    bool locked_now = false;
    {
        std::lock_guard lock(mutex_);
        Entry& entry = entries_[client.address];
        if (now < entry.locked_until) return;  // already locked: the lock runs its time
        entry.failures.push_back(now);
        while (!entry.failures.empty() && entry.failures.front() + options_.window <= now) entry.failures.pop_front();
        if (static_cast<int>(entry.failures.size()) >= options_.max_failures) {
            entry.failures.clear();
            entry.locked_until = now + options_.lock;
            locked_now = true;
        }
        if (entries_.size() > options_.max_addresses) Prune(now);
    }
    if (locked_now) Log(LoginLockLine(client, options_.max_failures, options_.window, options_.lock));
}

void LoginGuard::Prune(Clock::time_point now) {
    std::erase_if(entries_, [&](const auto& item) {
        const Entry& entry = item.second;
        return now >= entry.locked_until &&
               (entry.failures.empty() || entry.failures.back() + options_.window <= now);
    });
    // Still too many: forget unlocked addresses, those with the oldest last failure first.
    while (entries_.size() > options_.max_addresses) {
        auto oldest = entries_.end();
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (now < it->second.locked_until) continue;
            if (oldest == entries_.end() || it->second.failures.back() < oldest->second.failures.back()) oldest = it;
        }
        if (oldest == entries_.end()) break;  // every one is locked: keep them
        entries_.erase(oldest);
    }
}

void LoginGuard::Clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
}

LoginGuard& ProcessLoginGuard() {
    static LoginGuard guard;
    return guard;
}

}  // namespace quorvex
