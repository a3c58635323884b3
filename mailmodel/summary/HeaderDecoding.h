// Small pure pieces of reading a message's header lines: encoded words
// ("=?charset?q?...?=" / "?b?"), hexadecimal pairs, and the conversion of a
// header date to local time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvex {

// What a date without any zone after its time stands for.
enum class MissingZone {
    kUtc,         // UTC, converted to local time like any other date
    kLocalClock,  // a clock time shown as it is written
};

// Converts an Internet date ("Tue, 3 Mar 2026 10:04:05 -0800") to local
// time as "%d-%02d-%02d %02d:%02d:%02d". Nothing when the text is not a
// date. An unknown zone name is taken as UTC, a missing zone as `missing`
// says.
std::optional<std::string> ConvertMailDate(std::string_view text, MissingZone missing = MissingZone::kUtc);

}  // namespace quorvex
