// The data of a multi-line POP3 reply (RETR, TOP) written to files: one
// leading "." taken off each line (RFC 1939), so the file holds exactly
// the message a POP3 client receives; lines of any length kept whole; the
// end recognised only on a whole line ".". The header block (the lines
// before the first empty one) may go to a second file as well.
#pragma once

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

// Copies the data up to its "." line into `file` and the header block also
// into `header`. Null targets just take the data off the connection (so
// the next command reads its own reply). False when the connection failed
// before the "." line.
bool CopyMessageData(ServerConnection& connection, OutputFile* file, OutputFile* header);

}  // namespace quorvex::webcom::pop3
