// Local-time texts that CMPP carries: the login Timestamp "MMDDHHMMSS" and
// the SUBMIT validity "YYMMDDhhmmss032+". Pure functions over a broken-down
// local time so that calendar edges can be checked without a clock.
#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>

namespace quorvex::smsgate {

struct LocalDateTime {
    int year = 2000;
    int month = 1;  // 1 to 12
    int day = 1;    // 1 to 31
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// The current local time of the host.
LocalDateTime LocalNow();

// Writes the last two decimal digits of a non-negative value.
inline char* PutTwoDigits(char* at, int value) {
    at[0] = static_cast<char>('0' + value / 10 % 10);
    at[1] = static_cast<char>('0' + value % 10);
    return at + 2;
}

// "MMDDHHMMSS", the text hashed into the authenticator.
inline std::array<char, 11> FormatLoginTimestamp(const LocalDateTime& t) {
    std::array<char, 11> text{};
    char* at = text.data();
    for (const int part : {t.month, t.day, t.hour, t.minute, t.second}) at = PutTwoDigits(at, part);
    return text;
}

// The same timestamp read as a decimal number, as the CONNECT carries it.
inline std::uint32_t LoginTimestampValue(const LocalDateTime& t) {
    return static_cast<std::uint32_t>(t.month) * 100'000'000u + static_cast<std::uint32_t>(t.day) * 1'000'000u +
           static_cast<std::uint32_t>(t.hour) * 10'000u + static_cast<std::uint32_t>(t.minute) * 100u +
           static_cast<std::uint32_t>(t.second);
}

// `t` moved on by `minutes`, carrying through hours, days, months and years.
inline LocalDateTime AddMinutes(const LocalDateTime& t, std::uint32_t minutes) {
    using namespace std::chrono;
    const sys_days date{year{t.year} / month{static_cast<unsigned>(t.month)} / day{static_cast<unsigned>(t.day)}};
    const auto moved = date + hours{t.hour} + std::chrono::minutes{t.minute} + seconds{t.second} +
                       std::chrono::minutes{static_cast<std::int64_t>(minutes)};
    const auto moved_day = floor<days>(moved);
    const year_month_day ymd{moved_day};
    const hh_mm_ss clock{moved - moved_day};
    return {static_cast<int>(ymd.year()),       static_cast<int>(static_cast<unsigned>(ymd.month())),
            static_cast<int>(static_cast<unsigned>(ymd.day())), static_cast<int>(clock.hours().count()),
            static_cast<int>(clock.minutes().count()),          static_cast<int>(clock.seconds().count())};
}

// ValId_Time: two-digit year, month, day, hour, minute, second, then tenths
// 0 and the gateway's fixed offset of 32 quarter hours ahead of UTC.
inline std::array<char, 17> FormatValidityTime(const LocalDateTime& now, std::uint32_t minutes) {
    const LocalDateTime until = AddMinutes(now, minutes);
    std::array<char, 17> text{};
    char* at = text.data();
    for (const int part : {until.year % 100, until.month, until.day, until.hour, until.minute, until.second})
        at = PutTwoDigits(at, part);
    std::copy_n("032+", 4, at);
    return text;
}

}  // namespace quorvex::smsgate
