// The load decisions of the job table, as pure functions of a picture of
// its slots: which sessions an address holds beyond its share, which
// sessions have been idle or open too long, and whether a new connection
// takes a free slot, closes the slowest session to make room, waits for
// room being made, or is refused at once.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex {

using LoadClock = std::chrono::steady_clock;

// Slots one client address may hold while the table is busy. An address
// whose sessions were closed for load (beyond its share, idle under load,
// closed to make room) is held for kAddressHold after the last: to its
// share, its idle sessions closed as under load, its slow sessions closed
// at once to make room for others, and it makes no room itself.
inline constexpr int kAddressShare = 10;
inline constexpr std::chrono::seconds kAddressHold{60};
// Under load a session is judged by the bytes its client really moved,
// both ways, in the last kTransferWindow (10 to 11 s, counted in whole
// seconds): every byte received, and every byte of every reply once the
// client has taken it (a client that stops reading moves nothing, however
// much waits for it). At kTransferFloor or more it transfers at a real
// client's pace and is never closed for load, whatever its address holds
// and whatever it is doing; below, it may be closed to make room, to bring
// its address back to its share or when idle under load, the slowest
// first. The floor (about 1.6 KB/s) lies far from both sides: sessions
// that only keep their slot busy move a few KB in the window (a line of 80
// bytes of message text every 2 s: 0.4 KB; 2 KB read every 30 s), while
// the slowest real transfers move 90 KB or more (headers read at 9.5 KB/s;
// a 100 KB message read every 8 s; an upload or a download at 200 KB/s:
// 2 MB).
inline constexpr std::chrono::seconds kTransferWindow{10};
inline constexpr std::uint64_t kTransferFloor = 16 * 1024;
// A session younger than the window has not shown its pace yet: it makes
// room only when it has been waiting for its client without progress this
// long.
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
    std::uint64_t moved = 0;           // bytes moved in the last kTransferWindow
    LoadClock::time_point closing_since{};
};

// The connections an address holds beyond `share` (closing ones not
// counted) that may be closed, the longest-held first: none that
// transfers at a real client's pace.
struct ShareExcess {
    std::string key;
    int held = 0;
    std::vector<int> close;  // slot indexes
};
std::vector<ShareExcess> OverShare(std::span<const SlotUse> slots, int share);

// Connections whose session waits for its client and has made no progress
// for `limit`, below the floor.
std::vector<int> IdleSessions(std::span<const SlotUse> slots, LoadClock::time_point now, LoadClock::duration limit);

// Connections open for `deadline` or longer.
std::vector<int> PastDeadline(std::span<const SlotUse> slots, LoadClock::time_point now,
                              LoadClock::duration deadline);

// What a new connection gets: the lowest free slot; else, while sessions
// closed less than kRoomWait ago are ending, a wait for their room; else,
// when it `may_make_room`, the slot of the slowest session (fewest bytes in
// the window, then idle longest) among the sessions below kTransferFloor,
// waiting for their client or not (a session blocked in a send is judged
// too), however many slots their address holds: those older than the
// window, those of held addresses, and younger ones waiting without
// progress for `min_idle`; else a refusal.
struct Admission {
    enum Kind { kFreeSlot, kWaitForRoom, kMakeRoom, kRefuse } kind = kRefuse;
    int slot = -1;  // kFreeSlot: the slot to take; kMakeRoom: the session to close
};
Admission Admit(std::span<const SlotUse> slots, LoadClock::time_point now, LoadClock::duration min_idle,
                bool may_make_room);

}  // namespace quorvex
