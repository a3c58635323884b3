// The check for a newer version: one plain HTTP GET of
// "/download/quorvex.txt" from the vendor's web host, whose body reads
// "<flag> <version number> <date>". The reply comes from the network, so it
// is read with bounds: at most kMaxVersionReply bytes, a date of at most
// kMaxVersionDate characters. The check is off while no host is configured
// ([System] "VersionCheckHost", "host" or "host:port").
#pragma once

#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "common/net/HostConnect.h"

namespace quorvex::gui {

inline constexpr std::size_t kMaxVersionReply = 4096;
inline constexpr std::size_t kMaxVersionDate = 16;
inline constexpr std::string_view kVersionPath = "/download/quorvex.txt";

struct VersionReply {
    int flag = 0;
    int number = 0;      // version * 100 ("503" is 5.3)
    std::string date;    // empty when the reply has none
};

// The body of an HTTP reply (after the first empty line) scanned as
// "%d %d %s". Nothing when there is no body or no flag.
std::optional<VersionReply> ParseVersionReply(std::string_view http_reply);

enum class VersionVerdict {
    kNothing,       // flag 0 or a malformed reply: the check ends silently
    kNewVersion,    // flag 1, another date: ask to download version number/100.number%100
    kLatest,        // flag 1, the program's own build date
    kNewUnknown,    // another nonzero flag: ask to download
};
VersionVerdict JudgeVersion(const VersionReply& reply, std::string_view build_date);

struct VersionHost {
    std::string host;
    int port = 80;
};
// "host" or "host:port"; nothing for an empty or malformed value.
std::optional<VersionHost> ParseVersionHost(std::string_view value);

// A connection the vendor host has not accepted after this long counts as
// failed; a reply silent for kVersionIdleMs ends the read. A stop request
// ends the fetch within kVersionSliceMs once connected.
inline constexpr int kVersionSliceMs = 100;
inline constexpr int kVersionConnectMs = 10000;
inline constexpr int kVersionIdleMs = 60000;

// Fetches the reply through `proxy` (the settings' proxy, as every
// outgoing connection). Nothing when the connection or the request fails,
// or when `stop` was requested.
std::optional<std::string> FetchVersionReply(const VersionHost& host, const ProxySettings& proxy,
                                             std::stop_token stop = {});

}  // namespace quorvex::gui
