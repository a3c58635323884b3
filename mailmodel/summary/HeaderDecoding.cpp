// Header dates.
#include "mailmodel/summary/HeaderDecoding.h"

#include <array>
#include <cstdio>
#include <ctime>
#include <vector>

#include "common/AsciiCase.h"

namespace quorvex {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::optional<std::string> ConvertMailDate(std::string_view text, MissingZone missing) {
    // Tokens split at blanks and commas; a weekday in front is skipped.
    std::vector<std::string_view> tokens;
    for (std::size_t i = 0; i < text.size();) {
        while (i < text.size() && (IsBlank(text[i]) || text[i] == ',')) ++i;
        const std::size_t start = i;
        while (i < text.size() && !IsBlank(text[i]) && text[i] != ',') ++i;
        if (i > start) tokens.push_back(text.substr(start, i - start));
    }
    static constexpr std::array<std::string_view, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                                 "jul", "aug", "sep", "oct", "nov", "dec"};
    const auto number = [](std::string_view t, int& out) {
        if (t.empty() || t.size() > 4) return false;
        out = 0;
        for (const char c : t) {
            if (c < '0' || c > '9') return false;
            out = out * 10 + (c - '0');
        }
        return true;
    };
    std::size_t i = 0;
    int day = 0;
    if (i < tokens.size() && !number(tokens[i], day)) ++i;  // weekday
    if (i + 3 >= tokens.size() || !number(tokens[i], day) || day < 1 || day > 31) return std::nullopt;
    int month = 0;
    while (month < 12 && !(tokens[i + 1].size() >= 3 && EqualsNoCase(tokens[i + 1].substr(0, 3), kMonths[static_cast<std::size_t>(month)])))
        ++month;
    int year = 0;
    if (month == 12 || !number(tokens[i + 2], year)) return std::nullopt;
    if (tokens[i + 2].size() <= 2) year += year < 50 ? 2000 : 1900;
    else if (tokens[i + 2].size() == 3) year += 1900;
    int hour = 0, minute = 0, second = 0;
    const std::string_view clock = tokens[i + 3];
    const auto c1 = clock.find(':');
    const auto c2 = clock.find(':', c1 == std::string_view::npos ? c1 : c1 + 1);
    if (c1 == std::string_view::npos || !number(clock.substr(0, c1), hour) ||
        !number(clock.substr(c1 + 1, c2 == std::string_view::npos ? std::string_view::npos : c2 - c1 - 1), minute) ||
        (c2 != std::string_view::npos && !number(clock.substr(c2 + 1), second)) || hour > 23 || minute > 59 ||
        second > 60)
        return std::nullopt;

    // The zone right after the time: "+hhmm", "-hhmm" or an RFC 5322 name.
    int zone_minutes = 0;
    if (i + 4 < tokens.size()) {
        const std::string_view zone = tokens[i + 4];
        int digits = 0;
        if (zone.size() == 5 && (zone[0] == '+' || zone[0] == '-') && number(zone.substr(1), digits)) {
            zone_minutes = (digits / 100) * 60 + digits % 100;
            if (zone[0] == '-') zone_minutes = -zone_minutes;
        } else {
            static constexpr struct {
                std::string_view name;
                int hours;
            } kNames[] = {{"EST", -5}, {"EDT", -4}, {"CST", -6}, {"CDT", -5},
                          {"MST", -7}, {"MDT", -6}, {"PST", -8}, {"PDT", -7}};
            for (const auto& n : kNames)
                if (EqualsNoCase(zone, n.name)) zone_minutes = n.hours * 60;
        }
    }
    char out[64];
    if (i + 4 >= tokens.size() && missing == MissingZone::kLocalClock) {
        std::snprintf(out, sizeof out, "%d-%02d-%02d %02d:%02d:%02d", year, month + 1, day, hour, minute, second);
        return std::string(out);
    }
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    // The written clock time less its zone is UTC; local time follows from
    // the host's zone rules for that date.
    const std::time_t shifted = ::timegm(&fields) - static_cast<std::time_t>(zone_minutes) * 60;
    std::tm local{};
    if (!::localtime_r(&shifted, &local)) {
        std::snprintf(out, sizeof out, "%d-%02d-%02d %02d:%02d:%02d", year, month + 1, day, hour, minute, second);
        return std::string(out);
    }
    std::snprintf(out, sizeof out, "%d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                  local.tm_hour, local.tm_min, local.tm_sec);
    return std::string(out);
}

}  // namespace quorvex
