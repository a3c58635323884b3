// A message file opened for binary reading, read as lines: the stored
// message parser reads a header field with its continuation lines as one
// piece and never loads the whole file. Reads go through a block buffer of
// the object's own, so a line costs a memchr and a copy, not a call per
// byte.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/UniqueFd.h"

namespace quorvex::mime {

class MessageFile {
public:
    MessageFile() = default;
    explicit MessageFile(const std::string& path) { Open(path); }

    bool Open(const std::string& path);
    bool IsOpen() const { return fd_.valid(); }
    // The next byte without consuming it; EOF at the end (or after an error).
    int PeekChar();
    bool AtEnd() { return PeekChar() == EOF; }
    bool Seek(std::int64_t offset);
    std::int64_t Size();
    // Reads a line and at most two continuation lines (each up to and
    // including its LF), at most room - 2 bytes in all; stops after a piece
    // that is exactly CR LF. Returns the bytes read, -1 at the end of the
    // file, on a read error or when room is 1 or less.
    long ReadFoldedLine(std::string& line, std::size_t room);

private:
    // Reads the next block; false at the end of the file or on an error.
    bool Fill();

    UniqueFd fd_;
    std::vector<char> buffer_;
    std::size_t pos_ = 0;             // next byte of the buffer
    std::size_t end_ = 0;             // bytes in the buffer
    std::int64_t buffer_offset_ = 0;  // file offset of buffer_[0]
    bool error_ = false;
};

}  // namespace quorvex::mime
