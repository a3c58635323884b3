// New accounts per client: at most kMaxSignUps within kSignUpWindow from one
// client address (the address a web-mail front end forwards for its user,
// else the connection's own, ClientSource.h), counted as the login guard
// counts failures (ClientCounter.h: an IPv6 client by its /64, bounded
// memory). A sign-up takes its place before its dialogue and gives it back
// when it creates nothing, so sign-ups running side by side cannot pass the
// limit together. A refusal writes one line to the system log and to
// standard error.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "servers/logins/ClientCounter.h"
#include "servers/logins/ClientSource.h"

namespace quorvex::accountserver {

inline constexpr int kMaxSignUps = 10;
inline constexpr std::chrono::seconds kSignUpWindow{3600};

// "sign-up refused: address=<address> [via=<front end>] account=<account>
// accounts=<n> within=<s>s" (a refusal by a network count adds
// NetworkCountNote)
std::string SignUpRefusedLine(const ClientSource& client, std::string_view account, int accounts,
                              std::chrono::seconds window);

struct SignUpLimitOptions {
    int max_accounts = kMaxSignUps;
    std::chrono::seconds window = kSignUpWindow;
    // Addresses with a count of their own; beyond them, addresses are
    // counted with their networks (ClientCounter.h).
    std::size_t max_addresses = kClientTableCapacity;
    std::function<std::chrono::steady_clock::time_point()> now;  // empty: the steady clock
    std::function<void(std::string_view line)> log;               // empty: system log and standard error
};

class SignUpLimit {
    using Clock = ClientCounter::Clock;

public:
    // One new account's place; given back when destroyed unless kept.
    class Reservation {
    public:
        Reservation() = default;
        Reservation(Reservation&& other) noexcept;
        Reservation& operator=(Reservation&& other) noexcept;
        ~Reservation();

        explicit operator bool() const { return limit_ != nullptr; }
        // The account was created: the place stays taken for the window.
        void Keep() { limit_ = nullptr; }

    private:
        friend class SignUpLimit;
        Reservation(SignUpLimit* limit, ClientSource client, Clock::time_point at)
            : limit_(limit), client_(std::move(client)), at_(at) {}

        SignUpLimit* limit_ = nullptr;
        ClientSource client_;
        Clock::time_point at_{};
    };

    explicit SignUpLimit(SignUpLimitOptions options = {});

    // A place for one new account of the client, or an empty reservation
    // (and the log line) when the client has had its most within the window.
    Reservation Reserve(const ClientSource& client, std::string_view account);
    // Forgets every address.
    void Clear();

private:
    SignUpLimitOptions options_;
    ClientCounter signups_;
};

// The limit of the running program.
SignUpLimit& ProcessSignUpLimit();

}  // namespace quorvex::accountserver
