// What the numeric settings accept. Every number of config.ini,
// EmailFilter.ini and an account's maillist.ini [System] has one range here; start-up, "-update" and the settings
// window all refuse a value outside it with the same words, so a value is
// never read as something else without a word. Pure.
#pragma once

#include <climits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/IniDocument.h"

namespace quorvex {

struct NumberRange {
    long long low = INT_MIN;
    long long high = INT_MAX;
    // What the value counts: "whole number" or "port number".
    const char* noun = "whole number";
    // Besides low..high, -1 is accepted with this meaning ("no limit").
    const char* minus_one = nullptr;
    // What the numbers mean when any whole number is taken (a switch).
    const char* note = nullptr;

    bool Accepts(long long value) const {
        return (value >= low && value <= high) || (minus_one != nullptr && value == -1);
    }
    // The smallest accepted value.
    long long Lowest() const { return minus_one != nullptr && low > -1 ? -1 : low; }
    // "a whole number from 1 to 1000", "-1 (no limit) or a whole number
    // from 0 to 500", "a whole number (0 is off, any other number on)".
    std::string Expected() const;
};

// Ports: port 0 (a random port) is never one of them.
inline constexpr NumberRange kPortRange{1, 65535, "port number"};
// A switch is off at 0 and on at any other number, as it always was.
inline constexpr NumberRange kSwitchRange{INT_MIN, INT_MAX, "whole number", nullptr, "0 is off, any other number on"};
// Any whole number (counts that are clamped when read, values only kept).
inline constexpr NumberRange kAnyNumber{};
// A try, a minute between collections, a log line: at least one, so no
// setting can stop delivery or logging or make a loop spin. A retry may
// come at once.
inline constexpr NumberRange kTriesRange{1, 1000};
inline constexpr NumberRange kMinutesRange{1, 525600};  // a year
inline constexpr NumberRange kRetryMinutesRange{0, 525600};
inline constexpr NumberRange kLogLinesRange{1, 100000000};
inline constexpr NumberRange kRecipientsRange{1, 100000};
inline constexpr NumberRange kMailboxSizeRange{1, 1048576};  // MB
inline constexpr NumberRange kMailSizeRange{1, INT_MAX, "whole number", "no limit"};  // bytes
// Sessions of one client address: at most the job table's 100 slots; -1
// is the built-in limit.
inline constexpr NumberRange kConnectionsRange{1, 100, "whole number", "50 at once"};
inline constexpr NumberRange kCollectorsRange{1, 100};
// Keys read outside the settings record, where they are used.
inline constexpr NumberRange kSenderThreadsRange{1, 100};   // [System] MailThreadNum
inline constexpr NumberRange kCloseModeRange{0, 1};         // [system] CloseMode
inline constexpr NumberRange kStartupStatementsRange{0, 1000};  // [Database] Count
// An account's settings (mail/<account>/maillist.ini [System]): a mailbox
// size in MB as the program writes it (one below 1 allows nothing), the
// switches Max, Disabled and IsGroup, and the permission level (a mail
// account, a domain administrator, the system administrator).
inline constexpr NumberRange kAccountVolumeRange{};
inline constexpr NumberRange kAccountSwitchRange{0, 1};
inline constexpr NumberRange kAccountPermissionRange{0, 2};
// A domain's limits.
inline constexpr NumberRange kDomainMailboxesRange{0, 1000000, "whole number", "no limit"};
inline constexpr NumberRange kDomainSpaceRange{0, 1073741824, "whole number", "no limit"};  // MB

// The number `text` holds when `range` takes it, `text` being a number as
// the settings files hold one: blanks around it, an optional sign and
// decimal digits, nothing else. Nothing for any other text, and for a
// number outside the range.
std::optional<int> NumberInRange(std::string_view text, const NumberRange& range);

// The sentence that refuses a value of a settings file: `The settings file
// <file> gives [<section>] <key> the value "<value>", which is not
// <expected>.`
std::string RefusedValueText(std::string_view file, std::string_view section, std::string_view key,
                             std::string_view value, std::string_view expected);

// Adds the refusal of [section] key of `doc` (the file `file`) to
// `refused` when the key is there and is not a number in `range`.
void CheckNumberKey(const IniDocument& doc, std::string_view file, std::string_view section, std::string_view key,
                    const NumberRange& range, std::vector<std::string>& refused);

// The value of [section] key of `doc` when it is a number in `range`; the
// default when the key is missing or holds anything else (a file edited
// after start-up is read no differently than start-up would take it).
int NumberOrDefault(const IniDocument& doc, std::string_view section, std::string_view key, int default_value,
                    const NumberRange& range);

// Two of the three servers on one port: their names and the port.
struct PortClash {
    const char* first;
    const char* second;
    const char* first_key;   // the [Port] keys
    const char* second_key;
    int port;
};
std::optional<PortClash> FindPortClash(int smtp, int pop3, int admin);

}  // namespace quorvex
