// The job table's load decisions on pictures of slots: who is over the
// share, and whether a new connection takes a free slot, waits, makes room
// or is refused. (Idle and old sessions: JobTableTest.)
#include "servers/jobs/SlotLoad.h"

#include <gtest/gtest.h>

namespace quorvex {
namespace {

using namespace std::chrono_literals;

const LoadClock::time_point kNow = LoadClock::time_point(1h);

// A session of `key`, taken `age` ago, with its last progress `idle` ago,
// waiting for its client unless `working`, that `moved` bytes in the window.
SlotUse Session(std::string key, LoadClock::duration age, LoadClock::duration idle, bool working = false,
                std::uint64_t moved = 0) {
    SlotUse use;
    use.busy = true;
    use.connection = true;
    use.waiting = !working;
    use.key = std::move(key);
    use.taken = kNow - age;
    use.progress = kNow - idle;
    use.moved = moved;
    return use;
}

SlotUse Held(SlotUse use) {
    use.held = true;
    return use;
}

SlotUse Closing(std::string key, LoadClock::duration since) {
    SlotUse use = Session(std::move(key), 1min, 1min);
    use.closing = true;
    use.closing_since = kNow - since;
    return use;
}

TEST(SlotLoad, AddressesOverTheirShareLoseTheLongestHeldFirst) {
    struct Case {
        const char* name;
        std::vector<SlotUse> slots;
        int share;
        std::vector<ShareExcess> expected;
    };
    const SlotUse collection = [] {
        SlotUse use;
        use.busy = true;  // a remote collection: no connection
        return use;
    }();
    const Case cases[] = {
        {"at the share", {Session("a", 3s, 0s), Session("a", 1s, 0s)}, 2, {}},
        {"one over: the oldest goes",
         {Session("a", 1s, 0s), Session("a", 9s, 0s), Session("b", 20s, 0s), Session("a", 5s, 0s)}, 2,
         {{"a", 3, {1}}}},
        {"closing sessions and collections do not count",
         {Session("a", 9s, 0s), Closing("a", 1s), collection, collection, collection, Session("a", 5s, 0s)}, 2, {}},
        {"each address for itself",
         {Session("a", 1s, 0s), Session("b", 2s, 0s), Session("a", 3s, 0s), Session("b", 4s, 0s),
          Session("b", 5s, 0s)},
         1, {{"a", 2, {2}}, {"b", 3, {4, 3}}}},
        {"sessions at a real client's pace stay",
         {Session("a", 9s, 0s, false, kTransferFloor), Session("a", 5s, 0s), Session("a", 1s, 0s)}, 1,
         {{"a", 3, {1, 2}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto got = OverShare(c.slots, c.share);
        ASSERT_EQ(got.size(), c.expected.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].key, c.expected[i].key);
            EXPECT_EQ(got[i].held, c.expected[i].held);
            EXPECT_EQ(got[i].close, c.expected[i].close);
        }
    }
}

TEST(SlotLoad, NewConnectionTakesAFreeSlotWaitsMakesRoomOrIsRefused) {
    // A full table of three slots unless a case frees one.
    struct Case {
        const char* name;
        std::vector<SlotUse> slots;
        Admission::Kind kind;
        int slot;
        bool held = false;  // the newcomer's address
    };
    const SlotUse free_slot{};
    const Case cases[] = {
        {"the lowest free slot", {Session("a", 1s, 1s), free_slot, free_slot}, Admission::kFreeSlot, 1},
        {"room being made", {Session("a", 9s, 9s), Session("a", 9s, 9s), Closing("b", 1s)},
         Admission::kWaitForRoom, -1},
        {"a session that does not end in time is no room",
         {Session("a", 9s, 9s), Session("a", 9s, 8s), Closing("b", 3s)}, Admission::kMakeRoom, 0},
        {"the session idle longest makes room",
         {Session("a", 9s, 4s), Session("a", 9s, 8s), Session("a", 1s, 1s)}, Admission::kMakeRoom, 1},
        {"idle too short: refused", {Session("a", 9s, 2s), Session("a", 9s, 2s), Session("a", 9s, 1s)},
         Admission::kRefuse, -1},
        {"a working session younger than the window makes no room",
         {Session("a", 9s, 9s, true), Session("a", 9s, 9s, true), Session("a", 9s, 1s)}, Admission::kRefuse, -1},
        {"an address of one slot below the floor makes room, blocked in a send or not, the slowest first",
         {Session("a", 20s, 1s, true, 400), Session("b", 20s, 9s, false, 800),
          Session("c", 20s, 9s, true, kTransferFloor)},
         Admission::kMakeRoom, 0},
        {"a held address makes no room", {Session("a", 9s, 9s), Session("a", 9s, 9s), Session("b", 9s, 1s)},
         Admission::kRefuse, -1, true},
        {"but takes a free slot", {Session("a", 9s, 9s), free_slot}, Admission::kFreeSlot, 1, true},
        {"a held address's sessions give room at once, waiting or not",
         {Held(Session("a", 9s, 1s)), Held(Session("a", 9s, 0s)), Held(Session("a", 9s, 2s, true))},
         Admission::kMakeRoom, 2},
        {"an old session that trickles makes room, the one that moved least first",
         {Session("a", 20s, 2s, false, 800), Session("a", 20s, 1s, false, 400), Session("a", 1s, 1s)},
         Admission::kMakeRoom, 1},
        {"a session at a real client's pace never makes room, even held",
         {Held(Session("a", 20s, 9s, false, kTransferFloor)), Session("b", 20s, 9s, true, kTransferFloor),
          Session("b", 1s, 0s)},
         Admission::kRefuse, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Admission got = Admit(c.slots, kNow, 3s, !c.held);
        EXPECT_EQ(got.kind, c.kind);
        EXPECT_EQ(got.slot, c.slot);
    }
}

}  // namespace
}  // namespace quorvex
