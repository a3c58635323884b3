// Text rules of the SMTP session.
#include "servers/smtp/SmtpText.h"

#include <cstdio>
#include <cstdlib>

namespace quorvex::smtp {

namespace {

int LeadingInt(std::string_view text) {
    const std::string copy(text);
    return static_cast<int>(std::strtol(copy.c_str(), nullptr, 10));
}

}  // namespace

WebMailHelo ParseWebMailHelo(std::string_view argument) {
    WebMailHelo fields;
    std::string_view parts[4];
    int count = 0;
    std::size_t begin = 0;
    while (count < 4) {
        const auto colon = argument.find(':', begin);
        parts[count++] = argument.substr(begin, colon == std::string_view::npos ? std::string_view::npos : colon - begin);
        if (colon == std::string_view::npos) break;
        begin = colon + 1;
    }
    fields.account.assign(parts[0]);
    fields.address.assign(parts[1]);
    fields.copy = LeadingInt(parts[2]);
    fields.draft = LeadingInt(parts[3]);
    return fields;
}

std::string AccountOfAddress(std::string_view address, const CServerSettings& settings) {
    if (IsMultiDomain(settings)) return std::string(address);
    return std::string(address.substr(0, address.rfind('@')));
}

std::string FormatTraceTime(std::time_t when) {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm local{};
    ::localtime_r(&when, &local);
    const long offset_minutes = local.tm_gmtoff / 60;
    const long hours = offset_minutes / 60;
    const long minutes = std::labs(offset_minutes % 60);
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %+.2ld%.2ld", kDays[local.tm_wday % 7],
                  local.tm_mday, kMonths[local.tm_mon % 12], local.tm_year + 1900, local.tm_hour, local.tm_min,
                  local.tm_sec, hours, minutes);
    return text;
}

}  // namespace quorvex::smtp
