// Reading a multipart/form-data body from a file through one bounded
// buffer: the header lines of a part, and the part's content copied to
// another file up to the next boundary line. A body of any size passes
// through the same buffer; nothing is held whole. No knowledge of fields
// or files here: the upload parser decides what each part becomes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvex::webcom::smtp {

class MultipartReader {
public:
    // Reads `fd` from its current offset; the descriptor stays the caller's.
    explicit MultipartReader(int fd);

    enum class LineResult { kLine, kTooLong, kEnd, kError };
    // One line without its end (LF, and a CR before it). A last line without
    // an LF counts as a line. kTooLong when no line end comes within
    // `max_bytes` (nothing is consumed), kEnd when no byte is left.
    LineResult ReadLine(std::string& line, std::size_t max_bytes);

    enum class ContentResult { kBoundary, kEnd, kReadFailed, kWriteFailed };
    // Copies the content that starts here to `out_fd` (-1: discards it) up
    // to the first line that begins with `boundary` (the boundary line's
    // text, "--" and the boundary). The line end before that line belongs
    // to the boundary, not to the content. kBoundary leaves the reader just
    // behind the boundary text; kEnd means the data ended first.
    ContentResult CopyContent(std::string_view boundary, int out_fd);

    // True (and the bytes consumed) when the data continues with `text`.
    bool SkipText(std::string_view text);
    // Consumes the rest of the current line with its line end.
    bool SkipLine();

    bool failed() const { return read_failed_; }

private:
    std::size_t Available() const { return end_ - start_; }
    // Reads more data behind what is buffered; false at the end or on error.
    bool Fill();
    // Fills until `count` bytes are buffered or the data ends.
    bool Ensure(std::size_t count);
    bool Write(int out_fd, std::size_t count);

    int fd_;
    std::string buffer_;
    std::size_t start_ = 0;  // first byte not consumed
    std::size_t end_ = 0;    // one past the last byte read
    bool at_end_ = false;
    bool read_failed_ = false;
};

}  // namespace quorvex::webcom::smtp
