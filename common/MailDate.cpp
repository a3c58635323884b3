// Dates of mail headers.
#include "common/MailDate.h"

#include <cstdio>

namespace quorvex {
namespace {

constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

std::string FormatMailDate(const std::tm& local, long offset_seconds, MailDateDay day) {
    const long minutes = (offset_seconds < 0 ? -offset_seconds : offset_seconds) / 60;
    const char sign = offset_seconds < 0 ? '-' : '+';
    const char* format = day == MailDateDay::kTwoDigits ? "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld"
                                                        : "%s, %d %s %d %02d:%02d:%02d %c%02ld%02ld";
    char text[96];
    std::snprintf(text, sizeof text, format, kDays[((local.tm_wday % 7) + 7) % 7], local.tm_mday,
                  kMonths[((local.tm_mon % 12) + 12) % 12], local.tm_year + 1900, local.tm_hour, local.tm_min,
                  local.tm_sec, sign, minutes / 60 % 100, minutes % 60);
    return text;
}

std::string LocalMailDate(std::time_t when, MailDateDay day) {
    std::tm local{};
    ::localtime_r(&when, &local);
    return FormatMailDate(local, local.tm_gmtoff, day);
}

}  // namespace quorvex
