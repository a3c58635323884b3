// The socket traffic dump: with the switch on ([system] "BugTrace" at
// start-up), every block sent and every block received by the socket
// functions is appended to one dump file, each block followed by a
// separator line. Meant for debugging a peer; off by default.
#pragma once

#include <string>
#include <string_view>

namespace quorvex {

// Follows every dumped block: CR LF, 27 hyphens, CR LF.
inline constexpr std::string_view kTrafficDumpSeparator = "\r\n---------------------------\r\n";

// The file name of the dump in the log folder.
inline constexpr std::string_view kTrafficDumpFileName = "log.dat";

// Switches the dump on (appending to `path`) or off.
void SetTrafficDump(bool enabled, std::string path = {});
bool TrafficDumpEnabled();

// Appends the block and the separator when the dump is on. Serialised by
// one lock so that blocks of different threads never interleave.
void DumpSocketTraffic(std::string_view data);

}  // namespace quorvex
