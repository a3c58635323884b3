// Cuts the bytes a client sends into command lines or message-text pieces,
// without touching a socket: fed with whatever arrived, in any slicing, it
// yields the same lines. The SMTP, POP3 and account-server sessions read
// every line through it (LineReader puts it on a socket).
//
// Line ends: a line ends at LF. One CR right before that LF belongs to the
// line end and is dropped; a CR anywhere else, and a NUL, is text. So
// "abc" CR LF and "abc" LF both give "abc", and "a" CR "b" LF gives
// "a" CR "b".
//
// Command lines are whole or nothing: a line of at most `max_line` bytes of
// text is handed out; a longer one is discarded through its LF (in bounded
// memory, however long it is) and reported once as too long. None of its
// bytes is ever handed out, so no part of it can run as a command.
//
// Message text comes in pieces instead: a line longer than `max_line` is
// handed out in pieces of `max_line` bytes, each marked as cut, and the
// piece after a cut is marked as a continuation, so that the text keeps its
// pieces and a reader knows that a piece does not begin a line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvex {

// The longest line text taken as one line: a 3072-byte line buffer less
// CR, LF and the terminator it had.
inline constexpr std::size_t kMaxCommandLine = 3069;

enum class LineEnd {
    kCrLf,    // the line arrived ending in CR LF
    kBareLf,  // the line arrived ending in LF alone
    kCut,     // the line was longer than a piece; its rest comes next
};

struct LinePiece {
    std::string_view text;  // without the line end; valid until the buffer changes
    LineEnd end = LineEnd::kCrLf;
    bool continuation = false;  // the rest of a cut line, not the start of one
};

struct CommandLine {
    bool too_long = false;  // the line was discarded; `text` is empty
    std::string_view text;  // without the line end; valid until the buffer changes
};

class LineBuffer {
public:
    explicit LineBuffer(std::size_t max_line = kMaxCommandLine) : max_line_(max_line) {}

    void Append(std::string_view bytes);

    // The next whole command line, or a too-long line once it has been
    // discarded through its LF; nothing until more bytes arrive.
    std::optional<CommandLine> NextLine();
    // The next piece of message text; nothing until more bytes arrive.
    std::optional<LinePiece> NextPiece();

    // Bytes received and not handed out (a relay passes them on).
    std::size_t Pending() const { return buffer_.size() - start_; }
    // True when a line end is among them: the next line is (or ends) here,
    // so a reader need not wait for the client before taking it.
    bool HasLineEnd() const;
    std::string TakePending();
    // Lines and pieces handed out so far: it moves whenever one is done.
    std::uint64_t handed_out() const { return handed_out_; }

private:
    std::string buffer_;
    std::size_t start_ = 0;
    std::size_t max_line_;
    bool after_cut_ = false;   // the next piece continues a cut line
    bool discarding_ = false;  // inside a too-long command line
    std::uint64_t handed_out_ = 0;
};

}  // namespace quorvex
