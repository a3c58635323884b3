// The job table's load decisions.
#include "servers/jobs/SlotLoad.h"

#include <algorithm>
#include <map>

namespace quorvex {
namespace {

bool Open(const SlotUse& slot) { return slot.busy && slot.connection && !slot.closing; }

bool Transferring(const SlotUse& slot) { return slot.moved >= kTransferFloor; }

// Fewer bytes in the window, then longer idle.
bool MovesLess(const SlotUse& a, const SlotUse& b) {
    return a.moved != b.moved ? a.moved < b.moved : a.progress < b.progress;
}

}  // namespace

std::vector<ShareExcess> OverShare(std::span<const SlotUse> slots, int share) {
    std::map<std::string, std::vector<int>> by_key;
    for (std::size_t i = 0; i < slots.size(); ++i) {
        if (Open(slots[i])) by_key[slots[i].key].push_back(static_cast<int>(i));
    }
    std::vector<ShareExcess> excess;
    for (auto& [key, held] : by_key) {
        const auto count = static_cast<int>(held.size());
        if (count <= share) continue;
        std::erase_if(held, [&](int i) { return Transferring(slots[static_cast<std::size_t>(i)]); });
        std::stable_sort(held.begin(), held.end(), [&](int a, int b) {
            return slots[static_cast<std::size_t>(a)].taken < slots[static_cast<std::size_t>(b)].taken;
        });
        held.resize(std::min(held.size(), static_cast<std::size_t>(count - share)));
        if (!held.empty()) excess.push_back({key, count, std::move(held)});
    }
    return excess;
}

std::vector<int> IdleSessions(std::span<const SlotUse> slots, LoadClock::time_point now, LoadClock::duration limit) {
    std::vector<int> idle;
    for (std::size_t i = 0; i < slots.size(); ++i) {
        const SlotUse& s = slots[i];
        if (Open(s) && s.waiting && !Transferring(s) && now - s.progress >= limit) idle.push_back(static_cast<int>(i));
    }
    return idle;
}

std::vector<int> PastDeadline(std::span<const SlotUse> slots, LoadClock::time_point now,
                              LoadClock::duration deadline) {
    std::vector<int> old;
    for (std::size_t i = 0; i < slots.size(); ++i) {
        if (Open(slots[i]) && now - slots[i].taken >= deadline) old.push_back(static_cast<int>(i));
    }
    return old;
}

Admission Admit(std::span<const SlotUse> slots, LoadClock::time_point now, LoadClock::duration min_idle,
                bool may_make_room) {
    for (std::size_t i = 0; i < slots.size(); ++i) {
        if (!slots[i].busy) return {Admission::kFreeSlot, static_cast<int>(i)};
    }
    if (std::any_of(slots.begin(), slots.end(),
                    [&](const SlotUse& s) { return s.busy && s.closing && now - s.closing_since < kRoomWait; })) {
        return {Admission::kWaitForRoom, -1};
    }
    if (!may_make_room) return {Admission::kRefuse, -1};
    int victim = -1;
    for (std::size_t i = 0; i < slots.size(); ++i) {
        const SlotUse& s = slots[i];
        if (!Open(s) || Transferring(s)) continue;
        const bool judged = s.held || now - s.taken >= kTransferWindow || (s.waiting && now - s.progress >= min_idle);
        if (!judged) continue;
        if (victim < 0 || MovesLess(s, slots[static_cast<std::size_t>(victim)])) victim = static_cast<int>(i);
    }
    if (victim >= 0) return {Admission::kMakeRoom, victim};
    return {Admission::kRefuse, -1};
}

}  // namespace quorvex
