// What a session tells the job slot it runs in, so that the slot can tell
// a client at work from one that only holds its connection: progress (a
// command that changed something: a login, a recipient, message text, a
// mark), the bytes its connection moved either way, whether the session is
// waiting for the client's next bytes, and the end user's address that a
// web-mail front end forwarded. A session that runs in no slot reports to
// nobody.
#pragma once

#include <cstdint>
#include <string_view>

namespace quorvex {

class SessionActivity {
public:
    virtual ~SessionActivity() = default;
    virtual void Progress() {}
    virtual void Waiting(bool waiting) { static_cast<void>(waiting); }
    // Bytes received from the client, whatever they were.
    virtual void Received(std::uint64_t bytes) { static_cast<void>(bytes); }
    // Bytes the connection's socket accepted for the client, every reply
    // and message alike; the slot counts them as moved once the client has
    // taken them, so that a client cannot look busy by not reading.
    virtual void Sent(std::uint64_t bytes) { static_cast<void>(bytes); }
    // The client a web-mail front end's connection speaks for from now on
    // (its own address again when it forwards none).
    virtual void ForwardedClient(std::string_view address) { static_cast<void>(address); }
};

// Where the reports of a session without a slot go: nowhere.
inline SessionActivity& NoSessionActivity() {
    static SessionActivity none;
    return none;
}

}  // namespace quorvex
