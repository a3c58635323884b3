// Events per client within a sliding window (failed logins, new accounts),
// in memory that stays bounded however many clients come.
//
// A client is counted by its address, an IPv6 client by its /64 network
// (CountingKey): one host holds a whole /64, so its addresses are one
// client. A client whose events within the window reach the limit is
// closed: for the hold time when the counter has one (its events are then
// forgotten, the count starts afresh after the hold), else as long as its
// events within the window still reach the limit.
//
// At most `capacity` clients have a place of their own, and a place is kept
// while its client has events within the window or is closed: a client is
// never forgotten while it matters, so nobody can make the counter drop a
// count by sending more clients. When every place is taken, a newcomer is
// counted with its network (NetworkKey: an IPv4 /24, an IPv6 /48) in a
// fixed array of kNetworkCounts counts that never runs out: each network
// adds to two of them, chosen by a hash keyed with a secret drawn at start,
// and is closed once both are. So the clients of one network share its
// limit, a client is not refused for what other networks did (unless
// other networks closed both of its counts: with 1,000 networks closed
// about one network in 1,000, and the secret keeps an attacker from aiming
// at one), and a new address gets no more than `limit` events within the
// window however full the table. A client without a
// place is closed while its network is, full table or not, and when it
// gets a place that place starts with its network's count.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "servers/logins/ClientSource.h"

namespace quorvex {

// Clients with a place of their own, in each counter of the running program.
inline constexpr std::size_t kClientTableCapacity = 10000;
// The environment variable that sets another number (a test needs no
// 10,000 clients to fill the table; a large server may want more).
inline constexpr const char* kClientTableCapacityVariable = "QUORVEX_CLIENT_TABLE_SIZE";

// The capacity the running program's counters use: the variable's value
// when it is a number from 1 to 10,000,000, else kClientTableCapacity.
std::size_t ProcessClientTableCapacity();

// The key a client address is counted under: the address itself, for an
// IPv6 address its /64 network ("2001:db8:1:2::/64"); an IPv4-mapped
// address counts as its IPv4 address.
std::string CountingKey(std::string_view address);

// The network a client without a place of its own is counted with: an
// IPv4 address's /24 ("192.0.2.0/24", an IPv4-mapped address as its IPv4
// address), an IPv6 address's /48 ("2001:db8:1::/48"); any other text
// itself.
std::string NetworkKey(std::string_view address);

// The counts the networks beyond a full table are counted in.
inline constexpr std::size_t kNetworkCounts = 65536;

// What a log line about a count adds when it was counted with the
// client's network: ", counted with its network <network> beyond the
// <capacity> addresses followed".
std::string NetworkCountNote(std::string_view address, std::size_t capacity);

struct ClientCounterOptions {
    int limit = 10;                       // events within the window that close a client
    std::chrono::seconds window{300};
    std::chrono::seconds hold{0};         // 0: closed while the events reach the limit
    std::size_t capacity = kClientTableCapacity;
    std::function<std::chrono::steady_clock::time_point()> now;  // empty: the steady clock
};

class ClientCounter {
public:
    using Clock = std::chrono::steady_clock;

    enum class Result {
        kCounted,       // counted; the client is still open
        kReachedLimit,  // counted, and this event closed the client
        kClosed,        // not counted: the client was closed already
    };
    struct Count {
        Result result = Result::kCounted;
        bool by_network = false;  // counted with (or closed by) the client's network
        Clock::time_point at{};   // when it was counted
    };

    explicit ClientCounter(ClientCounterOptions options);

    bool Closed(const ClientSource& client);
    // Counts one event of the client, unless it is closed.
    Count Add(const ClientSource& client);
    // Takes back the event Add counted for the client at `at` (a sign-up
    // that created nothing).
    void TakeBack(const ClientSource& client, Clock::time_point at);
    void Clear();

    // Clients with a place of their own now.
    std::size_t Followed();
    const ClientCounterOptions& options() const { return options_; }

private:
    struct Place {
        std::vector<Clock::time_point> events;  // within the window, oldest first; at most `limit`
        Clock::time_point closed_until{};
    };
    // One of the network counts: the events since `start`, forgotten all
    // together once the window has passed since `start`.
    struct NetworkCount {
        Clock::time_point start{};
        Clock::time_point closed_until{};
        int events = 0;
    };
    using Slots = std::array<std::size_t, 2>;

    Clock::time_point Now() const;
    // With mutex_ held.
    void Forget(Place& place, Clock::time_point now) const;  // events past the window
    bool IsClosed(const Place& place, Clock::time_point now) const;
    Clock::time_point QuietFrom(const Place& place) const;   // when it may be let go
    Place* PlaceFor(const std::string& key, const ClientSource& client,
                    Clock::time_point now);  // with a new place when there is room
    void Prune(Clock::time_point now);
    Slots NetworkSlots(std::string_view address) const;
    bool IsClosed(const NetworkCount& count, Clock::time_point now) const;
    bool NetworkClosed(std::string_view address, Clock::time_point now) const;
    int NetworkEvents(const Slots& slots) const;  // the fewer of its two counts
    Result AddToNetwork(std::string_view address, Clock::time_point now);

    ClientCounterOptions options_;
    std::mutex mutex_;
    std::unordered_map<std::string, Place> places_;
    // Empty until the table is first full.
    std::vector<NetworkCount> networks_;
    std::array<std::uint64_t, 2> secret_{};
    // No place is quiet before this time: a full table is not searched for
    // places to let go before it.
    Clock::time_point next_quiet_ = Clock::time_point::max();
};

}  // namespace quorvex
