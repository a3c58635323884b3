// The failed-login guard and the sign-up limit at full size, in-process:
// after 10,100 addresses made 10 wrong guesses each, how many wrong
// passwords a new address gets before it is locked, whether an address of
// another network that never guessed is refused, and the memory the guard
// holds for 100,000 guessing addresses (IPv4, and IPv6 spread over one /64
// and over 100,000 /64s). Prints one line per figure.
//
// Usage: bench_login_guard
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "accountserver/SignUpLimit.h"
#include "servers/logins/LoginGuard.h"

namespace {

using namespace quorvex;
using Clock = std::chrono::steady_clock;

std::string Ipv4(int n) {
    return "10." + std::to_string(n >> 16 & 255) + "." + std::to_string(n >> 8 & 255) + "." + std::to_string(n & 255);
}
std::string Ipv6(const char* format, int n) {
    char text[64];
    std::snprintf(text, sizeof text, format, n >> 16, n & 0xffff);
    return text;
}
std::string Ipv6InOneNetwork(int n) { return Ipv6("2001:db8::%x:%x", n); }
std::string Ipv6Networks(int n) { return Ipv6("2001:db8:%x:%x::1", n); }

std::size_t HeapInUse() { return mallinfo2().uordblks; }

struct Run {
    Clock::time_point now = Clock::time_point{} + std::chrono::hours(1000);
    int locks = 0;
    LoginGuard guard{Options()};

    LoginGuardOptions Options() {
        LoginGuardOptions options;
        options.now = [this] { return now; };
        options.log = [this](std::string_view line) { locks += line.starts_with("login locked") ? 1 : 0; };
        return options;
    }
    // Guesses as a server takes them: a locked address is refused unchecked.
    int Guess(const std::string& address, int times) {
        int counted = 0;
        for (int i = 0; i < times && !guard.IsLocked({address}); ++i, ++counted) {
            guard.RecordFailure(kLoginServicePop3, {address}, "demo", LoginOutcome::kWrongPassword);
        }
        return counted;
    }
};

void LockFigure(int addresses) {
    Run run;
    for (int n = 0; n < addresses; ++n) run.Guess(Ipv4(n), 10);
    const int locks = run.locks;
    const int wrong = run.Guess("192.0.2.5", 200);
    std::printf("logins: %d addresses x 10 wrong passwords: %d locks logged, %zu addresses followed; "
                "a new address then had %d wrong passwords taken of 200 tried, locked: %s; "
                "one of another network that never guessed locked: %s\n",
                addresses, locks, run.guard.Followed(), wrong, run.guard.IsLocked({"192.0.2.5"}) ? "yes" : "no",
                run.guard.IsLocked({"198.51.100.7"}) ? "yes" : "no");
}

// Networks that locked themselves beyond a full table, and the share of
// other networks' addresses that never guessed and are refused with them
// (every one of their counts taken by locked networks).
void CollisionFigure(int networks) {
    Run run;
    for (int n = 0; n < 10000; ++n) run.Guess(Ipv4(n), 10);
    const auto network = [](const char* first, int n) {
        return std::string(first) + std::to_string(n >> 8) + "." + std::to_string(n & 255) + ".1";
    };
    for (int n = 0; n < networks; ++n) run.Guess(network("100.", n), 10);
    int refused = 0;
    for (int n = 0; n < 65536; ++n) refused += run.guard.IsLocked({network("20.", n)}) ? 1 : 0;
    std::printf("logins: table full, %d /24s locked: %d of 65,536 addresses of other /24s that never guessed "
                "refused\n", networks, refused);
}

void SignUpFigure() {
    accountserver::SignUpLimitOptions options;
    options.log = [](std::string_view) {};
    accountserver::SignUpLimit signups(options);
    for (int n = 0; n < 10100; ++n)
        for (int i = 0; i < accountserver::kMaxSignUps; ++i) signups.Reserve({Ipv4(n)}, "x").Keep();
    int made = 0;
    for (int i = 0; i < 200; ++i) {
        auto place = signups.Reserve({"192.0.2.5"}, "x");
        if (place) ++made, place.Keep();
    }
    std::printf("sign-ups: 10,100 addresses x 10 accounts: a new address of another network then made %d of 200\n",
                made);
}

void MemoryFigure(const char* what, std::string (*address)(int), int failures) {
    const std::size_t before = HeapInUse();
    {
        Run run;
        const auto start = Clock::now();
        for (int n = 0; n < 100000; ++n) run.Guess(address(n), failures);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("memory: 100,000 %s x %d failures: %.2f MB held, %zu followed, %.2f us a failure\n", what,
                    failures, static_cast<double>(HeapInUse() - before) / 1e6, run.guard.Followed(),
                    seconds * 1e6 / (100000.0 * failures));
    }
}

}  // namespace

int main() {
    LockFigure(10000);
    LockFigure(10100);
    for (const int networks : {10, 1000, 5000, 10000, 30000}) CollisionFigure(networks);
    SignUpFigure();
    MemoryFigure("IPv4 addresses", Ipv4, 10);
    MemoryFigure("IPv4 addresses", Ipv4, 1);
    MemoryFigure("IPv6 addresses of one /64", Ipv6InOneNetwork, 10);
    MemoryFigure("IPv6 /64 networks", Ipv6Networks, 10);
    return 0;
}
