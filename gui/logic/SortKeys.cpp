#include "gui/logic/SortKeys.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

namespace quorvex::gui {

void SortKeys::Flip(int column, bool used_ascending) {
    const std::uint32_t bit = 1u << (column % 32);
    if (used_ascending) {
        direction_bits_ &= ~bit;
    } else {
        direction_bits_ |= bit;
    }
}

void SortKeys::Click(int column, bool add_key) {
    const bool ascending = NextAscending(column);
    if (!add_key) {
        keys_ = {SortKey{column, ascending}};
        markers_ = {{column, ascending}};
        Flip(column, ascending);
        return;
    }
    // The clicked column goes to the end of the keys; the others keep
    // their order and their last direction.
    keys_.erase(std::remove_if(keys_.begin(), keys_.end(), [column](const SortKey& k) { return k.column == column; }),
                keys_.end());
    if (static_cast<int>(keys_.size()) >= kMaxSortKeys) return;
    keys_.push_back(SortKey{column, ascending});
    markers_.erase(std::remove_if(markers_.begin(), markers_.end(), [column](const auto& m) { return m.first == column; }),
                   markers_.end());
    markers_.emplace_back(column, ascending);
    Flip(column, ascending);
}

SortKeys::Marker SortKeys::MarkerOf(int column) const {
    for (const auto& [marked, ascending] : markers_) {
        if (marked == column) return ascending ? Marker::kAscending : Marker::kDescending;
    }
    return Marker::kNone;
}

long long NumericSortKey(std::string_view text) {
    // Leading blanks and a sign as a C number reader takes them; the rest
    // of the text after the number is ignored.
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || !std::isfinite(value)) return 0;
    const double scaled = std::trunc(value * 10.0);
    if (scaled > 9.0e18) return static_cast<long long>(9.0e18);
    if (scaled < -9.0e18) return static_cast<long long>(-9.0e18);
    return static_cast<long long>(scaled);
}

}  // namespace quorvex::gui
