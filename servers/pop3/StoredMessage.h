// Reading stored message files for POP3: whole files for RETR and the
// anti-virus hand-off, line by line for TOP. Stored files are byte-scrambled
// with the account's one-byte key (0 reads a plain file) and already hold
// the dot-stuffed form, so nothing here stuffs them again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/UniqueFd.h"

namespace quorvex::pop3 {

// The most of a message file read with one call: a body up to this size
// goes from the file to the send buffer at once.
inline constexpr std::size_t kMessageReadBound = 256 * 1024;

// Where message bytes go: a socket in the server, a string in tests.
class Pop3Output {
public:
    virtual ~Pop3Output() = default;
    virtual bool Send(std::string_view bytes) = 0;
    // Room for up to `size` bytes at the end of what is to be sent, for the
    // caller to fill in place; Commit then sends the first `used` of them.
    // The room is valid until the next call on the output. The default
    // keeps a block of its own and passes what was used to Send.
    virtual char* Reserve(std::size_t size);
    virtual bool Commit(std::size_t used);
    // Sends `length` bytes of a file from `offset` unchanged. The default
    // reads and calls Send; a socket output may hand the file to the kernel.
    virtual bool SendFileRange(int fd, std::uint64_t offset, std::uint64_t length);

private:
    std::vector<char> block_;
};

// Opens a message file for reading; invalid when it cannot be opened.
UniqueFd OpenMessageFile(const std::string& path);

// Opens message files through a handle of their folder, kept from one
// file to the next: a file of the folder opened last costs the lookup of
// its name only, not a walk of the whole path. A name the handle does not
// find is looked for again by the whole path (the folder may have been
// replaced).
class MessageFolder {
public:
    UniqueFd Open(const std::string& path);

private:
    std::string folder_;
    UniqueFd handle_;
};

// Sends the whole file, unscrambled with `key`, and makes sure it ends with
// CR LF so that a terminating "." that follows stands on its own line. A
// scrambled body is read straight into the output's room and unscrambled
// there, up to kMessageReadBound bytes at a time.
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
