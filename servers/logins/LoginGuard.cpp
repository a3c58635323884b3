// Failed-login lines and the per-address lock.
#include "servers/logins/LoginGuard.h"

#include <algorithm>
#include <cstdio>

#include "servers/address/AddressRules.h"
#include "servers/logs/ServerLogs.h"

namespace quorvex {

namespace {

void AppendVisible(std::string& out, std::string_view text) {
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u > 0x20 && u < 0x7f && c != '\\') {
            out.push_back(c);
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", u);
            out.append(escaped);
        }
    }
}

}  // namespace

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

std::string FailedLoginLine(std::string_view service, std::string_view address, std::string_view account,
                            LoginOutcome outcome) {
    std::string line = "login failed: service=";
    AppendVisible(line, service);
    line += " address=";
    AppendVisible(line, address);
    line += " account=";
    AppendVisible(line, account);
    line += " outcome=";
    line += LoginOutcomeName(outcome);
    return line;
}

std::string LoginLockLine(std::string_view address, int failures, std::chrono::seconds window,
                          std::chrono::seconds lock) {
    std::string line = "login locked: address=";
    AppendVisible(line, address);
    line += " failures=" + std::to_string(failures) + " within=" + std::to_string(window.count()) +
            "s refused for " + std::to_string(lock.count()) + "s";
    return line;
}

LoginGuard::LoginGuard(LoginGuardOptions options) : options_(std::move(options)) {}

LoginGuard::Clock::time_point LoginGuard::Now() const { return options_.now ? options_.now() : Clock::now(); }

bool LoginGuard::Exempt(std::string_view address) const {
    return options_.exempt ? options_.exempt(address) : IsWebMailAddress(address) != 0;
}

void LoginGuard::Log(std::string_view line) const {
    if (options_.log) {
        options_.log(line);
    } else {
        WriteSystemLogAndStderr(line);
    }
}

bool LoginGuard::IsLocked(std::string_view address) {
    if (Exempt(address)) return false;
    const Clock::time_point now = Now();
    std::lock_guard lock(mutex_);
    const auto it = entries_.find(std::string(address));
    return it != entries_.end() && now < it->second.locked_until;
}

void LoginGuard::RecordFailure(std::string_view service, std::string_view address, std::string_view account,
                               LoginOutcome outcome) {
    Log(FailedLoginLine(service, address, account, outcome));
    if (Exempt(address)) return;
    const Clock::time_point now = Now();
    bool locked_now = false;
    {
        std::lock_guard lock(mutex_);
        Entry& entry = entries_[std::string(address)];
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
    if (locked_now) Log(LoginLockLine(address, options_.max_failures, options_.window, options_.lock));
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
