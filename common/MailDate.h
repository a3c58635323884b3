// The date of a mail header or trace line (RFC 5322 section 3.3):
// "Tue, 08 Dec 2026 07:05:09 +0530", with English names whatever the locale.
#pragma once

#include <ctime>
#include <string>

namespace quorvex {

// How the day of the month is written: "08" or "8".
enum class MailDateDay { kTwoDigits, kAsNeeded };

// `local` is a broken-down local time, `offset_seconds` its distance east
// of UTC. The zone's sign comes from the whole offset ("-0030" for half
// an hour west).
std::string FormatMailDate(const std::tm& local, long offset_seconds, MailDateDay day = MailDateDay::kTwoDigits);

// `when` in the local time zone with its offset.
std::string LocalMailDate(std::time_t when, MailDateDay day = MailDateDay::kTwoDigits);

}  // namespace quorvex
