// A message file opened for binary reading, read as lines: the stored
// message parser reads a header field with its continuation lines as one
// piece and never loads the whole file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace quorvex::mime {

class MessageFile {
public:
    MessageFile() = default;
    explicit MessageFile(const std::string& path) { Open(path); }

    bool Open(const std::string& path);
    bool IsOpen() const { return file_ != nullptr; }
    // The next byte without consuming it; EOF at the end.
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
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> file_;
};

}  // namespace quorvex::mime
