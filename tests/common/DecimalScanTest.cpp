// Decimal arguments read the way scanf "%d" and atoi read them.
#include <gtest/gtest.h>

#include "common/DecimalScan.h"

namespace quorvex {
namespace {

TEST(DecimalScanTest, ScanNumbersReadsLikeScanf) {
    struct Case {
        const char* text;
        std::array<int, 3> want;
    };
    const Case cases[] = {
        {"", {-1, -1, -1}},
        {"1 2 3", {1, 2, 3}},
        {"  7\t8", {7, 8, -1}},
        {"1x 2", {1, -1, -1}},
        {"-3 +4", {-3, 4, -1}},
        {"- 4", {-1, -1, -1}},
        {"12abc", {12, -1, -1}},
        {"99999999999 -99999999999", {2147483647, -2147483647 - 1, -1}},
        {"0 1 ", {0, 1, -1}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ScanNumbers<3>(c.text, {-1, -1, -1}), c.want) << c.text;
    }
    EXPECT_EQ(AtoiLike(" 12 x"), 12);
    EXPECT_EQ(AtoiLike("-7"), -7);
    EXPECT_EQ(AtoiLike("x"), 0);
}

}  // namespace
}  // namespace quorvex
