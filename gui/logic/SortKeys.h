// The sort state of a sortable list: which columns order the rows, each in
// which direction, and which columns show a direction marker. The rows
// start in the first column's ascending order, marked as such. A plain
// click sorts by one column; Ctrl+click adds the column as a further key
// (or moves it to the end of the keys and reverses it). Each column's next
// direction alternates: a column not yet sorted goes ascending first, the
// first column (sorted from the start) descending. Rows are compared by the
// whole key list at once, so the order of ties never depends on an earlier
// sort.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace quorvex::gui {

inline constexpr int kMaxSortKeys = 64;

struct SortKey {
    int column = 0;
    bool ascending = false;
};

class SortKeys {
public:
    // A header click with the left button; `add_key` = Ctrl held.
    void Click(int column, bool add_key);

    // The keys, primary first, each with the direction it sorts in.
    const std::vector<SortKey>& keys() const { return keys_; }
    // The marker of a column: nothing, or its direction.
    enum class Marker { kNone, kAscending, kDescending };
    Marker MarkerOf(int column) const;

private:
    bool NextAscending(int column) const { return (direction_bits_ >> (column % 32)) & 1u; }
    void Flip(int column, bool used_ascending);

    std::vector<SortKey> keys_{SortKey{0, true}};
    std::uint32_t direction_bits_ = ~1u;  // bit set: the next sort of that column is ascending
    std::vector<std::pair<int, bool>> markers_{{0, true}};  // column, ascending
};

// The number a numeric column sorts by: the integer part of ten times the
// cell's decimal value ("12.3" -> 123, "0.05" -> 0); a text that is no
// number ("Unlimited") gives 0.
long long NumericSortKey(std::string_view text);

// The comparison of two rows under a key list: negative, 0 or positive.
// `cell(row, column)` gives a cell's text; numeric columns compare by
// NumericSortKey, the others as text without regard to case.
template <typename CellFn, typename NumericFn, typename TextCompareFn>
int CompareRows(const std::vector<SortKey>& keys, int left, int right, CellFn&& cell, NumericFn&& is_numeric,
                TextCompareFn&& compare_text) {
    for (const SortKey& key : keys) {
        int result = 0;
        if (is_numeric(key.column)) {
            const long long a = NumericSortKey(cell(left, key.column));
            const long long b = NumericSortKey(cell(right, key.column));
            result = a < b ? -1 : (a > b ? 1 : 0);
        } else {
            result = compare_text(left, right, key.column);
        }
        if (result != 0) return key.ascending ? result : -result;
    }
    return 0;
}

}  // namespace quorvex::gui
