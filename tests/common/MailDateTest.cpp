// Dates of mail headers and trace lines.
#include <gtest/gtest.h>

#include "common/MailDate.h"

namespace quorvex {
namespace {

TEST(MailDateTest, DayStylesAndZoneSigns) {
    std::tm local{};
    local.tm_year = 126;
    local.tm_mon = 11;
    local.tm_mday = 8;
    local.tm_wday = 2;
    local.tm_hour = 7;
    local.tm_min = 5;
    local.tm_sec = 9;
    struct Case {
        long offset;
        MailDateDay day;
        const char* want;
    };
    const Case cases[] = {
        {19800, MailDateDay::kTwoDigits, "Tue, 08 Dec 2026 07:05:09 +0530"},
        {-12600, MailDateDay::kTwoDigits, "Tue, 08 Dec 2026 07:05:09 -0330"},
        {0, MailDateDay::kTwoDigits, "Tue, 08 Dec 2026 07:05:09 +0000"},
        // Between -1 h and 0 the sign comes from the whole offset.
        {-1800, MailDateDay::kTwoDigits, "Tue, 08 Dec 2026 07:05:09 -0030"},
        {-1800, MailDateDay::kAsNeeded, "Tue, 8 Dec 2026 07:05:09 -0030"},
        {50400, MailDateDay::kAsNeeded, "Tue, 8 Dec 2026 07:05:09 +1400"},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatMailDate(local, c.offset, c.day), c.want) << c.offset;
}

}  // namespace
}  // namespace quorvex
