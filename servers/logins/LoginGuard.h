// Failed logins of every service (SMTP AUTH, POP3 PASS, the account server
// and its administrator sessions): one log line per failure, and a lock on
// an address that keeps guessing. One process-wide guard serves all
// services, so guesses spread over several protocols count together.
//
// After kMaxFailedLogins failures from one client within the window,
// every login from that client is refused for the lock time, with the
// service's usual failure reply and without a password check; the lock is
// logged once. A web-mail front end logs in for all its users: a login it
// forwards a user's address for counts against that address, one without
// against the front end's own (ClientSource.h). An IPv6 client is counted
// by its /64 network, and the memory the guard takes stays bounded however
// many addresses guess: beyond the addresses it follows, newcomers are
// counted with their networks, so a lock never reaches a client of
// another network that did not fail (ClientCounter.h). The guard never
// sees a password.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "servers/logins/ClientCounter.h"
#include "servers/logins/ClientSource.h"

namespace quorvex {

enum class LoginOutcome {
    kAccepted,
    kUnknownAccount,  // no such account (or a name that cannot be one)
    kWrongPassword,
    kDisabled,        // the right password for a disabled account
    kNotPermitted,    // the account may not log in here (a group, no administrator rights)
};

// "unknown-account", "wrong-password", "disabled", "not-permitted" ("accepted").
std::string_view LoginOutcomeName(LoginOutcome outcome);

// Service names of the log line.
inline constexpr std::string_view kLoginServiceSmtp = "smtp";
inline constexpr std::string_view kLoginServicePop3 = "pop3";
inline constexpr std::string_view kLoginServiceAccount = "account-server";

inline constexpr int kMaxFailedLogins = 10;
inline constexpr std::chrono::seconds kFailedLoginWindow{300};
inline constexpr std::chrono::seconds kLoginLockTime{300};

// "login failed: service=<service> address=<address> [via=<front end>]
// account=<account> outcome=<outcome>". Bytes of the account outside
// printable ASCII (the blank included) are written as \xNN, so the line
// stays one line with blank-free fields whatever a client sent.
std::string FailedLoginLine(std::string_view service, const ClientSource& client, std::string_view account,
                            LoginOutcome outcome);
// "login locked: address=<address> [via=<front end>] failures=<n>
// within=<s>s refused for <s>s" (a lock of a network count adds
// NetworkCountNote)
std::string LoginLockLine(const ClientSource& client, int failures, std::chrono::seconds window,
                          std::chrono::seconds lock);

struct LoginGuardOptions {
    int max_failures = kMaxFailedLogins;
    std::chrono::seconds window = kFailedLoginWindow;
    std::chrono::seconds lock = kLoginLockTime;
    // Addresses with a count of their own; beyond them, addresses are
    // counted with their networks (ClientCounter.h).
    std::size_t max_addresses = kClientTableCapacity;
    std::function<std::chrono::steady_clock::time_point()> now;  // empty: the steady clock
    std::function<void(std::string_view line)> log;               // empty: system log and standard error
};

class LoginGuard {
public:
    explicit LoginGuard(LoginGuardOptions options = {});

    // True while logins of the client are refused.
    bool IsLocked(const ClientSource& client);
    // Logs the failure and counts it against the client; the failure that
    // completes the count locks it.
    void RecordFailure(std::string_view service, const ClientSource& client, std::string_view account,
                       LoginOutcome outcome);
    // Forgets every address.
    void Clear();
    // Addresses with a count of their own now.
    std::size_t Followed() { return failures_.Followed(); }

private:
    void Log(std::string_view line) const;

    LoginGuardOptions options_;
    ClientCounter failures_;
};

// The guard of the running program.
LoginGuard& ProcessLoginGuard();

}  // namespace quorvex
