// Message-level setters; the date follows RFC 5322 section 3.3.
#include "mailmodel/mime/Rfc822Message.h"

#include <cstdio>
#include <ctime>
#include <string>

namespace quorvex::mime {
namespace {

constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

std::string FormatMessageDate(const struct tm& local, long offsetSeconds) {
    const long minutes = offsetSeconds / 60;
    const long magnitude = minutes < 0 ? -minutes : minutes;
    char text[96];
    std::snprintf(text, sizeof text, "%s, %d %s %d %02d:%02d:%02d %c%02ld%02ld", kDays[local.tm_wday % 7],
                  local.tm_mday, kMonths[local.tm_mon % 12], local.tm_year + 1900, local.tm_hour, local.tm_min,
                  local.tm_sec, minutes >= 0 ? '+' : '-', magnitude / 60, magnitude % 60);
    return text;
}

void CRfc822Message::SetDate() {
    const std::time_t now = std::time(nullptr);
    struct tm local {};
    if (localtime_r(&now, &local) == nullptr) return;
    SetFieldValue("Date", FormatMessageDate(local, local.tm_gmtoff));
}

void CRfc822Message::SetDate(int year, int month, int day, int hour, int minute, int second) {
    struct tm local {};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    if (std::mktime(&local) == static_cast<std::time_t>(-1)) return;
    SetFieldValue("Date", FormatMessageDate(local, local.tm_gmtoff));
}

}  // namespace quorvex::mime
