// One TCP connection from the component to a server of the mail program,
// with the reading the dialogues need: reply lines as the servers' own
// line reader cuts them, and multi-line data (RETR, TOP) line by line of
// any length, without ever splitting a line in two. Reads go through the
// connection's own buffer, so a large message costs a few big receives
// instead of two system calls per line. Every line has a deadline that
// counts from the first wait for it to its line end, so a server that
// trickles a byte now and then cannot hold a call for longer than that;
// sent data has the same bound per piece.
// Connections are always direct: the component never uses the mail
// server's outgoing proxy.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "common/UniqueFd.h"
#include "common/net/SocketIo.h"

namespace quorvex::webcom {

// How long one line from a server may take, however its bytes arrive.
inline constexpr std::chrono::milliseconds kLineDeadline{60000};
// Sent data goes out in pieces of this size, each within the line deadline.
inline constexpr std::size_t kSendPiece = 64 * 1024;

// The line deadline of connections opened from now on (kLineDeadline
// unless a test of the component's time limits set a shorter one).
std::chrono::milliseconds LineDeadline();
void SetLineDeadlineForTesting(std::chrono::milliseconds deadline);

class ServerConnection {
public:
    enum class OpenResult { kConnected, kUnresolved, kFailed };

    ServerConnection() = default;
    ServerConnection(ServerConnection&&) = default;
    ServerConnection& operator=(ServerConnection&&) = default;

    // Closes any connection held, then connects to host:port (a dotted
    // address, or a name whose first IPv4 address is taken).
    OpenResult Open(const std::string& host, int port, const SocketTimeouts& timeouts = kDefaultSocketTimeouts);
    // Takes over a connection made elsewhere (tests pass one end of a
    // socket pair).
    void Adopt(UniqueFd fd, const SocketTimeouts& timeouts = kDefaultSocketTimeouts,
               std::chrono::milliseconds line_deadline = LineDeadline());
    bool IsOpen() const { return fd_.valid(); }
    void Close();

    // Sends the line and CR LF. A line that CheckCommandLine refuses is
    // never sent (callers check before they connect; this is the last
    // guard). False when nothing or not everything went out; the
    // connection is then closed, since the dialogue can no longer be
    // trusted.
    bool SendCommand(std::string_view line);
    // Sends bytes as they are (message data). Each piece of kSendPiece
    // bytes must be taken within the line deadline, so a server that reads
    // a byte now and then cannot hold an upload. False, with the connection
    // closed, when not everything went out (ETIMEDOUT: too slowly).
    bool SendData(std::string_view bytes);

    // One reply line without its line end. A line whose end does not come
    // within kTextLineCapacity - 3 bytes is handed out in pieces of that
    // size, as the servers' own reader does. False (and the connection
    // closed) when the peer closed, on a socket error, after the idle
    // limit or when the line missed its deadline (ETIMEDOUT).
    bool ReadLine(std::string& line);

    // One piece of a data line: the bytes of the current line that are at
    // hand (without CR LF), and whether they end the line. The view lives
    // until the next call. False (connection closed) on failure; the
    // whole line has one deadline, as a reply line has.
    bool NextDataPiece(std::string_view& piece, bool& line_end);

    // What ended the last failed read or send, as an errno value.
    int LastError() const { return last_error_; }

private:
    // Receives more bytes behind those not yet consumed, waiting no longer
    // than the current line's deadline allows.
    bool Fill();
    // Takes a line whose LF lies within the first `window` bytes not yet
    // consumed: its text without the line end. False when there is none.
    bool TakeLine(std::size_t window, std::string_view& line);
    // False, with ENOTCONN as the last error, when there is no connection.
    bool CheckConnected();
    void Fail(int error);

    using Clock = std::chrono::steady_clock;

    UniqueFd fd_;
    SocketTimeouts timeouts_ = kDefaultSocketTimeouts;
    std::chrono::milliseconds line_deadline_ = kLineDeadline;
    std::optional<Clock::time_point> line_due_;  // set while a line is awaited
    std::string buffer_;
    std::size_t start_ = 0;  // first byte not consumed
    std::size_t end_ = 0;    // one past the last byte received
    int last_error_ = 0;
};

}  // namespace quorvex::webcom
