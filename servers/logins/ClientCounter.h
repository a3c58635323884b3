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
// fixed array of counts that never runs out: kNetworkCountGroups groups of
// kNetworkCountsPerGroup counts, and each network adds to one count of
// every group, chosen by a hash keyed with a secret drawn at start. A
// network's events are the fewest of its counts', and it is closed only
// once every one of its counts is; a hold set on a count forgets the
// count's events, so after the hold the network's count starts afresh.
// So the clients of one network share its limit, and a client is not
// refused for what other networks did unless they closed all of its
// counts: with 10,000 networks closed that is about one network in six
// million, with 30,000 about one in 3,000, and the secret keeps an
// attacker from aiming at one. A new address gets no more than `limit`
// events within the window however full the table. A client without a
// place is closed while its network is, full table or not, and when it
// gets a place that place starts with its network's count.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/net/AddressKey.h"
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

// The counts the networks beyond a full table are counted in: every
// network has one count in each group. 524,288 counts of 16 bytes: 8 MiB,
// taken when the table is first full.
inline constexpr std::size_t kNetworkCountGroups = 8;
inline constexpr std::size_t kNetworkCountsPerGroup = 65536;
inline constexpr std::size_t kNetworkCounts = kNetworkCountGroups * kNetworkCountsPerGroup;

// The secret that keys the choice of a network's counts.
using NetworkCountSecret = std::array<std::uint64_t, 2>;
// The counts of a network, one in each group (indexes of the whole array).
using NetworkCountSlots = std::array<std::size_t, kNetworkCountGroups>;
NetworkCountSlots NetworkCountsOf(std::string_view address, const NetworkCountSecret& secret);

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
    std::optional<NetworkCountSecret> secret;  // empty: drawn at start
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
    // together once the window has passed since `start`. A hold sets
    // `start` to its end, with no events: the count is held while `start`
    // is still to come (only a counter with a hold time holds counts).
    struct NetworkCount {
        Clock::time_point start{};
        int events = 0;
    };
    using Slots = NetworkCountSlots;

    Clock::time_point Now() const;
    // With mutex_ held.
    void Forget(Place& place, Clock::time_point now) const;  // events past the window
    bool IsClosed(const Place& place, Clock::time_point now) const;
    Clock::time_point QuietFrom(const Place& place) const;   // when it may be let go
    Place* PlaceFor(const std::string& key, const ClientSource& client,
                    Clock::time_point now);  // with a new place when there is room
    void Prune(Clock::time_point now);
    bool Held(const NetworkCount& count, Clock::time_point now) const;
    bool IsClosed(const NetworkCount& count, Clock::time_point now) const;
    // The count's events within the window; a held count counts as full.
    int LiveEvents(const NetworkCount& count, Clock::time_point now) const;
    bool NetworkClosed(const Slots& slots, Clock::time_point now) const;
    int NetworkEvents(const Slots& slots, Clock::time_point now) const;  // the fewest of its counts
    Result AddToNetwork(std::string_view address, Clock::time_point now);

    ClientCounterOptions options_;
    std::mutex mutex_;
    std::unordered_map<std::string, Place> places_;
    // Empty until the table is first full.
    std::vector<NetworkCount> networks_;
    NetworkCountSecret secret_{};
    // No place is quiet before this time: a full table is not searched for
    // places to let go before it.
    Clock::time_point next_quiet_ = Clock::time_point::max();
};

}  // namespace quorvex
