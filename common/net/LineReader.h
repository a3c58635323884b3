// The bounded line reader of the servers: command lines and message text
// from a connected socket, through a LineBuffer (whose header states the
// line-end and length rules). SMTP, POP3 and the account server read every
// client line with it.
//
// Time: a whole line must arrive within the idle limit, counted from the
// moment the reader starts waiting for it; bytes that arrive meanwhile do
// not restart the clock, so a client that sends a byte now and then cannot
// hold its session. The limit is asked for again at every slice, so a
// limit that drops (the job table's, while the server is busy) applies to
// lines already being waited for. Clearing ServerRunFlag ends a wait
// within one slice.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string_view>

#include "common/net/LineBuffer.h"
#include "common/net/SessionActivity.h"
#include "common/net/SocketIo.h"

namespace quorvex {

// The current idle limit of a session.
using IdleLimit = std::function<std::chrono::milliseconds()>;

class LineReader {
public:
    // The idle limit is `idle_limit()` when given, else the slices of
    // `timeouts` (slice_ms × idle_slices). Nothing here closes `fd`.
    explicit LineReader(int fd, SocketTimeouts timeouts = kDefaultSocketTimeouts, IdleLimit idle_limit = {},
                        std::size_t max_line = kMaxCommandLine);

    // The next command line (kLine), a too-long line that has been
    // discarded through its line end (kTooLong, `line` empty), or why none
    // came: kClosed, kTimeout, kStopped or kError. A line the client never
    // finished is not handed out. `line` stays valid until the next call.
    LineStatus ReadLine(std::string_view& line);

    // Waits for more bytes of the line being read and appends them to
    // buffer(): kLine when some arrived, else why none did. For sessions
    // that take their lines from buffer() themselves.
    LineStatus Fill();

    LineBuffer& buffer() { return buffer_; }

    // Told when the reader starts and stops waiting for the client.
    void set_activity(SessionActivity& activity) { activity_ = &activity; }

private:
    std::chrono::milliseconds CurrentLimit() const;

    int fd_;
    SocketTimeouts timeouts_;
    IdleLimit idle_limit_;
    SessionActivity* activity_ = &NoSessionActivity();
    LineBuffer buffer_;
    std::unique_ptr<char[]> block_;
    std::uint64_t seen_handed_out_ = 0;
    std::chrono::steady_clock::time_point line_started_;
};

}  // namespace quorvex
