// Line and block I/O on connected stream sockets, shared by every server
// session and client of the system. Every wait is cut into slices (one
// second in production) so that clearing ServerRunFlag ends every blocked
// call within a slice; reads give up after an idle limit. Nothing here
// creates or closes the socket it is given.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "common/net/SessionActivity.h"

namespace quorvex {

// How long the socket functions wait. One slice is the longest time a call
// goes without testing ServerRunFlag; a read fails once more than
// `idle_slices` slices in a row brought nothing (60 one-second slices: the
// 61st silent second ends the wait).
struct SocketTimeouts {
    int slice_ms = 1000;
    int idle_slices = 60;
};

inline constexpr SocketTimeouts kDefaultSocketTimeouts{};
// The relay tolerates ten minutes of silence in both directions.
inline constexpr SocketTimeouts kDefaultRelayTimeouts{1000, 600};

// Capacity of a text line as the protocols read it: at most 3069 bytes of
// text, then CR LF, then room for a terminator (a 3072-byte line buffer).
inline constexpr std::size_t kTextLineCapacity = 3072;

// Receive modes of ReceiveWithTimeout.
enum class ReceiveMode {
    kNormal = 0,  // one receive of up to `size` bytes
    kPeek = 2,    // the same, leaving the bytes in the socket
    kExact = 8,   // exactly `size` bytes, waiting again between chunks
};

// Why a read ended without data.
enum class IoStatus {
    kOk,
    kClosed,   // the peer closed the connection
    kTimeout,  // the idle limit passed
    kStopped,  // ServerRunFlag was cleared
    kError,    // the socket reported an error
};

// Waits until the socket is readable (or has hung up: the receive that
// follows tells which). kTimeout once more than the idle limit of silent
// slices passed, kStopped when ServerRunFlag is cleared.
IoStatus WaitReadable(int fd, const SocketTimeouts& timeouts = kDefaultSocketTimeouts);

// One receive of up to `size` bytes into `data` (at least one byte on
// kOk, their number in `received`), waiting in slices while nothing is
// there. The buffer is the caller's, so a large one costs nothing per call.
IoStatus ReceiveSome(int fd, char* data, std::size_t size, std::size_t& received,
                     const SocketTimeouts& timeouts = kDefaultSocketTimeouts);

// Receives into `out` (replacing its contents). Normal and peek modes take
// what one receive gives, at most `size` bytes; exact mode returns kOk only
// with all `size` bytes, else `out` holds the bytes that did arrive.
IoStatus ReceiveWithTimeout(int fd, std::string& out, std::size_t size, ReceiveMode mode,
                            const SocketTimeouts& timeouts = kDefaultSocketTimeouts);

// Outcome of one line read.
enum class LineStatus {
    kLine,     // a whole line, ending in CR LF
    kTooLong,  // ReceiveLine: the first capacity - 3 bytes of a longer line, CR LF
               // appended; the rest stays in the socket and comes as the next
               // "line". LineReader: the line was discarded through its end.
    kClosed,
    kTimeout,
    kStopped,
    kError,
};

// True for the two results that carry a line.
inline bool HasLine(LineStatus status) { return status == LineStatus::kLine || status == LineStatus::kTooLong; }

// Reads one line. The line is returned ending in CR LF whatever the peer
// sent ("abc" LF and "abc" CR LF both give "abc" CR LF; only one CR before
// the LF is dropped). Only the bytes of the line are taken from the socket
// (it peeks first), so a caller may go on with raw reads after a line. At
// most `capacity` - 3 bytes of text come back at once, so memory stays
// bounded whatever the peer sends; a capacity of 3 or less reads nothing
// and gives kError.
LineStatus ReceiveLine(int fd, std::string& line, std::size_t capacity = kTextLineCapacity,
                       const SocketTimeouts& timeouts = kDefaultSocketTimeouts);

// ReceiveLine at the text-line capacity with the trailing CR LF removed.
LineStatus ReceiveTextLine(int fd, std::string& line, const SocketTimeouts& timeouts = kDefaultSocketTimeouts);

// Sends the whole block, waiting in slices for the socket to accept more.
// Fails when ServerRunFlag is cleared or when the peer takes nothing for
// longer than the idle limit (a client that stops reading cannot hold its
// session for ever). Short sends are continued; the block is dumped once
// it is all sent. Every byte the socket accepts is reported to `activity`.
bool SendBuffer(int fd, std::string_view data, const SocketTimeouts& timeouts = kDefaultSocketTimeouts,
                SessionActivity& activity = NoSessionActivity());
// The same, and the whole block must be taken by `due`, however the peer
// takes its bytes; false with errno ETIMEDOUT after that.
bool SendBufferBy(int fd, std::string_view data, const SocketTimeouts& timeouts,
                  std::chrono::steady_clock::time_point due);

// The same, under the names the sessions use.
inline bool SendText(int fd, std::string_view text) { return SendBuffer(fd, text); }

// Longest text SendLine passes on: a 4097-byte line buffer holds 4096
// characters, so a longer text is cut (and the cut is logged).
inline constexpr std::size_t kMaxSendLineLength = 4096;

// Sends the text, followed by CR LF when `append_crlf` is set. A text plus
// CR LF longer than kMaxSendLineLength is cut to that length, logged as a
// buffer overflow and sent all the same.
bool SendLine(int fd, std::string_view text, bool append_crlf = true,
              SessionActivity& activity = NoSessionActivity());

// Result codes of RelayBetweenSockets.
enum RelayResult : int {
    kRelayClosed = 0,        // one side closed (or its receive failed), or the idle limit passed
    kRelayWaitFailed = 10,   // waiting for the two sockets failed
    kRelaySendAFailed = 12,  // sending data from a to b failed
    kRelayReceiveA = 13,     // receiving from a failed without a close
    kRelayReceiveB = 14,     // the same for b
    kRelaySendBFailed = 15,  // sending data from b to a failed
    kRelayStopped = 16,      // ServerRunFlag was cleared
};

// Copies data both ways in blocks of up to 4096 bytes until one side
// closes, the idle limit passes or ServerRunFlag is cleared. What `socket_a`
// receives and is sent is reported to `activity` (a is the client's side).
int RelayBetweenSockets(int socket_a, int socket_b, const SocketTimeouts& timeouts = kDefaultRelayTimeouts,
                        SessionActivity& activity = NoSessionActivity());

}  // namespace quorvex
