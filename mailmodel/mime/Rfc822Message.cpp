// Message-level setters; the date follows RFC 5322 section 3.3.
#include "mailmodel/mime/Rfc822Message.h"

#include <ctime>
#include <string>

#include "common/MailDate.h"

namespace quorvex::mime {
std::string FormatMessageDate(const struct tm& local, long offsetSeconds) {
    return FormatMailDate(local, offsetSeconds, MailDateDay::kAsNeeded);
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
