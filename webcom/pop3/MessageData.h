// The data of a multi-line POP3 reply (RETR, TOP) written to files: one
// leading "." taken off each line (RFC 1939), so the file holds exactly
// the message a POP3 client receives; lines of any length kept whole; the
// end recognised only on a whole line ".". The header block (the lines
// before the first empty one) may go to a second file as well. What a
// server sends is bounded: a reply larger than its message can be is
// never written.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "common/UniqueFd.h"
#include "webcom/net/ServerConnection.h"

namespace quorvex::webcom::pop3 {

// A file the component writes for the web server: created (or emptied)
// without following a link, group-readable, written in large blocks. The
// first failed write is remembered and reported by Finish.
class OutputFile {
public:
    bool Create(const std::string& path);
    void Write(std::string_view bytes);
    // Writes what is left and closes; false when any write failed.
    bool Finish();
    int error() const { return error_; }

private:
    void Flush();

    UniqueFd fd_;
    std::string pending_;
    int error_ = 0;
};

// A message's data may exceed the size its server listed by this much
// (the size counts the stored form; the copy ends every line in CR LF).
inline constexpr std::uint64_t kListedSizeSlack = 1 << 20;
// A header part (the TOP reply, Head.txt) is never larger than this.
inline constexpr std::uint64_t kMaxHeaderBytes = 1 << 20;

// The most bytes a message of `listed` octets may fill (a negative or
// missing size counts as 0).
std::uint64_t MessageByteLimit(std::int64_t listed);

// The most bytes the copy writes: `data` for the whole data, `header` for
// the header block.
struct CopyLimits {
    std::uint64_t data = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t header = std::numeric_limits<std::uint64_t>::max();
};

enum class CopyResult {
    kComplete,
    kConnectionFailed,  // the connection ended before the "." line
    kTooLarge,          // the data passed a limit: nothing more was written,
                        // and the connection is closed (the rest of the
                        // reply would be taken as the next replies)
};

// Copies the data up to its "." line into `file` and the header block also
// into `header`. Null targets just take the data off the connection (so
// the next command reads its own reply); the limits hold for them too.
CopyResult CopyMessageData(ServerConnection& connection, OutputFile* file, OutputFile* header,
                           const CopyLimits& limits = {});

}  // namespace quorvex::webcom::pop3
