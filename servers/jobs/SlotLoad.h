// The load decisions of the job table, as pure functions of a picture of
// its slots: which sessions an address holds beyond its share, which
// sessions have been idle or open too long, and whether a new connection
// takes a free slot, closes the session idle longest to make room, waits
// for room being made, or is refused at once.
#pragma once

#include <chrono>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex {

using LoadClock = std::chrono::steady_clock;

// Slots one client address may hold while the table is busy. An address
// whose sessions were closed for load (beyond its share, idle under load,
// closed to make room) is held for kAddressHold after the last: to its
// share, its idle sessions closed as under load, its waiting sessions
// closed at once to make room for others, and it makes no room itself.
inline constexpr int kAddressShare = 10;
inline constexpr std::chrono::seconds kAddressHold{60};
// How long a session must have been idle before it is closed to make room
// for a new connection of a full table.
inline constexpr std::chrono::seconds kMakeRoomIdle{3};
// The longest a new connection waits for the room that closed sessions
// make; a session that takes longer to end is no longer counted on.
inline constexpr std::chrono::seconds kRoomWait{2};
// The longest a connection's session may last, whatever it does; far
// beyond a real client's longest message or mailbox download.
inline constexpr std::chrono::minutes kSessionDeadline{30};

// One slot as the decisions see it.
struct SlotUse {
    bool busy = false;        // holds a job
    bool connection = false;  // the job is a client connection (it may be closed)
    bool closing = false;     // its connection is being closed
    bool waiting = false;     // its session waits for the client's next bytes
    bool held = false;        // its address is held (sessions closed for load)
    std::string key;          // the client address it counts against
    LoadClock::time_point taken{};     // when the job was queued
    LoadClock::time_point progress{};  // its last progress (`taken` at first)
    LoadClock::time_point closing_since{};
};

// The connections an address holds beyond `share` (closing ones not
// counted), the longest-held first.
struct ShareExcess {
    std::string key;
    int held = 0;
    std::vector<int> close;  // slot indexes
};
std::vector<ShareExcess> OverShare(std::span<const SlotUse> slots, int share);

// Connections whose session waits for its client and has made no progress
// for `limit`.
std::vector<int> IdleSessions(std::span<const SlotUse> slots, LoadClock::time_point now, LoadClock::duration limit);

// Connections open for `deadline` or longer.
std::vector<int> PastDeadline(std::span<const SlotUse> slots, LoadClock::time_point now,
                              LoadClock::duration deadline);

// What a new connection from `newcomer` gets: the lowest free slot; else,
// while sessions closed less than kRoomWait ago are ending, a wait for
// their room; else, when it `may_make_room`, the slot of the session idle
// longest among the waiting sessions of held addresses and those idle for
// `min_idle` of addresses that hold at least two slots more than the
// newcomer's (so that no address in good standing loses a slot to one that
// would then hold more); else a refusal.
struct Admission {
    enum Kind { kFreeSlot, kWaitForRoom, kMakeRoom, kRefuse } kind = kRefuse;
    int slot = -1;  // kFreeSlot: the slot to take; kMakeRoom: the session to close
};
Admission Admit(std::span<const SlotUse> slots, LoadClock::time_point now, std::string_view newcomer,
                LoadClock::duration min_idle, bool may_make_room);

}  // namespace quorvex
