// Reading stored message files for POP3: whole files for RETR and the
// anti-virus hand-off, line by line for TOP. Stored files are byte-scrambled
// with the account's one-byte key (0 reads a plain file) and already hold
// the dot-stuffed form, so nothing here stuffs them again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/UniqueFd.h"

namespace quorvex::pop3 {

// Where message bytes go: a socket in the server, a string in tests.
class Pop3Output {
public:
    virtual ~Pop3Output() = default;
    virtual bool Send(std::string_view bytes) = 0;
    // Sends `length` bytes of a file from `offset` unchanged. The default
    // reads and calls Send; a socket output may hand the file to the kernel.
    virtual bool SendFileRange(int fd, std::uint64_t offset, std::uint64_t length);
};

// Opens a message file for reading; invalid when it cannot be opened.
UniqueFd OpenMessageFile(const std::string& path);

// Sends the whole file, unscrambled with `key`, and makes sure it ends with
// CR LF so that a terminating "." that follows stands on its own line.
// False when reading or sending failed part-way (the connection is then
// unusable: the client cannot tell where the message ended).
bool SendMessageFile(int fd, std::uint8_t key, Pop3Output& out);

// Reads lines of a stored message, undoing the scrambling. Lines end at
// CR LF; a last line without one is still a line; a line of any length
// comes back whole (bounded only by `max_line_bytes`, past which it is
// returned in pieces).
class StoredLineReader {
public:
    StoredLineReader(int fd, std::uint8_t key, std::size_t max_line_bytes = 1 << 20)
        : fd_(fd), key_(key), max_line_bytes_(max_line_bytes) {}

    // The next line without its CR LF; false at the end of the file or on
    // a read error.
    bool Next(std::string& line);

private:
    bool Fill();

    int fd_;
    std::uint8_t key_;
    std::size_t max_line_bytes_;
    std::string buffer_;
    std::size_t pos_ = 0;
    bool eof_ = false;
};

}  // namespace quorvex::pop3
