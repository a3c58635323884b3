// Cuts the byte stream of an SMTP connection into lines, keeping what the
// protocol needs to know about each: how it ended (CR LF, a bare LF, or cut
// because it was too long) and whether it continues a cut line. Pure: fed
// with whatever the socket gave, in any slicing, it yields the same lines.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quorvex::smtp {

// The longest piece of text one line read gives: a 3072-byte line buffer
// less CR, LF and the terminator. Longer lines come in several pieces, and
// stored messages keep those pieces as lines of their own.
inline constexpr std::size_t kMaxLinePiece = 3069;

enum class LineEnd {
    kCrLf,    // the line arrived ending in CR LF
    kBareLf,  // the line arrived ending in LF alone
    kCut,     // the line was longer than a piece; its rest comes next
};

struct LinePiece {
    std::string_view text;  // without the line end; valid until the next call
    LineEnd end = LineEnd::kCrLf;
    bool continuation = false;  // this piece is the rest of a cut line
};

class LineSplitter {
public:
    explicit LineSplitter(std::size_t max_piece = kMaxLinePiece) : max_piece_(max_piece) {}

    void Append(std::string_view bytes);
    // The next complete piece, or nothing until more bytes arrive.
    std::optional<LinePiece> Next();
    // Bytes received but not yet given out as a piece.
    std::size_t Pending() const { return buffer_.size() - start_; }

private:
    std::string buffer_;
    std::size_t start_ = 0;
    std::size_t max_piece_;
    bool after_cut_ = false;
};

}  // namespace quorvex::smtp
