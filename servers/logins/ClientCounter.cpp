// Per-client counts within a window, in bounded memory.
#include "servers/logins/ClientCounter.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "common/net/PeerAddress.h"

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

std::string CountingKey(std::string_view address) {
    const auto peer = PeerAddress::FromNumeric(address, 0);
    if (!peer || peer->family() != AF_INET6 || peer->Ipv4()) return peer ? peer->HostText() : std::string(address);
    in6_addr network = reinterpret_cast<const sockaddr_in6*>(peer->get())->sin6_addr;
    std::memset(network.s6_addr + 8, 0, 8);
    char text[INET6_ADDRSTRLEN];
    if (::inet_ntop(AF_INET6, &network, text, sizeof text) == nullptr) return std::string(address);
    return std::string(text) + "/64";
}

std::string SharedCountNote(std::size_t capacity) {
    return ", and every address beyond the " + std::to_string(capacity) + " followed";
}

ClientCounter::ClientCounter(ClientCounterOptions options) : options_(std::move(options)) {
    options_.limit = std::max(options_.limit, 1);
    options_.capacity = std::max<std::size_t>(options_.capacity, 1);
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

ClientCounter::Place* ClientCounter::PlaceFor(const std::string& key, Clock::time_point now) {
    if (const auto it = places_.find(key); it != places_.end()) return &it->second;
    // A full table first lets go of the places whose clients no longer
    // matter; the search runs only once one of them can be quiet.
    if (places_.size() >= options_.capacity && now >= next_quiet_) Prune(now);
    if (places_.size() >= options_.capacity) return nullptr;
    Place& place = places_[key];
    place.events.reserve(static_cast<std::size_t>(options_.limit));
    return &place;
}

bool ClientCounter::Closed(const ClientSource& client) {
    const Clock::time_point now = Now();
    const std::string key = CountingKey(client.address);
    std::lock_guard lock(mutex_);
    const auto it = places_.find(key);
    return IsClosed(it != places_.end() ? it->second : shared_, now);
}

ClientCounter::Count ClientCounter::Add(const ClientSource& client) {
    Count count;
    count.at = Now();
    const Clock::time_point now = count.at;
    const std::string key = CountingKey(client.address);
    std::lock_guard lock(mutex_);
    Place* place = places_.contains(key) || !IsClosed(shared_, now) ? PlaceFor(key, now) : nullptr;
    if (place == nullptr) {
        place = &shared_;
        count.shared = true;
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
    if (!count.shared) next_quiet_ = std::min(next_quiet_, QuietFrom(*place));
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
    // Counted while the client had no place of its own.
    take(shared_);
}

void ClientCounter::Clear() {
    std::lock_guard lock(mutex_);
    places_.clear();
    shared_ = {};
    next_quiet_ = Clock::time_point::max();
}

std::size_t ClientCounter::Followed() {
    std::lock_guard lock(mutex_);
    return places_.size();
}

}  // namespace quorvex
