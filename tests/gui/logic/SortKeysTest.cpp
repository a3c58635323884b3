// The sort state of the sortable list: clicks, Ctrl+clicks, markers, the
// numeric keys, and one comparison over the whole key list.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "common/AsciiCase.h"
#include "gui/logic/SortKeys.h"

namespace quorvex::gui {
namespace {

std::vector<std::pair<int, bool>> Keys(const SortKeys& keys) {
    std::vector<std::pair<int, bool>> out;
    for (const SortKey& key : keys.keys()) out.emplace_back(key.column, key.ascending);
    return out;
}

TEST(SortKeys, ClicksAndCtrlClicks) {
    using M = SortKeys::Marker;
    struct Step {
        int column;
        bool ctrl;
        std::vector<std::pair<int, bool>> keys;
        std::vector<M> markers;  // of columns 0..2
    };
    const Step steps[] = {
        {1, false, {{1, true}}, {M::kNone, M::kAscending, M::kNone}},     // a first sort is ascending
        {1, false, {{1, false}}, {M::kNone, M::kDescending, M::kNone}},   // then descending
        {0, false, {{0, false}}, {M::kDescending, M::kNone, M::kNone}},   // the first column was ascending
        {2, true, {{0, false}, {2, true}}, {M::kDescending, M::kNone, M::kAscending}},
        {0, true, {{2, true}, {0, true}}, {M::kAscending, M::kNone, M::kAscending}},  // moved to the end, reversed
        {1, false, {{1, true}}, {M::kNone, M::kAscending, M::kNone}},
    };
    SortKeys keys;
    for (const Step& step : steps) {
        keys.Click(step.column, step.ctrl);
        EXPECT_EQ(Keys(keys), step.keys) << step.column << step.ctrl;
        for (int column = 0; column < 3; ++column) EXPECT_EQ(keys.MarkerOf(column), step.markers[column]) << column;
    }
}

TEST(SortKeys, NumericKeys) {
    const std::pair<const char*, long long> cases[] = {
        {"12.3", 123}, {"0.05", 0}, {"Unlimited", 0}, {"", 0}, {"20", 200}, {"1536.5", 15365}, {"-3.2", -32},
        {" 7", 70}, {"5242880.0", 52428800},
    };
    for (const auto& [text, key] : cases) EXPECT_EQ(NumericSortKey(text), key) << text;
}

TEST(SortKeys, TiesFollowTheNextKeyWhateverTheStartingOrder) {
    // Rows: name, size. Sorted by size descending, then by name ascending.
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"b", "10"}, {"a", "10"}, {"c", "9.5"}, {"d", "Unlimited"}, {"A", "10"}};
    const std::vector<SortKey> keys = {{1, false}, {0, true}};
    std::vector<int> order(rows.size());
    std::iota(order.begin(), order.end(), 0);
    auto cell = [&](int row, int column) { return column == 0 ? rows[row].first : rows[row].second; };
    auto text = [&](int a, int b, int column) {
        const std::string x = AsciiLowerCase(cell(a, column)), y = AsciiLowerCase(cell(b, column));
        return x.compare(y) < 0 ? -1 : (x == y ? 0 : 1);
    };
    for (int start = 0; start < 5; ++start) {
        std::rotate(order.begin(), order.begin() + 1, order.end());
        std::vector<int> sorted = order;
        std::stable_sort(sorted.begin(), sorted.end(), [&](int a, int b) {
            return CompareRows(keys, a, b, cell, [](int column) { return column == 1; }, text) < 0;
        });
        std::vector<std::string> names;
        for (int row : sorted) names.push_back(rows[row].first);
        // "a" and "A" tie on both keys: they keep their relative order.
        ASSERT_EQ(names.size(), 5u);
        EXPECT_EQ(names[2], "b");
        EXPECT_EQ(names[3], "c");
        EXPECT_EQ(names[4], "d");
    }
}

}  // namespace
}  // namespace quorvex::gui
