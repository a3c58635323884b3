// Per-client counts within a window, in bounded memory.
#include "servers/logins/ClientCounter.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <random>

namespace quorvex {

std::size_t ProcessClientTableCapacity() {
    static const std::size_t capacity = [] {
        const char* text = std::getenv(kClientTableCapacityVariable);
        if (text == nullptr) return kClientTableCapacity;
        std::size_t value = 0;
        const char* end = text + std::strlen(text);
        const auto [stop, error] = std::from_chars(text, end, value);
        const bool valid = error == std::errc() && stop == end && value >= 1 && value <= 10'000'000;
        return valid ? value : kClientTableCapacity;
    }();
    return capacity;
}

std::string NetworkCountNote(std::string_view address, std::size_t capacity) {
    return ", counted with its network " + NetworkKey(address) + " beyond the " + std::to_string(capacity) +
           " addresses followed";
}

namespace {

// Spreads every bit of the value over the result (the splitmix64 finish).
std::uint64_t Mix(std::uint64_t x) {
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

}  // namespace

NetworkCountSlots NetworkCountsOf(std::string_view address, const NetworkCountSecret& secret) {
    static_assert(kNetworkCountsPerGroup == 65536 && kNetworkCountGroups == 4 * std::tuple_size_v<NetworkCountSecret>,
                  "each keyed hash gives four 16-bit indexes");
    const std::uint64_t hash = std::hash<std::string>{}(NetworkKey(address));
    NetworkCountSlots slots{};
    for (std::size_t group = 0; group < kNetworkCountGroups; ++group) {
        const std::uint64_t word = Mix(hash ^ secret[group / 4]);
        slots[group] = group * kNetworkCountsPerGroup + (word >> (16 * (group % 4)) & 0xffff);
    }
    return slots;
}

ClientCounter::ClientCounter(ClientCounterOptions options) : options_(std::move(options)) {
    options_.limit = std::max(options_.limit, 1);
    options_.capacity = std::max<std::size_t>(options_.capacity, 1);
    if (options_.secret) {
        secret_ = *options_.secret;
    } else {
        std::random_device random;
        for (std::uint64_t& word : secret_) word = (std::uint64_t{random()} << 32) ^ random();
    }
}

ClientCounter::Clock::time_point ClientCounter::Now() const { return options_.now ? options_.now() : Clock::now(); }

void ClientCounter::Forget(Place& place, Clock::time_point now) const {
    const auto live = std::find_if(place.events.begin(), place.events.end(),
                                   [&](Clock::time_point at) { return at + options_.window > now; });
    place.events.erase(place.events.begin(), live);
}

bool ClientCounter::IsClosed(const Place& place, Clock::time_point now) const {
    if (now < place.closed_until) return true;
    if (options_.hold.count() > 0) return false;
    const auto live = std::count_if(place.events.begin(), place.events.end(),
                                    [&](Clock::time_point at) { return at + options_.window > now; });
    return live >= options_.limit;
}

ClientCounter::Clock::time_point ClientCounter::QuietFrom(const Place& place) const {
    if (place.events.empty()) return place.closed_until;
    return std::max(place.closed_until, place.events.back() + options_.window);
}

void ClientCounter::Prune(Clock::time_point now) {
    next_quiet_ = Clock::time_point::max();
    for (auto it = places_.begin(); it != places_.end();) {
        const Clock::time_point quiet = QuietFrom(it->second);
        if (now >= quiet) {
            it = places_.erase(it);
        } else {
            next_quiet_ = std::min(next_quiet_, quiet);
            ++it;
        }
    }
}

ClientCounter::Place* ClientCounter::PlaceFor(const std::string& key, const ClientSource& client,
                                              Clock::time_point now) {
    if (const auto it = places_.find(key); it != places_.end()) return &it->second;
    // A full table first lets go of the places whose clients no longer
    // matter; the search runs only once one of them can be quiet.
    if (places_.size() >= options_.capacity && now >= next_quiet_) Prune(now);
    if (places_.size() >= options_.capacity) return nullptr;
    Place& place = places_[key];
    place.events.reserve(static_cast<std::size_t>(options_.limit));
    // What the client may have counted with its network while the table
    // was full stays counted (at most `limit` events, as in every place),
    // as old as the oldest of its counts: a count past its window is
    // forgotten at once. A client of a network held closed keeps the hold
    // until the first of its counts opens.
    if (!networks_.empty()) {
        const Slots slots = NetworkCountsOf(client.address, secret_);
        Clock::time_point since = Clock::time_point::max();
        Clock::time_point opens = Clock::time_point::max();
        for (const std::size_t slot : slots) {
            const NetworkCount& count = networks_[slot];
            if (Held(count, now)) {
                opens = std::min(opens, count.start);
            } else {
                since = std::min(since, count.start);
            }
        }
        if (since == Clock::time_point::max()) {
            place.closed_until = opens;
        } else {
            const int events = std::min(NetworkEvents(slots, now), options_.limit);
            place.events.assign(static_cast<std::size_t>(events), since);
        }
    }
    return &place;
}

bool ClientCounter::Held(const NetworkCount& count, Clock::time_point now) const {
    return options_.hold.count() > 0 && now < count.start;
}

bool ClientCounter::IsClosed(const NetworkCount& count, Clock::time_point now) const {
    if (Held(count, now)) return true;
    return options_.hold.count() == 0 && count.events >= options_.limit && now < count.start + options_.window;
}

int ClientCounter::LiveEvents(const NetworkCount& count, Clock::time_point now) const {
    if (Held(count, now)) return options_.limit;
    return now < count.start + options_.window ? count.events : 0;
}

bool ClientCounter::NetworkClosed(const Slots& slots, Clock::time_point now) const {
    return std::all_of(slots.begin(), slots.end(), [&](std::size_t slot) { return IsClosed(networks_[slot], now); });
}

int ClientCounter::NetworkEvents(const Slots& slots, Clock::time_point now) const {
    int fewest = options_.limit;
    for (const std::size_t slot : slots) fewest = std::min(fewest, LiveEvents(networks_[slot], now));
    return fewest;
}

ClientCounter::Result ClientCounter::AddToNetwork(std::string_view address, Clock::time_point now) {
    if (networks_.empty()) networks_.resize(kNetworkCounts);
    const Slots slots = NetworkCountsOf(address, secret_);
    if (NetworkClosed(slots, now)) return Result::kClosed;
    for (const std::size_t slot : slots) {
        NetworkCount& count = networks_[slot];
        if (Held(count, now)) continue;  // full until its hold ends
        if (now >= count.start + options_.window) {
            count.start = now;
            count.events = 0;
        }
        ++count.events;
    }
    if (NetworkEvents(slots, now) < options_.limit) return Result::kCounted;
    // Without a hold time the count itself keeps the network closed; a
    // hold forgets the events, so the count starts afresh when it ends.
    if (options_.hold.count() > 0) {
        for (const std::size_t slot : slots) {
            NetworkCount& count = networks_[slot];
            count.start = std::max(count.start, now + options_.hold);
            count.events = 0;
        }
    }
    return Result::kReachedLimit;
}

bool ClientCounter::Closed(const ClientSource& client) {
    const Clock::time_point now = Now();
    const std::string key = CountingKey(client.address);
    std::lock_guard lock(mutex_);
    const auto it = places_.find(key);
    if (it != places_.end()) return IsClosed(it->second, now);
    return !networks_.empty() && NetworkClosed(NetworkCountsOf(client.address, secret_), now);
}

ClientCounter::Count ClientCounter::Add(const ClientSource& client) {
    Count count;
    count.at = Now();
    const Clock::time_point now = count.at;
    const std::string key = CountingKey(client.address);
    std::lock_guard lock(mutex_);
    Place* place = PlaceFor(key, client, now);
    if (place == nullptr) {
        count.by_network = true;
        count.result = AddToNetwork(client.address, now);
        return count;
    }
    Forget(*place, now);
    if (IsClosed(*place, now)) {
        count.result = Result::kClosed;
        return count;
    }
    place->events.push_back(now);
    if (static_cast<int>(place->events.size()) >= options_.limit) {
        count.result = Result::kReachedLimit;
        if (options_.hold.count() > 0) {
            place->events.clear();
            place->closed_until = now + options_.hold;
        }
    }
    next_quiet_ = std::min(next_quiet_, QuietFrom(*place));
    return count;
}

void ClientCounter::TakeBack(const ClientSource& client, Clock::time_point at) {
    const Clock::time_point now = Now();
    const std::string key = CountingKey(client.address);
    std::lock_guard lock(mutex_);
    const auto take = [at](Place& place) {
        const auto it = std::find(place.events.begin(), place.events.end(), at);
        if (it == place.events.end()) return false;
        place.events.erase(it);
        return true;
    };
    if (const auto it = places_.find(key); it != places_.end() && take(it->second)) {
        if (now >= QuietFrom(it->second)) {
            places_.erase(it);
        } else {
            next_quiet_ = std::min(next_quiet_, QuietFrom(it->second));
        }
        return;
    }
    // Counted with its network while the client had no place of its own.
    if (networks_.empty()) return;
    for (const std::size_t slot : NetworkCountsOf(client.address, secret_)) {
        NetworkCount& count = networks_[slot];
        if (count.events > 0 && at >= count.start) --count.events;
    }
}

void ClientCounter::Clear() {
    std::lock_guard lock(mutex_);
    places_.clear();
    std::vector<NetworkCount>().swap(networks_);
    next_quiet_ = Clock::time_point::max();
}

std::size_t ClientCounter::Followed() {
    std::lock_guard lock(mutex_);
    return places_.size();
}

}  // namespace quorvex
